#pragma once

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace sparkloom::platform {

// Puts from in to's place in one step, replacing a file there, with the
// system's own error when it cannot.
std::error_code MoveReplacing(const std::filesystem::path& from, const std::filesystem::path& to);
// Gives from the name to only while nothing has that name.
std::error_code MoveToFreeName(const std::filesystem::path& from, const std::filesystem::path& to);
// The error says that another program holds the file open, which on Windows
// passes once a scanner or a preview lets go of it.
bool IsHeldError(const std::error_code& error);
// The programs the system knows to hold path open, by name; none where it
// cannot tell.
std::vector<std::string> HoldersOf(const std::filesystem::path& path);
// Windows' hidden attribute, which a dot at the name's start gives elsewhere.
void SetHidden(const std::filesystem::path& path, bool hidden);

}  // namespace sparkloom::platform
