#include "platform/FileLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sparkloom::platform {

// flock belongs to the open file, so a second open in this process is refused
// too, and the lock goes with the last descriptor, at the latest at exit.
bool FileLock::TryLock(const std::filesystem::path& path) {
    Unlock();
    const int file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        return false;
    }
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
        close(file);
        return false;
    }
    mHandle = file;
    return true;
}

void FileLock::Unlock() {
    if (mHandle != kNone) {
        close(static_cast<int>(mHandle));
        mHandle = kNone;
    }
}

}  // namespace sparkloom::platform
