#include "platform/Disk.h"

#include <windows.h>

#include "platform/PathForms.h"
#include "platform/WideText_win.h"

namespace sparkloom::platform {

namespace fs = std::filesystem;

namespace {

// Below this many UTF-16 units a path stays plain: CreateDirectoryW's limit
// (MAX_PATH less room for an 8.3 name). The C runtime's stat, under every
// std::filesystem query, takes the "?" of the long form for a wildcard, so
// the form is kept for the paths that need it.
constexpr std::size_t kLongFrom = MAX_PATH - 12;

}  // namespace

std::optional<uint64_t> FreeBytes(const fs::path& path) {
    for (fs::path at = SystemPath(path); !at.empty(); at = at.parent_path()) {
        ULARGE_INTEGER available{};
        if (GetDiskFreeSpaceExW(at.c_str(), &available, nullptr, nullptr)) {
            return available.QuadPart;
        }
        if (at == at.parent_path()) {
            break;
        }
    }
    return std::nullopt;
}

std::vector<FolderEntry> ListFolder(const fs::path& folder, std::error_code& error) {
    std::vector<FolderEntry> entries;
    error.clear();
    // FindFirstFileExW takes the long form; the C runtime's folder reader stops at MAX_PATH.
    // std::filesystem reads no root in the long form: made absolute in the plain one.
    std::wstring search =
        WideOf(ExtendedLengthForm(Utf8OfWide(fs::absolute(PlainPath(folder), error).native())));
    if (error) {
        return entries;
    }
    if (!search.empty() && search.back() != L'\\') {
        search += L'\\';
    }
    search += L'*';
    WIN32_FIND_DATAW found{};
    HANDLE find = FindFirstFileExW(search.c_str(), FindExInfoStandard, &found,
                                   FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        error.assign(static_cast<int>(GetLastError()), std::system_category());
        return entries;
    }
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        FolderEntry entry;
        entry.name = Utf8OfWide(name);
        const DWORD attributes = found.dwFileAttributes;
        const bool folderLike = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
            (found.dwReserved0 == IO_REPARSE_TAG_SYMLINK ||
             found.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT)) {
            entry.kind =
                folderLike ? FolderEntry::Kind::LinkToFolder : FolderEntry::Kind::LinkToFile;
        } else {
            entry.kind = folderLike ? FolderEntry::Kind::Folder : FolderEntry::Kind::File;
        }
        entry.hidden = (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
        entries.push_back(std::move(entry));
    } while (FindNextFileW(find, &found));
    const DWORD ended = GetLastError();
    FindClose(find);
    if (ended != ERROR_NO_MORE_FILES) {
        error.assign(static_cast<int>(ended), std::system_category());
        entries.clear();
    }
    return entries;
}

fs::path SystemPath(const fs::path& path) {
    if (path.native().size() < kLongFrom) {
        return path;
    }
    // Relative paths come back as they are (std::filesystem reads no root in a share's path).
    return fs::path(WideOf(ExtendedLengthForm(Utf8OfWide(path.native()))));
}

fs::path PlainPath(const fs::path& path) {
    const std::wstring& native = path.native();
    if (native.size() < 4 || native.compare(0, 4, L"\\\\?\\") != 0) {
        return path;
    }
    return fs::path(WideOf(PlainForm(Utf8OfWide(native))));
}

}  // namespace sparkloom::platform
