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
// ffmpeg's output pattern for the frames: prefix (with "%" doubled) + "_%05d.jpg".
QString FramePattern(const QString& framePrefix);

}  // namespace sparkloom
