#pragma once

#include <cstdint>
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

// A path as messages show it to the user: with the platform's separators, none doubled.
std::string Shown(const std::string& path);

// A folder as a picker or a command line gives it, settled once: on Windows "E:"
// is the root "E:\", not the current folder on E:. Elsewhere the text itself.
std::string FolderOnEntry(const std::string& folder);

// Why the last name of path cannot be given to a file or folder that Windows
// users open: Windows keeps CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 (any case,
// any extension) for devices, and drops a dot or blank at the end of a name.
// Refused on every system, as the package is made for Windows. "" when it is fine.
std::string ReservedNameRefusal(const std::string& path);

// "the disk holding FOLDER is full (N bytes free)" when the disk under folder has
// less room than need bytes; "" when it has, or cannot say.
std::string FullDiskReason(const std::string& folder, uint64_t need);

// The folder holding the program's executable, without a trailing separator.
std::string ProgramFolder();

}  // namespace sparkloom
