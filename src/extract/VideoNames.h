#pragma once

#include <QString>
#include <optional>

namespace sparkloom {

// The video's folder: fullPath with every "/" + fileName removed.
QString ProjectFolderOf(const QString& fullPath, const QString& fileName);
// The file name without its last four code units (and without the first half of a
// character the cut would split); nothing for names shorter than four.
std::optional<QString> ParticleNameFromFile(const QString& fileName);
// The particle name with every blank as "_".
QString FramePrefixOf(const QString& particleName);
// Why framePrefix cannot name frame files ("/" would put them elsewhere, a
// leading "." hide them from the package, a long name exceed the file system's
// limit, letters outside Windows-1252 never reach the package), or "" when it can.
QString FramePrefixRefusal(const QString& framePrefix);
// ffmpeg's output pattern for the frames: prefix (with "%" doubled) + "_%05d.jpg".
QString FramePattern(const QString& framePrefix);

}  // namespace sparkloom
