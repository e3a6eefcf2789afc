#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>

namespace sparkloom::platform {

// A file created for one writer, who holds a lock on it until Release, so that
// a later run can tell a file still being written from one a killed run left:
// the lock goes with the writer's process, whatever ended it.
class WriterLock {
public:
    WriterLock() = default;
    ~WriterLock();
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;

    // Creates path, which must not exist yet, and takes its lock. An error
    // equal to std::errc::file_exists asks for another name: the name was
    // taken, or a cleaner removed the file before the lock was taken.
    std::error_code Create(const std::filesystem::path& path);
    void Release();

private:
    intptr_t mHandle = -1;
};

// Removes path only when no writer holds its lock, deciding and removing while
// holding that lock itself; true when it was removed.
bool RemoveIfAbandoned(const std::filesystem::path& path);

}  // namespace sparkloom::platform
