#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zip/ZipFile.h"

namespace sparkloom {

// Deflates the queued files on worker threads ahead of the one thread that
// writes the archive, so packing uses every core. The stream is what minizip
// itself makes of the same bytes (raw deflate, 15-bit window, memory level 8),
// so the archive holds the same data either way. Memory stays bounded: the
// files deflated but not yet taken never exceed a budget, and large files are
// left to the writer's own streaming road.
class DeflateAhead {
public:
    enum class State {
        NotAhead,    // not deflated here: the writer streams it itself
        Deflated,    // data, crc and size are the entry's
        OpenFailed,  // the source could not be opened
        ReadFailed,  // unreadable, or of another length than when it was queued
    };
    struct Entry {
        State state = State::NotAhead;
        std::string data;
        uint32_t crc = 0;
        uint32_t size = 0;
        std::string reason;  // the system's words for OpenFailed or ReadFailed, if any
    };

    static constexpr int64_t kLargestFile = 2 * 1024 * 1024;
    static constexpr int64_t kBudget = 8 * 1024 * 1024;

    DeflateAhead(std::vector<std::shared_ptr<const ZipFile>> files, int threads);
    ~DeflateAhead();
    DeflateAhead(const DeflateAhead&) = delete;
    DeflateAhead& operator=(const DeflateAhead&) = delete;

    // The next entry of the queue as deflated, waiting for it if need be.
    // Entries are taken in queue order; one that is not the next in the queue
    // this was made from (the queue changed since) comes back NotAhead.
    Entry Take(const ZipFile* file);

private:
    struct Slot {
        Entry entry;
        bool done = false;
    };
    static bool IsAhead(const ZipFile& file);
    void Work();
    Entry Deflate(const ZipFile& file) const;

    std::vector<std::shared_ptr<const ZipFile>> mFiles;
    std::vector<Slot> mSlots;
    std::mutex mLock;
    std::condition_variable mChanged;
    size_t mNextToClaim = 0;
    size_t mNextToTake = 0;
    int64_t mHeld = 0;  // source bytes of the files claimed and not yet taken
    bool mStop = false;
    std::vector<std::thread> mWorkers;
};

}  // namespace sparkloom
