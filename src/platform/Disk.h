#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace sparkloom::platform {

// The bytes the user may still write on the disk holding path (the nearest
// existing folder above it when path does not exist yet); nothing when the
// system cannot say.
std::optional<uint64_t> FreeBytes(const std::filesystem::path& path);

// One entry of a folder as the system lists it.
struct FolderEntry {
    std::string name;  // UTF-8
    enum class Kind { File, Folder, LinkToFile, LinkToFolder, Other } kind = Kind::Other;
    // Hidden from listings by the system itself: Windows' hidden and system
    // attributes (desktop.ini, Thumbs.db). Never set on POSIX, where the dot
    // at the start of a name hides it.
    bool hidden = false;
};

// The folder's entries without "." and "..", unsorted; an empty list and error
// set when it cannot be listed. On Windows long paths are listed too.
std::vector<FolderEntry> ListFolder(const std::filesystem::path& folder, std::error_code& error);

// The path the system's file calls are given: on Windows an absolute path too
// long for the plain form gets the "\\?\" form; elsewhere the path itself.
std::filesystem::path SystemPath(const std::filesystem::path& path);
// The path as the user writes it: without the "\\?\" form.
std::filesystem::path PlainPath(const std::filesystem::path& path);

}  // namespace sparkloom::platform
