#pragma once

#include <QString>
#include <cstdint>
#include <functional>

namespace sparkloom {

// ffmpeg from the program folder first, then from PATH; "" when there is none.
QString FindFfmpeg();

struct CountOutcome {
    bool ok = false;        // ffmpeg ran and ended normally
    int32_t frames = 0;     // 0 when no "frame=" line was found
    QString error;          // for the user, when !ok
};

struct ExtractOutcome {
    bool ok = false;        // ffmpeg ended normally and wrote at least one frame
    int32_t lastFrame = 0;  // highest frame number ffmpeg reported
    QString error;
};

CountOutcome CountFrames(const QString& videoFile);
ExtractOutcome ExtractFrames(const QString& videoFile, const QString& targetFolder,
                             const QString& framePrefix,
                             const std::function<void(int32_t frame)>& onFrame = {});

// Milliseconds of an animation of frameCount frames at 30 per second, rounded.
int32_t AnimationDurationFor(int32_t frameCount);

}  // namespace sparkloom
