#pragma once

#include <QString>
#include <cstdint>

namespace sparkloom {

// The working state of one conversion. Nothing resets it between conversions:
// each field keeps its value until its writer runs again.
struct ParticleProject {
    QString ProjectFolder;  // the video's folder, no trailing separator
    QString PackageFolder;  // the package's folder, no trailing separator
    int32_t MaxFiles = 0;   // most directory entries taken from one folder
    QString VideoFile;      // full path of the chosen video
    QString ExtractFolder;  // folder receiving the frames; "" after a cancelled browse
    int32_t FrameCount = 0;
    int32_t AnimationDuration = 0;  // milliseconds
};

}  // namespace sparkloom
