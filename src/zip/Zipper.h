#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "zip/DeflateAhead.h"
#include "zip/SourceReader.h"
#include "zip/ZipFile.h"
#include "zip/ZipWriter.h"

namespace sparkloom {

// What a run tells its front-end, each called on the thread that calls Tick().
// Any may be left empty.
struct ZipperEvents {
    std::function<void()> StartFile;
    std::function<void()> Progress;
    std::function<void()> EndFile;
    std::function<void()> Error;
    std::function<void(bool Canceled)> Complete;
};

// Builds one archive from a queue of files in small steps so the front-end
// stays live: Zip() starts a run, then the front-end calls Tick() every
// TickInterval() milliseconds while Zipping() is true. Methods return true when
// they failed; Failed()/Result() say which step, Reason() why.
class Zipper {
public:
    static constexpr int32_t kChunkSize = 131072;
    static constexpr int kChunksPerTick = 10;
    static constexpr int kDefaultTickInterval = 16;
    // The most bytes one run packs: its counts are signed 32-bit.
    static constexpr int64_t kMostBytes = 2147483647;

    Zipper();
    ~Zipper();
    Zipper(const Zipper&) = delete;
    Zipper& operator=(const Zipper&) = delete;

    ZipperEvents Events;

    int32_t BytesToZip() const { return mBytesToZip; }
    int32_t BytesZipped() const { return mBytesZipped; }
    // The entry being written, or last written; null before the first.
    std::shared_ptr<const ZipFile> CurrentFile() const { return mCurrentFile; }
    std::string Failed() const { return mFailed; }
    int32_t Result() const { return mResult; }
    // The system's words for why the last run failed ("No space left on
    // device"); empty when none is known.
    std::string Reason() const { return mReason; }
    bool Zipping() const { return mZipping; }
    // The path of the archive the last Zip created.
    std::string ArchivePath() const { return mArchivePath; }
    int QueuedCount() const { return static_cast<int>(mFiles.size()); }

    // The pace, in milliseconds, at which the front-end is asked to call Tick().
    int TickInterval() const { return mTickInterval; }
    void SetTickInterval(int milliseconds) { mTickInterval = milliseconds; }
    // With threads above 0, files are deflated on that many worker threads
    // ahead of the writer and each is written whole in one tick; 0, the
    // default, streams every file in chunks as the front-end's ticks need.
    int DeflateThreads() const { return mDeflateThreads; }
    void SetDeflateThreads(int threads) { mDeflateThreads = std::max(threads, 0); }

    // Paths are UTF-8. Throws std::overflow_error when the queued byte total
    // would leave the signed 32-bit range; nothing is queued then.
    bool AddFile(const std::string& SourceFile, const std::string& AsFile = {}, int32_t ZMethod = 8,
                 int32_t ZLevel = -1, int32_t Attrs = 0, const std::string& Comment = {});
    void ClearFiles();
    void Cancel();
    bool Zip(const std::string& FilePath, int32_t AppendMode = 0);

    // One step of the run; the front-end calls it, paced by TickInterval().
    void Tick();

private:
    enum class Next { Stop, Streaming, Written };
    Next StartNextFile();
    bool WriteDeflated(const ZipFile& entry, DeflateAhead::Entry deflated);
    void EndWithError(const char* step, int32_t result, std::string reason);
    bool ArchiveStillAtItsPath() const;

    ZipWriter mWriter;
    // Where the archive was created and which file it was, to notice at the end
    // when its path no longer leads to it (folder removed, file renamed).
    std::string mArchivePath;
    bool mArchiveKnown = false;
    uint64_t mArchiveVolume = 0;
    uint64_t mArchiveFile = 0;
    std::deque<std::shared_ptr<ZipFile>> mFiles;
    std::unique_ptr<SourceReader> mSource;  // null while no source is open
    std::vector<char> mBuffer;
    int32_t mRemaining = 0;
    int32_t mBytesToZip = 0;
    int32_t mBytesZipped = 0;
    bool mCancel = false;
    std::shared_ptr<const ZipFile> mCurrentFile;
    std::string mFailed;
    int32_t mResult = 0;
    std::string mReason;
    bool mZipping = false;
    int mTickInterval = kDefaultTickInterval;
    int mDeflateThreads = 0;
    std::unique_ptr<DeflateAhead> mAhead;
};

}  // namespace sparkloom
