#include "platform/WriterLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace sparkloom::platform {

namespace {

// The file open as fd is still the one at path: a cleaner that held the lock
// first has unlinked it.
bool StillAt(int fd, const std::filesystem::path& path) {
    struct stat open {};
    struct stat named {};
    return ::fstat(fd, &open) == 0 && open.st_nlink > 0 && ::lstat(path.c_str(), &named) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

}  // namespace

WriterLock::~WriterLock() {
    Release();
}

std::error_code WriterLock::Create(const std::filesystem::path& path) {
    Release();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd < 0) {
        return {errno, std::generic_category()};
    }
    // Blocking: a cleaner that got in first holds it only for the unlink.
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            ::unlink(path.c_str());
            return {error, std::generic_category()};
        }
    }
    if (!StillAt(fd, path)) {
        ::close(fd);
        return std::make_error_code(std::errc::file_exists);
    }
    mHandle = fd;
    return {};
}

void WriterLock::Release() {
    if (mHandle >= 0) {
        ::close(static_cast<int>(mHandle));  // which drops the lock
        mHandle = -1;
    }
}

bool RemoveIfAbandoned(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    bool removed = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillAt(fd, path)) {
        removed = ::unlink(path.c_str()) == 0;
    }
    ::close(fd);
    return removed;
}

}  // namespace sparkloom::platform
