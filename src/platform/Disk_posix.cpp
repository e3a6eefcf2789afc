#include "platform/Disk.h"

#include <sys/statvfs.h>

namespace sparkloom::platform {

namespace fs = std::filesystem;

std::optional<uint64_t> FreeBytes(const fs::path& path) {
    for (fs::path at = path; !at.empty(); at = at.parent_path()) {
        struct statvfs disk {};
        if (::statvfs(at.c_str(), &disk) == 0) {
            return static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
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
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        FolderEntry entry;
        const std::u8string name = it->path().filename().u8string();
        entry.name.assign(name.begin(), name.end());
        // The listing's own file type, so an entry of a folder that can be read
        // but not searched is still listed.
        std::error_code ignored;
        if (it->is_symlink(ignored)) {
            const fs::file_status target = it->status(ignored);
            entry.kind = fs::is_regular_file(target) ? FolderEntry::Kind::LinkToFile
                         : fs::is_directory(target)  ? FolderEntry::Kind::LinkToFolder
                                                     : FolderEntry::Kind::Other;
        } else if (it->is_regular_file(ignored)) {
            entry.kind = FolderEntry::Kind::File;
        } else if (it->is_directory(ignored)) {
            entry.kind = FolderEntry::Kind::Folder;
        }
        entries.push_back(std::move(entry));
    }
    if (error) {
        entries.clear();
    }
    return entries;
}

fs::path SystemPath(const fs::path& path) {
    return path;
}

fs::path PlainPath(const fs::path& path) {
    return path;
}

}  // namespace sparkloom::platform
