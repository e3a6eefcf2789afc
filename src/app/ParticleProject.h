#pragma once

#include <QString>
#include <cstdint>

namespace sparkloom {

// The workflow's project as the Qt side reads it: texts as QString, and
// MaxFiles still the model's own, so a test can lower it.
struct ParticleProjectView {
    QString ProjectFolder;
    QString PackageFolder;
    int32_t& MaxFiles;
    QString VideoFile;
    QString ExtractFolder;
    int32_t FrameCount;
    int32_t AnimationDuration;
};

}  // namespace sparkloom
