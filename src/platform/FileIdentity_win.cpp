#include "platform/FileIdentity.h"

#include <windows.h>

namespace sparkloom::platform {

std::optional<FileFacts> FactsOf(const std::filesystem::path& path) {
    if (path.empty()) {
        return std::nullopt;
    }
    // Opening with backup semantics and no access rights reaches folders too,
    // and follows links as the POSIX stat does.
    HANDLE file =
        CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(file, &info) != 0;
    const DWORD type = GetFileType(file);
    CloseHandle(file);
    if (!known) {
        return std::nullopt;
    }
    FileFacts facts;
    facts.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileFacts::Kind::Directory
                 : type == FILE_TYPE_DISK                           ? FileFacts::Kind::Regular
                                                                    : FileFacts::Kind::Other;
    facts.readOnly = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    facts.volume = info.dwVolumeSerialNumber;
    facts.file = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    return facts;
}

std::optional<FileFacts::Kind> KindOf(const std::filesystem::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (path.empty() || !GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // A link's own attributes say nothing of what it leads to.
        const auto facts = FactsOf(path);
        return facts ? std::optional(facts->kind) : std::nullopt;
    }
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? FileFacts::Kind::Directory
           : (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE)  ? FileFacts::Kind::Other
                                                              : FileFacts::Kind::Regular;
}

std::error_code FlushToDisk(const std::filesystem::path& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {static_cast<int>(GetLastError()), std::system_category()};
    }
    std::error_code error;
    if (!FlushFileBuffers(file)) {
        error = {static_cast<int>(GetLastError()), std::system_category()};
    }
    CloseHandle(file);
    return error;
}

}  // namespace sparkloom::platform
