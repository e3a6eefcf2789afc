#include "platform/FileMove.h"

#include <windows.h>
// After windows.h, which it needs.
#include <restartmanager.h>

#include "platform/WideText_win.h"

namespace sparkloom::platform {

namespace {

std::error_code LastError() {
    return {static_cast<int>(GetLastError()), std::system_category()};
}

}  // namespace

std::error_code MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return LastError();
    }
    return {};
}

std::error_code MoveToFreeName(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (!MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) {
        return LastError();
    }
    return {};
}

bool IsHeldError(const std::error_code& error) {
    if (error.category() != std::system_category()) {
        return false;
    }
    const DWORD code = static_cast<DWORD>(error.value());
    return code == ERROR_SHARING_VIOLATION || code == ERROR_ACCESS_DENIED ||
           code == ERROR_LOCK_VIOLATION;
}

std::vector<std::string> HoldersOf(const std::filesystem::path& path) {
    // Loaded when asked, so a program that never meets a held file does not
    // import the Restart Manager.
    std::vector<std::string> names;
    HMODULE library = LoadLibraryW(L"rstrtmgr.dll");
    if (library == nullptr) {
        return names;
    }
    using Start = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
    using Register =
        DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
    using List = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, DWORD*);
    using End = DWORD(WINAPI*)(DWORD);
    const auto start =
        reinterpret_cast<Start>(reinterpret_cast<void*>(GetProcAddress(library, "RmStartSession")));
    const auto enroll = reinterpret_cast<Register>(
        reinterpret_cast<void*>(GetProcAddress(library, "RmRegisterResources")));
    const auto list =
        reinterpret_cast<List>(reinterpret_cast<void*>(GetProcAddress(library, "RmGetList")));
    const auto end =
        reinterpret_cast<End>(reinterpret_cast<void*>(GetProcAddress(library, "RmEndSession")));
    DWORD session = 0;
    WCHAR key[CCH_RM_SESSION_KEY + 1]{};
    if (start && enroll && list && end && start(&session, 0, key) == ERROR_SUCCESS) {
        LPCWSTR files[] = {path.c_str()};
        if (enroll(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
            std::vector<RM_PROCESS_INFO> processes(8);
            for (int attempt = 0; attempt < 3; ++attempt) {
                UINT needed = 0;
                UINT count = static_cast<UINT>(processes.size());
                DWORD reasons = 0;
                const DWORD result = list(session, &needed, &count, processes.data(), &reasons);
                if (result == ERROR_MORE_DATA) {
                    processes.resize(needed);
                    continue;
                }
                if (result == ERROR_SUCCESS) {
                    for (UINT i = 0; i < count && i < processes.size(); ++i) {
                        names.push_back(Utf8OfWide(processes[i].strAppName));
                    }
                }
                break;
            }
        }
        end(session);
    }
    FreeLibrary(library);
    return names;
}

void SetHidden(const std::filesystem::path& path, bool hidden) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    const DWORD wanted =
        hidden ? (attributes | FILE_ATTRIBUTE_HIDDEN) : (attributes & ~FILE_ATTRIBUTE_HIDDEN);
    if (wanted != attributes) {
        SetFileAttributesW(path.c_str(), wanted == 0 ? FILE_ATTRIBUTE_NORMAL : wanted);
    }
}

}  // namespace sparkloom::platform
