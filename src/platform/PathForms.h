#pragma once

#include <string>
#include <string_view>

// Windows' path forms as text, the same on every system so they can be tested
// anywhere: UTF-8, either separator.
namespace sparkloom::platform {

// The extended-length form of an absolute path, which the system passes on
// without shortening it to MAX_PATH or parsing it: "C:\a\b" -> "\\?\C:\a\b",
// "\\server\share\a" -> "\\?\UNC\server\share\a". As nothing is parsed there,
// "/" becomes "\" and ".", ".." and doubled separators are resolved first.
// Relative and drive-relative paths ("a\b", "\a", "C:a", "C:"), device paths
// and paths already in that form come back as they are.
std::string ExtendedLengthForm(std::string_view path);
// The inverse, for the user's eyes: "\\?\C:\a" -> "C:\a", "\\?\UNC\s\x" -> "\\s\x".
std::string PlainForm(std::string_view path);
// A folder as Windows' pickers give it, settled once: "E:" is the drive's root
// "E:\", never the current folder on that drive; other paths come back as they are.
std::string FolderOnEntry(std::string_view folder);

}  // namespace sparkloom::platform
