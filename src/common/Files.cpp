#include "common/Files.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "common/Text.h"
#include "platform/Disk.h"
#include "platform/FileIdentity.h"
#include "platform/PathForms.h"
#include "platform/ProgramPath.h"

namespace sparkloom {

namespace {

// PathFromUtf8 keeps a NUL, and the system would read the path only up to it.
bool UsablePath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

// Asked of the system itself: a runtime's own reading of a long path could
// miss an old package, and its overwrite question with it.
std::optional<platform::FileFacts::Kind> KindAt(const std::string& path) {
    return UsablePath(path) ? platform::KindOf(PathFromUtf8(path)) : std::nullopt;
}

}  // namespace

bool FileExists(const std::string& path) {
    return KindAt(path) == platform::FileFacts::Kind::Regular && !FileNameOf(path).starts_with('.');
}

bool IsFolder(const std::string& path) {
    return KindAt(path) == platform::FileFacts::Kind::Directory;
}

bool IsFile(const std::string& path) {
    return KindAt(path) == platform::FileFacts::Kind::Regular;
}

std::string FileNameOf(const std::string& path) {
    return Utf8Of(PathFromUtf8(path).filename());
}

std::string Shown(const std::string& path) {
    const std::string preferred = Utf8Of(PathFromUtf8(path).make_preferred());
    // A root joined with "/name" would show "E:\\name"; a share's leading pair stays.
    std::string shown = preferred.substr(0, 2);
    for (std::size_t i = shown.size(); i < preferred.size(); ++i) {
        if (!(kPathSeparators.find(preferred[i]) != std::string_view::npos &&
              kPathSeparators.find(shown.back()) != std::string_view::npos)) {
            shown += preferred[i];
        }
    }
    return shown;
}

std::string FolderOnEntry(const std::string& folder) {
#ifdef _WIN32
    return platform::FolderOnEntry(folder);
#else
    return folder;
#endif
}

namespace {

// The name Windows reads a device in: up to the first "." and without blanks
// after it ("CON .txt" is the console too).
bool IsDeviceName(std::string_view name) {
    std::string stem = AsciiLower(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') {
        stem.pop_back();
    }
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul") {
        return true;
    }
    if (!stem.starts_with("com") && !stem.starts_with("lpt")) {
        return false;
    }
    // Windows counts the superscript digits as well.
    const std::string_view number = std::string_view(stem).substr(3);
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

}  // namespace

std::string ReservedNameRefusal(const std::string& path) {
    std::string_view trimmed = path;
    while (trimmed.size() > 1 && kPathSeparators.find(trimmed.back()) != std::string_view::npos) {
        trimmed.remove_suffix(1);
    }
    const std::size_t cut = trimmed.find_last_of(kPathSeparators);
    const std::string_view name = cut == std::string_view::npos ? trimmed : trimmed.substr(cut + 1);
    if (name.empty() || name == "." || name == "..") {
        return std::string();
    }
    if (IsDeviceName(name)) {
        std::string_view stem = name.substr(0, name.find('.'));
        while (stem.ends_with(' ')) {
            stem.remove_suffix(1);
        }
        return Shown(path) + " cannot be used: Windows keeps the name " + std::string(stem) +
               " for a device.";
    }
    if (name.back() == '.' || name.back() == ' ') {
        return Shown(path) +
               " cannot be used: Windows drops the dot or blank at the end of a name.";
    }
    return std::string();
}

std::string FullDiskReason(const std::string& folder, uint64_t need) {
    const std::optional<uint64_t> free = platform::FreeBytes(PathFromUtf8(folder));
    if (!free || *free >= need) {
        return std::string();
    }
    return "the disk holding " + Shown(folder) + " is full (" + std::to_string(*free) +
           " bytes free)";
}

std::string ProgramFolder() {
    const std::filesystem::path program = platform::ExecutablePath();
    return program.empty() ? std::string() : Utf8Of(program.parent_path());
}

}  // namespace sparkloom
