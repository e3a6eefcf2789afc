#include "platform/FileLock.h"

#include <windows.h>

namespace sparkloom::platform {

// A handle that shares nothing: every other open fails until the holder closes
// it, which the system does when the process ends. The handle is not inherited.
bool FileLock::TryLock(const std::filesystem::path& path) {
    Unlock();
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    mHandle = reinterpret_cast<intptr_t>(file);
    return true;
}

void FileLock::Unlock() {
    if (mHandle != kNone) {
        CloseHandle(reinterpret_cast<HANDLE>(mHandle));
        mHandle = kNone;
    }
}

}  // namespace sparkloom::platform
