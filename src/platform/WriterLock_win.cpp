#include "platform/WriterLock.h"

#include <windows.h>

namespace sparkloom::platform {

namespace {

// Windows locks bytes, and a locked byte cannot be written: the lock sits far
// beyond anything a package holds, so the writer's own stream is not hindered.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

bool Lock(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | flags, 0, 1, 0, &at) != 0;
}

bool DeletePending(HANDLE file) {
    FILE_STANDARD_INFO info{};
    return !GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info) ||
           info.DeletePending;
}

}  // namespace

WriterLock::~WriterLock() {
    Release();
}

std::error_code WriterLock::Create(const std::filesystem::path& path) {
    Release();
    // Sharing everything, delete included, so the writer's stream opens it
    // and the finished file can be renamed while the lock is still held.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
            return std::make_error_code(std::errc::file_exists);
        }
        return {static_cast<int>(error), std::system_category()};
    }
    if (!Lock(file, 0)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        return {static_cast<int>(error), std::system_category()};
    }
    if (DeletePending(file)) {
        CloseHandle(file);
        return std::make_error_code(std::errc::file_exists);
    }
    mHandle = reinterpret_cast<intptr_t>(file);
    return {};
}

void WriterLock::Release() {
    if (mHandle != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(mHandle));  // which drops the lock
        mHandle = -1;
    }
}

bool RemoveIfAbandoned(const std::filesystem::path& path) {
    // A writer's open stream shares no delete, so this open already fails
    // while one writes.
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | DELETE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    bool removed = false;
    if (Lock(file, LOCKFILE_FAIL_IMMEDIATELY)) {
        FILE_DISPOSITION_INFO disposition{};
        disposition.DeleteFile = TRUE;
        removed = SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                             sizeof disposition) != 0;
    }
    CloseHandle(file);
    return removed;
}

}  // namespace sparkloom::platform
