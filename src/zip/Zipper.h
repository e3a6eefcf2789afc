#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "zip/DeflateAhead.h"
#include "zip/ZipFile.h"
#include "zip/ZipWriter.h"

class QFile;

namespace sparkloom {

// Builds one archive from a queue of files in small timer ticks so the window
// stays live. Methods return true when they failed; Failed()/Result() say why.
class Zipper : public QObject {
    Q_OBJECT
public:
    static constexpr int32_t kChunkSize = 131072;
    static constexpr int kChunksPerTick = 10;
    static constexpr int kDefaultTickInterval = 16;

    explicit Zipper(QObject* parent = nullptr);
    ~Zipper() override;

    int32_t BytesToZip() const { return mBytesToZip; }
    int32_t BytesZipped() const { return mBytesZipped; }
    // The entry being written, or last written; null before the first.
    std::shared_ptr<const ZipFile> CurrentFile() const { return mCurrentFile; }
    QString Failed() const { return mFailed; }
    int32_t Result() const { return mResult; }
    bool Zipping() const { return mZipping; }
    // The path of the archive the last Zip created.
    QString ArchivePath() const { return mArchivePath; }
    int QueuedCount() const { return static_cast<int>(mFiles.size()); }

    int TickInterval() const;
    void SetTickInterval(int milliseconds);
    // With threads above 0, files are deflated on that many worker threads
    // ahead of the writer and each is written whole in one tick; 0, the
    // default, streams every file in chunks as the window's ticks need.
    int DeflateThreads() const { return mDeflateThreads; }
    void SetDeflateThreads(int threads) { mDeflateThreads = std::max(threads, 0); }

    // Throws std::overflow_error when the queued byte total would leave the
    // signed 32-bit range; nothing is queued then.
    bool AddFile(const QString& SourceFile, const QString& AsFile = QString(), int32_t ZMethod = 8,
                 int32_t ZLevel = -1, int32_t Attrs = 0, const QString& Comment = QString());
    void ClearFiles();
    void Cancel();
    bool Zip(const QString& FilePath, int32_t AppendMode = 0);

public slots:
    // One step of the run; the timer calls it, tests may call it directly.
    void Tick();

signals:
    void StartFile();
    void Progress();
    void EndFile();
    void Error();
    void Complete(bool Canceled);

private:
    enum class Next { Stop, Streaming, Written };
    Next StartNextFile();
    bool WriteDeflated(const ZipFile& entry, DeflateAhead::Entry deflated);
    void EndWithError(const char* step, int32_t result);
    bool ArchiveStillAtItsPath() const;

    ZipWriter mWriter;
    // Where the archive was created and which file it was, to notice at the end
    // when its path no longer leads to it (folder removed, file renamed).
    QString mArchivePath;
    quint64 mArchiveDevice = 0;
    quint64 mArchiveInode = 0;
    std::deque<std::shared_ptr<ZipFile>> mFiles;
    std::unique_ptr<QFile> mSource;  // stands for the file channel: null while no source is open
    std::vector<char> mBuffer;
    int32_t mRemaining = 0;
    int32_t mBytesToZip = 0;
    int32_t mBytesZipped = 0;
    bool mCancel = false;
    std::shared_ptr<const ZipFile> mCurrentFile;
    QString mFailed;
    int32_t mResult = 0;
    bool mZipping = false;
    int mDeflateThreads = 0;
    std::unique_ptr<DeflateAhead> mAhead;
    QTimer tmrNext;
};

}  // namespace sparkloom
