#pragma once

#include <optional>
#include <string>

namespace sparkloom {

// The video's folder: fullPath with every separator + fileName removed.
std::string ProjectFolderOf(const std::string& fullPath, const std::string& fileName);
// The file name without its last four UTF-16 code units (and without the first half of a
// character the cut would split); nothing for names shorter than four.
std::optional<std::string> ParticleNameFromFile(const std::string& fileName);
// The particle name with every blank as "_".
std::string FramePrefixOf(const std::string& particleName);
// Why framePrefix cannot name frame files ("/" would put them elsewhere, a
// leading "." hide them from the package, a long name exceed the file system's
// limit, letters outside Windows-1252 never reach the package), or "" when it can.
std::string FramePrefixRefusal(const std::string& framePrefix);
// ffmpeg's output pattern for the frames: prefix (with "%" doubled) + "_%05d.jpg".
std::string FramePattern(const std::string& framePrefix);

}  // namespace sparkloom
