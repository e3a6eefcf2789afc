#pragma once

#include <string>

namespace sparkloom {

// True for an existing regular file that is not hidden (its name does not start
// with "."); false for folders, hidden or missing files and unusable paths.
bool FileExists(const std::string& path);

// A path as messages show it to the user: with the platform's separators.
std::string Shown(const std::string& path);

// The folder holding the program's executable, without a trailing separator.
std::string ProgramFolder();

}  // namespace sparkloom
