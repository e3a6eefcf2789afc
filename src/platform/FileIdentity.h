#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <system_error>

namespace sparkloom::platform {

// What the system says of a file, following symbolic links.
struct FileFacts {
    enum class Kind { Regular, Directory, Other } kind = Kind::Other;
    bool readOnly = false;  // the owner may not write it
    // Which file it is: the same pair names the same file while it exists.
    uint64_t volume = 0;
    uint64_t file = 0;
};

// Nothing when the path cannot be examined (missing, dangling link, no access).
std::optional<FileFacts> FactsOf(const std::filesystem::path& path);

// What is at path, links followed; nothing when nothing is there or it cannot
// be examined. Any form of path, the long "\\?\" one included, is read by the
// system itself, not by a runtime's reading of it.
std::optional<FileFacts::Kind> KindOf(const std::filesystem::path& path);

// Waits until the file's data are on the disk, not only in the system's cache,
// so a power loss after a rename cannot leave the new name on lost data.
std::error_code FlushToDisk(const std::filesystem::path& path);

}  // namespace sparkloom::platform
