#include "zip/Zipper.h"

#include <sys/stat.h>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <limits>
#include <stdexcept>

#include "zip/DosAttributes.h"

namespace sparkloom {

namespace {

// Reads exactly size bytes into data; false on a read error or an early end.
bool ReadFully(QFile& file, char* data, qint64 size) {
    while (size > 0) {
        const qint64 got = file.read(data, size);
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= got;
    }
    return true;
}

}  // namespace

Zipper::Zipper(QObject* parent) : QObject(parent) {
    tmrNext.setSingleShot(true);
    tmrNext.setInterval(kDefaultTickInterval);
    connect(&tmrNext, &QTimer::timeout, this, &Zipper::Tick);
}

Zipper::~Zipper() = default;

int Zipper::TickInterval() const {
    return tmrNext.interval();
}

void Zipper::SetTickInterval(int milliseconds) {
    tmrNext.setInterval(milliseconds);
}

bool Zipper::AddFile(const QString& SourceFile, const QString& AsFile, int32_t ZMethod,
                     int32_t ZLevel, int32_t Attrs, const QString& Comment) {
    const auto ownAttrs = DosAttributes(SourceFile);
    // Only regular files can be read as a byte stream of known length; a fifo
    // would block the window on open.
    if (!ownAttrs || (*ownAttrs & (kDosDirectory | kDosSystem)) != 0) {
        return true;
    }
    const qint64 size = QFileInfo(SourceFile).size();
    if (size > std::numeric_limits<int32_t>::max() - qint64{mBytesToZip}) {
        throw std::overflow_error("Zipper::AddFile: queued bytes exceed 2147483647");
    }

    auto entry = std::make_shared<ZipFile>();
    entry->SourceFile = SourceFile;
    if (AsFile.isEmpty()) {
        const auto cut = std::max(SourceFile.lastIndexOf(u'\\'), SourceFile.lastIndexOf(u'/'));
        entry->AsFile = SourceFile.mid(cut + 1);
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

bool Zipper::Zip(const QString& FilePath, int32_t AppendMode) {
    if (mZipping) {
        mResult = 0;
        mFailed = QStringLiteral("Already mZipping");
        return true;
    }
    mBytesZipped = 0;
    if (mWriter.OpenZip(FilePath, AppendMode)) {
        mFailed = QStringLiteral("OpenZip");
        mResult = mWriter.Result();
        ClearFiles();
        return true;
    }
    mArchivePath = FilePath;
    struct stat st {};
    const bool known = ::stat(QFile::encodeName(FilePath).constData(), &st) == 0;
    mArchiveDevice = known ? static_cast<quint64>(st.st_dev) : 0;
    mArchiveInode = known ? static_cast<quint64>(st.st_ino) : 0;
    mZipping = true;
    if (mDeflateThreads > 0) {
        mAhead = std::make_unique<DeflateAhead>(
            std::vector<std::shared_ptr<const ZipFile>>(mFiles.begin(), mFiles.end()),
            mDeflateThreads);
    }
    tmrNext.start();
    return false;
}

bool Zipper::ArchiveStillAtItsPath() const {
    if (mArchiveInode == 0) {
        return true;  // nothing to compare with
    }
    struct stat st {};
    return ::stat(QFile::encodeName(mArchivePath).constData(), &st) == 0 &&
           static_cast<quint64>(st.st_dev) == mArchiveDevice &&
           static_cast<quint64>(st.st_ino) == mArchiveInode;
}

void Zipper::Tick() {
    tmrNext.stop();
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
                tmrNext.start();
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
            const bool changed = !mCancel && mSource->size() != mCurrentFile->ByteCount;
            mSource.reset();
            if (changed) {
                EndWithError("ReadFile", 0);
                return;
            }
            if (mWriter.CloseFileInZip()) {
                EndWithError("CloseFileInZip", mWriter.Result());
                return;
            }
            emit EndFile();
            break;
        }
        const int32_t size = std::min(mRemaining, kChunkSize);
        mBuffer.resize(static_cast<size_t>(size));  // shrinks for the last chunk only, in place
        mBytesZipped += size;
        mRemaining -= size;
        if (!ReadFully(*mSource, mBuffer.data(), size)) {
            EndWithError("ReadFile", 0);
            return;
        }
        if (mWriter.WriteBytes(mBuffer)) {
            EndWithError("WriteBytes", mWriter.Result());
            return;
        }
        emit Progress();
    }
    tmrNext.start();
}

// Between files: closes the archive when the queue is done, otherwise makes the
// next entry current and either opens it for streaming or, when it was deflated
// ahead, writes it whole.
Zipper::Next Zipper::StartNextFile() {
    if (mFiles.empty()) {
        mAhead.reset();
        if (mWriter.CloseZip()) {
            EndWithError("CloseZip", mWriter.Result());
            return Next::Stop;
        }
        // Bytes written after the archive's folder was removed or the file moved
        // went where nobody finds them: that is no finished package.
        if (!ArchiveStillAtItsPath()) {
            EndWithError("CloseZip", ZipWriter::kCannotOpenArchive);
            return Next::Stop;
        }
        std::vector<char>().swap(mBuffer);
        mBytesToZip = 0;
        mZipping = false;
        emit Complete(mCancel);
        mCancel = false;
        return Next::Stop;
    }
    const auto entry = mFiles.front();
    mCurrentFile = entry;
    emit StartFile();
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
    auto source = std::make_unique<QFile>(entry->SourceFile);
    if (!source->open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        EndWithError("OpenFile", 0);
        return Next::Stop;
    }
    if (source->size() != entry->ByteCount) {
        EndWithError("ReadFile", 0);
        return Next::Stop;
    }
    if (mWriter.OpenFileInZip(entry->AsFile, entry->ZMethod, entry->ZLevel, entry->Attrs,
                              entry->Comment)) {
        EndWithError("OpenFileInZip", mWriter.Result());
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
        EndWithError("OpenFile", 0);
        return false;
    }
    if (deflated.state != DeflateAhead::State::Deflated) {
        EndWithError("ReadFile", 0);
        return false;
    }
    if (mWriter.OpenDeflatedFileInZip(entry.AsFile, entry.ZLevel, entry.Attrs, entry.Comment)) {
        EndWithError("OpenFileInZip", mWriter.Result());
        return false;
    }
    if (!deflated.data.isEmpty() &&
        mWriter.WriteBytes(std::span<const char>(deflated.data.constData(),
                                                 static_cast<size_t>(deflated.data.size())))) {
        EndWithError("WriteBytes", mWriter.Result());
        return false;
    }
    if (mWriter.CloseDeflatedFileInZip(deflated.crc, deflated.size)) {
        EndWithError("CloseFileInZip", mWriter.Result());
        return false;
    }
    if (entry.ByteCount > 0) {
        mBytesZipped += entry.ByteCount;
        emit Progress();
    }
    emit EndFile();
    return true;
}

// Ends the run on a failed step. The source-file steps "OpenFile" and "ReadFile"
// (a source gone, unreadable, or of another length than when queued) carry
// Result 0, as no writer call failed. Unlike a completed run this also drops a
// pending cancel and closes the archive (entry first), so the next Zip works.
void Zipper::EndWithError(const char* step, int32_t result) {
    mSource.reset();
    mAhead.reset();
    mFailed = QString::fromLatin1(step);
    mResult = result;
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
    emit Error();
}

}  // namespace sparkloom
