#pragma once

#include <string>
#include <string_view>

namespace sparkloom {

// What separates a path's folders: Windows' dialogs give backslashes, and a
// "/" typed there is a separator too.
#ifdef _WIN32
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr std::string_view kPathSeparators = "/";
#endif

// True for an existing regular file that is not hidden (its name does not start
// with "."); false for folders, hidden or missing files and unusable paths.
bool FileExists(const std::string& path);

// An existing folder, or an existing regular file (hidden ones included), links
// followed; false for "" and for text holding a NUL, which the system would cut.
bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);

// The last part of a path: the name after its last separator.
std::string FileNameOf(const std::string& path);

// A path as messages show it to the user: with the platform's separators.
std::string Shown(const std::string& path);

// The folder holding the program's executable, without a trailing separator.
std::string ProgramFolder();

}  // namespace sparkloom
