#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sparkloom {

// What a clip's header says of its first video stream that is not an attached
// picture: read by ffmpeg without decoding a frame.
struct ClipFacts {
    bool ok = false;
    int width = 0;  // as the frames are written: a rotated clip's sides are swapped
    int height = 0;
    double fps = 0;         // the stream's average rate; 0 when unknown
    double seconds = -1.0;  // < 0 when unknown
    int32_t frames = 0;     // seconds × fps, rounded; 0 when either is unknown
    std::string error;      // for the user, when !ok
    // "1920 × 1080, 59.94 frames a second, 0:42.30, 2,537 frames"
    std::string Summary() const;
    // The host plays 30 a second; outside 29 to 31 the clip's pace changes there.
    bool PlaysAtOwnPace() const { return fps >= 29 && fps <= 31; }
};

ClipFacts ReadClipFacts(const std::string& videoFile, const std::function<bool()>& stop = {},
                        bool serveEvents = true);

// Feeds ffmpeg's description of its input, line by line, into facts.
void TakeClipFactsLine(std::string_view line, ClipFacts& facts);

// A rate as people read it: "30", "59.94", "23.976".
std::string RateText(double fps);
// A time as "M:SS.cc", or "H:MM:SS.cc" from an hour on; hundredths dropped when 0
// and whole is true.
std::string ClockText(double seconds, bool whole = false);
// 2537 as "2,537".
std::string GroupedNumber(int64_t number);

}  // namespace sparkloom
