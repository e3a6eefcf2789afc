#include "common/Files.h"

#include <filesystem>
#include <system_error>

#include "common/Text.h"
#include "platform/ProgramPath.h"

namespace sparkloom {

bool FileExists(const std::string& path) {
    if (path.empty() || path.find('\0') != std::string::npos) {
        return false;
    }
    const std::filesystem::path file = PathFromUtf8(path);
    std::error_code error;
    const std::string name = Utf8Of(file.filename());
    return std::filesystem::is_regular_file(file, error) && !name.starts_with('.');
}

namespace {

// PathFromUtf8 keeps a NUL, and the system would read the path only up to it.
bool UsablePath(const std::string& path) {
    return !path.empty() && path.find('\0') == std::string::npos;
}

}  // namespace

bool IsFolder(const std::string& path) {
    std::error_code error;
    return UsablePath(path) && std::filesystem::is_directory(PathFromUtf8(path), error);
}

bool IsFile(const std::string& path) {
    std::error_code error;
    return UsablePath(path) && std::filesystem::is_regular_file(PathFromUtf8(path), error);
}

std::string FileNameOf(const std::string& path) {
    return Utf8Of(PathFromUtf8(path).filename());
}

std::string Shown(const std::string& path) {
    return Utf8Of(PathFromUtf8(path).make_preferred());
}

std::string ProgramFolder() {
    const std::filesystem::path program = platform::ExecutablePath();
    return program.empty() ? std::string() : Utf8Of(program.parent_path());
}

}  // namespace sparkloom
