#include "platform/FileMove.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace sparkloom::platform {

std::error_code MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return {errno, std::generic_category()};
    }
    return {};
}

std::error_code MoveToFreeName(const std::filesystem::path& from, const std::filesystem::path& to) {
    // A hard link fails when the name is taken, where a rename would replace it.
    if (::link(from.c_str(), to.c_str()) != 0) {
        return {errno, std::generic_category()};
    }
    if (::unlink(from.c_str()) != 0) {
        return {errno, std::generic_category()};
    }
    return {};
}

bool IsHeldError(const std::error_code&) {
    return false;  // an open file never stops a rename here
}

std::vector<std::string> HoldersOf(const std::filesystem::path&) {
    return {};
}

void SetHidden(const std::filesystem::path&, bool) {}

}  // namespace sparkloom::platform
