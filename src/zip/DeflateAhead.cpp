#include "zip/DeflateAhead.h"

#include <zlib.h>
#include <algorithm>

#include "zip/SourceReader.h"

namespace sparkloom {

namespace {

constexpr int64_t kReadPiece = 131072;

}  // namespace

DeflateAhead::DeflateAhead(std::vector<std::shared_ptr<const ZipFile>> files, int threads)
    : mFiles(std::move(files)), mSlots(mFiles.size()) {
    const int workers = std::clamp(threads, 1, 16);
    mWorkers.reserve(static_cast<size_t>(workers));
    for (int i = 0; i < workers; ++i) {
        mWorkers.emplace_back([this] { Work(); });
    }
}

DeflateAhead::~DeflateAhead() {
    {
        std::lock_guard<std::mutex> hold(mLock);
        mStop = true;
    }
    mChanged.notify_all();
    for (std::thread& worker : mWorkers) {
        worker.join();
    }
}

bool DeflateAhead::IsAhead(const ZipFile& file) {
    return file.ZMethod == Z_DEFLATED && file.ByteCount >= 0 && file.ByteCount <= kLargestFile;
}

DeflateAhead::Entry DeflateAhead::Take(const ZipFile* file) {
    std::unique_lock<std::mutex> hold(mLock);
    if (mNextToTake >= mFiles.size() || mFiles[mNextToTake].get() != file) {
        return {};
    }
    const size_t index = mNextToTake;
    if (!IsAhead(*file)) {
        ++mNextToTake;
        mChanged.notify_all();
        return {};
    }
    mChanged.wait(hold, [&] { return mSlots[index].done; });
    Entry entry = std::move(mSlots[index].entry);
    mHeld -= file->ByteCount;
    ++mNextToTake;
    mChanged.notify_all();
    return entry;
}

void DeflateAhead::Work() {
    std::unique_lock<std::mutex> hold(mLock);
    for (;;) {
        // The file the writer needs next may always start, so the budget can
        // never stall the run; any other waits until the budget has room.
        mChanged.wait(hold, [&] {
            while (mNextToClaim < mFiles.size() && !IsAhead(*mFiles[mNextToClaim])) {
                ++mNextToClaim;
            }
            return mStop || mNextToClaim >= mFiles.size() || mNextToClaim <= mNextToTake ||
                   mHeld + mFiles[mNextToClaim]->ByteCount <= kBudget;
        });
        if (mStop || mNextToClaim >= mFiles.size()) {
            return;
        }
        const size_t index = mNextToClaim++;
        const std::shared_ptr<const ZipFile> file = mFiles[index];
        mHeld += file->ByteCount;
        hold.unlock();
        Entry entry = Deflate(*file);
        hold.lock();
        mSlots[index].entry = std::move(entry);
        mSlots[index].done = true;
        mChanged.notify_all();
    }
}

// Reads the file as the writer would (its length must still be the queued one)
// and deflates it exactly as minizip does for method 8 at the entry's level.
DeflateAhead::Entry DeflateAhead::Deflate(const ZipFile& file) const {
    Entry entry;
    SourceReader source;
    if (!source.Open(file.SourceFile)) {
        entry.state = State::OpenFailed;
        entry.reason = source.Reason();
        return entry;
    }
    entry.state = State::ReadFailed;
    if (source.Size() != file.ByteCount) {
        return entry;
    }
    z_stream stream{};
    if (deflateInit2(&stream, file.ZLevel, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return entry;
    }
    std::string out(deflateBound(&stream, static_cast<uLong>(file.ByteCount)), '\0');
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    std::vector<char> piece(static_cast<size_t>(std::min<int64_t>(kReadPiece, file.ByteCount)));
    uLong crc = crc32(0, nullptr, 0);
    int64_t left = file.ByteCount;
    bool ok = true;
    while (ok && left > 0) {
        const int64_t want = std::min<int64_t>(left, kReadPiece);
        if (!source.Read(piece.data(), want)) {
            entry.reason = source.Reason();
            ok = false;
            break;
        }
        crc = crc32(crc, reinterpret_cast<const Bytef*>(piece.data()), static_cast<uInt>(want));
        stream.next_in = reinterpret_cast<Bytef*>(piece.data());
        stream.avail_in = static_cast<uInt>(want);
        ok = deflate(&stream, Z_NO_FLUSH) == Z_OK && stream.avail_in == 0;
        left -= want;
    }
    // deflateBound leaves room for the whole stream, so one finish ends it.
    ok = ok && deflate(&stream, Z_FINISH) == Z_STREAM_END;
    const uLong produced = stream.total_out;
    deflateEnd(&stream);
    // A file that grew since it was queued is no longer the file that was queued.
    if (!ok || source.Size() != file.ByteCount) {
        return entry;
    }
    out.resize(static_cast<size_t>(produced));
    out.shrink_to_fit();  // the budget counts what is kept, not deflateBound's room
    entry.state = State::Deflated;
    entry.data = std::move(out);
    entry.crc = static_cast<uint32_t>(crc);
    entry.size = static_cast<uint32_t>(file.ByteCount);
    return entry;
}

}  // namespace sparkloom
