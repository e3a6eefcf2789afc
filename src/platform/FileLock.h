#pragma once

#include <cstdint>
#include <filesystem>

namespace sparkloom::platform {

// A lock on a file that the system lets go of when the process holding it
// ends, however it ends: a live owner is told from a crashed one by the lock,
// not by the file's age. Children the holder starts do not inherit it.
class FileLock {
public:
    FileLock() = default;
    ~FileLock() { Unlock(); }
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes the lock, making the file when it is missing; false when another
    // holder has it (another process, or another FileLock of this one) or the
    // file cannot be opened.
    bool TryLock(const std::filesystem::path& path);
    void Unlock();
    bool Held() const { return mHandle != kNone; }

private:
    static constexpr intptr_t kNone = -1;
    intptr_t mHandle = kNone;
};

}  // namespace sparkloom::platform
