#include "platform/PathForms.h"

#include <vector>

namespace sparkloom::platform {

namespace {

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "C:\" or "C:/" at the start.
bool StartsWithDriveRoot(std::string_view path) {
    return path.size() >= 3 && IsDriveLetter(path[0]) && path[1] == ':' && IsSeparator(path[2]);
}

// The parts after a root, with ".", ".." and empty parts resolved; ".." never
// climbs above the root, as the system does not either.
std::string NormalPartsOf(std::string_view rest) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end])) {
            ++end;
        }
        const std::string_view part = rest.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string joined;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        joined += (i == 0 ? "" : "\\");
        joined += parts[i];
    }
    return joined;
}

}  // namespace

std::string ExtendedLengthForm(std::string_view path) {
    if (StartsWithDriveRoot(path)) {
        return "\\\\?\\" + std::string(path.substr(0, 2)) + "\\" + NormalPartsOf(path.substr(3));
    }
    const bool twoSeparators = path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
    if (!twoSeparators || path[2] == '?' || path[2] == '.' || IsSeparator(path[2])) {
        return std::string(path);  // relative, drive-relative, or a form of its own already
    }
    // A share: its server and share names are the root, which ".." never leaves.
    std::string_view rest = path.substr(2);
    std::string root;
    for (int name = 0; name < 2; ++name) {
        std::size_t end = 0;
        while (end < rest.size() && !IsSeparator(rest[end])) {
            ++end;
        }
        root += (name == 0 ? "" : "\\");
        root += rest.substr(0, end);
        rest = rest.substr(std::min(end + 1, rest.size()));
    }
    const std::string parts = NormalPartsOf(rest);
    return "\\\\?\\UNC\\" + root + (parts.empty() ? "" : "\\" + parts);
}

std::string PlainForm(std::string_view path) {
    constexpr std::string_view kShare = "\\\\?\\UNC\\";
    constexpr std::string_view kLong = "\\\\?\\";
    if (path.starts_with(kShare)) {
        return "\\\\" + std::string(path.substr(kShare.size()));
    }
    if (path.starts_with(kLong) && StartsWithDriveRoot(path.substr(kLong.size()))) {
        return std::string(path.substr(kLong.size()));
    }
    return std::string(path);
}

std::string FolderOnEntry(std::string_view folder) {
    if (folder.size() == 2 && IsDriveLetter(folder[0]) && folder[1] == ':') {
        return std::string(folder) + "\\";
    }
    return std::string(folder);
}

}  // namespace sparkloom::platform
