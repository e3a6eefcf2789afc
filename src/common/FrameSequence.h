#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sparkloom {

// The frames of an animation as the host plays them: the files named
// PREFIX_NNNNN.jpg (five digits or more, as ffmpeg numbers them) whose PREFIX
// is the first frame's, from the first frame's number on.
struct FrameSequence {
    bool numbered = false;  // the first frame's name has the form PREFIX_NNNNN.jpg
    std::string prefix;
    int32_t first = 0;    // the first frame's number
    int32_t last = 0;     // the highest number present from first on (first when none is)
    int32_t count = 0;    // frames present from first to last
    int32_t earlier = 0;  // frames of the same prefix numbered below first
    int32_t missingCount = 0;
    std::vector<int32_t> missing;  // the first few numbers between first and last that are absent

    bool Unbroken() const { return numbered && count > 0 && missingCount == 0; }
};

// How many missing numbers FrameSequence keeps; missingCount counts them all.
constexpr int kMissingFramesKept = 10;

// The frame of number n: prefix + "_" + n in at least five digits + ".jpg".
std::string FrameName(const std::string& prefix, int32_t number);

// Which of fileNames (names without folder) belong to the animation that starts
// at firstFrame, and whether they are numbered without gaps. The animation's
// duration is AnimationDurationFor(count).
FrameSequence FramesFrom(const std::string& firstFrame, const std::vector<std::string>& fileNames);

// The frame number of name when it is a frame of prefix, else -1.
int32_t FrameNumberOf(const std::string& name, const std::string& prefix);

}  // namespace sparkloom
