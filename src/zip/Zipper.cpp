#include "zip/Zipper.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "common/Files.h"
#include "common/Text.h"
#include "platform/FileIdentity.h"
#include "zip/DosAttributes.h"

namespace sparkloom {

namespace {

// Room an entry's headers and the archive's closing directory may take beyond the data.
constexpr uint64_t kArchiveOverhead = 65536;

// A write that fails on a full disk is told by the disk, not by the call's
// error, which differs between systems and file systems.
std::string WriteFailureReason(const std::string& archive, uint64_t need, std::string reason) {
    const std::string full =
        FullDiskReason(Utf8Of(PathFromUtf8(archive).parent_path()), need + kArchiveOverhead);
    return full.empty() ? reason : full;
}

// A copy runs, so a handler may replace or clear its own event.
void Emit(const std::function<void()>& event) {
    if (event) {
        const std::function<void()> handler = event;
        handler();
    }
}

}  // namespace

Zipper::Zipper() = default;

Zipper::~Zipper() = default;

bool Zipper::AddFile(const std::string& SourceFile, const std::string& AsFile, int32_t ZMethod,
                     int32_t ZLevel, int32_t Attrs, const std::string& Comment) {
    const auto ownAttrs = DosAttributes(SourceFile);
    // Only regular files can be read as a byte stream of known length; a fifo
    // would block the window on open.
    if (!ownAttrs || (*ownAttrs & (kDosDirectory | kDosSystem)) != 0) {
        return true;
    }
    std::error_code error;
    const uintmax_t measured = std::filesystem::file_size(PathFromUtf8(SourceFile), error);
    if (error) {
        return true;  // gone since its attributes were read
    }
    constexpr int64_t kMost = kMostBytes;
    if (measured > static_cast<uintmax_t>(kMost - int64_t{mBytesToZip})) {
        // What the caller shows the user: the limit is the builder's, not the disk's.
        throw std::overflow_error("the queued bytes would pass the builder's 2 GiB total (a " +
                                  std::string("signed 32-bit count, at most ") +
                                  std::to_string(kMost) +
                                  " bytes): " + std::to_string(mBytesToZip) +
                                  " are queued and this file adds " + std::to_string(measured));
    }
    const auto size = static_cast<int64_t>(measured);

    auto entry = std::make_shared<ZipFile>();
    entry->SourceFile = SourceFile;
    if (AsFile.empty()) {
        const size_t cut = SourceFile.find_last_of("\\/");
        entry->AsFile = cut == std::string::npos ? SourceFile : SourceFile.substr(cut + 1);
    } else {
        entry->AsFile = AsFile;
    }
    entry->ZMethod = ZMethod;
    entry->ZLevel = ZLevel;
    entry->Attrs = Attrs == 0 ? *ownAttrs : Attrs;
    entry->Comment = Comment;
    entry->ByteCount = static_cast<int32_t>(size);
    mBytesToZip += entry->ByteCount;
    mFiles.push_back(std::move(entry));
    return false;
}

void Zipper::ClearFiles() {
    mFiles.clear();
}

void Zipper::Cancel() {
    if (mZipping) {
        mCancel = true;
    }
}

bool Zipper::Zip(const std::string& FilePath, int32_t AppendMode) {
    if (mZipping) {
        mResult = 0;
        mFailed = "Already mZipping";
        mReason.clear();
        return true;
    }
    mBytesZipped = 0;
    if (mWriter.OpenZip(FilePath, AppendMode)) {
        mFailed = "OpenZip";
        mResult = mWriter.Result();
        mReason = WriteFailureReason(FilePath, 0, mWriter.Reason());
        ClearFiles();
        return true;
    }
    mArchivePath = FilePath;
    const auto facts = platform::FactsOf(PathFromUtf8(FilePath));
    mArchiveKnown = facts.has_value();
    mArchiveVolume = facts ? facts->volume : 0;
    mArchiveFile = facts ? facts->file : 0;
    mZipping = true;
    if (mDeflateThreads > 0) {
        mAhead = std::make_unique<DeflateAhead>(
            std::vector<std::shared_ptr<const ZipFile>>(mFiles.begin(), mFiles.end()),
            mDeflateThreads);
    }
    return false;
}

bool Zipper::ArchiveStillAtItsPath() const {
    if (!mArchiveKnown) {
        return true;  // nothing to compare with
    }
    const auto facts = platform::FactsOf(PathFromUtf8(mArchivePath));
    return facts && facts->volume == mArchiveVolume && facts->file == mArchiveFile;
}

void Zipper::Tick() {
    if (!mZipping) {
        return;  // a stray direct call between runs
    }
    if (!mSource) {
        switch (StartNextFile()) {
            case Next::Stop:
                return;
            case Next::Written:
                if (mCancel) {
                    ClearFiles();
                }
                return;
            case Next::Streaming:
                break;
        }
    }
    if (mCancel) {
        ClearFiles();
        mRemaining = 0;
    }
    for (int chunk = 0; chunk < kChunksPerTick; ++chunk) {
        if (mRemaining == 0) {
            // A file whose length moved while it was read is not packed as if
            // nothing happened; a cut by Cancel is meant to be short.
            const bool changed = !mCancel && mSource->Size() != mCurrentFile->ByteCount;
            mSource.reset();
            if (changed) {
                EndWithError("ReadFile", 0, {});
                return;
            }
            if (mWriter.CloseFileInZip()) {
                EndWithError("CloseFileInZip", mWriter.Result(), mWriter.Reason());
                return;
            }
            Emit(Events.EndFile);
            break;
        }
        const int32_t size = std::min(mRemaining, kChunkSize);
        mBuffer.resize(static_cast<size_t>(size));  // shrinks for the last chunk only, in place
        mBytesZipped += size;
        mRemaining -= size;
        if (!mSource->Read(mBuffer.data(), size)) {
            EndWithError("ReadFile", 0, mSource->Reason());
            return;
        }
        if (mWriter.WriteBytes(mBuffer)) {
            EndWithError("WriteBytes", mWriter.Result(), mWriter.Reason());
            return;
        }
        Emit(Events.Progress);
    }
}

// Between files: closes the archive when the queue is done, otherwise makes the
// next entry current and either opens it for streaming or, when it was deflated
// ahead, writes it whole.
Zipper::Next Zipper::StartNextFile() {
    if (mFiles.empty()) {
        mAhead.reset();
        if (mWriter.CloseZip()) {
            EndWithError("CloseZip", mWriter.Result(), mWriter.Reason());
            return Next::Stop;
        }
        // Bytes written after the archive's folder was removed or the file moved
        // went where nobody finds them: that is no finished package.
        if (!ArchiveStillAtItsPath()) {
            EndWithError("CloseZip", ZipWriter::kCannotOpenArchive, {});
            return Next::Stop;
        }
        std::vector<char>().swap(mBuffer);
        mBytesToZip = 0;
        mZipping = false;
        const bool canceled = mCancel;
        mCancel = false;
        if (Events.Complete) {
            const std::function<void(bool)> handler = Events.Complete;
            handler(canceled);
        }
        return Next::Stop;
    }
    const auto entry = mFiles.front();
    mCurrentFile = entry;
    Emit(Events.StartFile);
    if (!mFiles.empty() && mFiles.front() == entry) {
        mFiles.pop_front();  // a StartFile handler may have emptied the queue
    }
    if (mAhead) {
        DeflateAhead::Entry deflated = mAhead->Take(entry.get());
        if (deflated.state != DeflateAhead::State::NotAhead) {
            return WriteDeflated(*entry, std::move(deflated)) ? Next::Written : Next::Stop;
        }
    }

    // The source is opened before the entry, so a file that is gone or has
    // changed since it was queued leaves no entry with the wrong bytes behind.
    auto source = std::make_unique<SourceReader>();
    if (!source->Open(entry->SourceFile)) {
        EndWithError("OpenFile", 0, source->Reason());
        return Next::Stop;
    }
    if (source->Size() != entry->ByteCount) {
        EndWithError("ReadFile", 0, {});
        return Next::Stop;
    }
    if (mWriter.OpenFileInZip(entry->AsFile, entry->ZMethod, entry->ZLevel, entry->Attrs,
                              entry->Comment)) {
        EndWithError("OpenFileInZip", mWriter.Result(), mWriter.Reason());
        return Next::Stop;
    }
    mSource = std::move(source);
    mRemaining = entry->ByteCount;
    mBuffer.resize(static_cast<size_t>(std::min(mRemaining, kChunkSize)));
    return Next::Streaming;
}

// The same steps and events as streaming the file, in one go; false when the
// run ended with an error.
bool Zipper::WriteDeflated(const ZipFile& entry, DeflateAhead::Entry deflated) {
    if (deflated.state == DeflateAhead::State::OpenFailed) {
        EndWithError("OpenFile", 0, std::move(deflated.reason));
        return false;
    }
    if (deflated.state != DeflateAhead::State::Deflated) {
        EndWithError("ReadFile", 0, std::move(deflated.reason));
        return false;
    }
    if (mWriter.OpenDeflatedFileInZip(entry.AsFile, entry.ZLevel, entry.Attrs, entry.Comment)) {
        EndWithError("OpenFileInZip", mWriter.Result(), mWriter.Reason());
        return false;
    }
    if (!deflated.data.empty() && mWriter.WriteBytes(deflated.data)) {
        EndWithError("WriteBytes", mWriter.Result(), mWriter.Reason());
        return false;
    }
    if (mWriter.CloseDeflatedFileInZip(deflated.crc, deflated.size)) {
        EndWithError("CloseFileInZip", mWriter.Result(), mWriter.Reason());
        return false;
    }
    if (entry.ByteCount > 0) {
        mBytesZipped += entry.ByteCount;
        Emit(Events.Progress);
    }
    Emit(Events.EndFile);
    return true;
}

// Ends the run on a failed step. The source-file steps "OpenFile" and "ReadFile"
// (a source gone, unreadable, or of another length than when queued) carry
// Result 0, as no writer call failed. Unlike a completed run this also drops a
// pending cancel and closes the archive (entry first), so the next Zip works.
void Zipper::EndWithError(const char* step, int32_t result, std::string reason) {
    mSource.reset();
    mAhead.reset();
    mFailed = step;
    mResult = result;
    // Only the writer's steps carry a result; a source file's failure is not the disk's.
    mReason = result == 0 ? std::move(reason)
                          : WriteFailureReason(mArchivePath,
                                               mCurrentFile && mCurrentFile->ByteCount > 0
                                                   ? static_cast<uint64_t>(mCurrentFile->ByteCount)
                                                   : 0,
                                               std::move(reason));
    ClearFiles();
    std::vector<char>().swap(mBuffer);
    mBytesToZip = 0;
    mZipping = false;
    mCancel = false;
    mRemaining = 0;
    if (mWriter.IsFileOpen()) {
        mWriter.CloseFileInZip();  // the run has already failed; this close is best effort
    }
    if (mWriter.IsArchiveOpen()) {
        mWriter.CloseZip();
    }
    Emit(Events.Error);
}

}  // namespace sparkloom
