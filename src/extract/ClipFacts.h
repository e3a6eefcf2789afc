#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "extract/Extraction.h"

namespace sparkloom {

// What the extraction will make of a clip: the facts of the video stream it
// takes (the first that is not an attached picture), read by ffprobe without
// decoding a frame.
struct ClipFacts {
    bool ok = false;
    int width = 0;  // as the frames are written: turned by the stream's own rotation
    int height = 0;
    double fps = 0;            // the rate the frames are written at (ffmpeg's guess from the
                               // stream's r_frame_rate, "tbr"); 0 when unknown
    double start = 0;          // where the stream starts, in seconds from the file's start
    double seconds = -1.0;     // the stream's own length; < 0 when unknown
    int32_t frames = 0;        // the frames written of the whole stream; 0 when unknown
    bool framesExact = false;  // frames is the container's count of a constant-rate stream
    bool probed = false;       // read by ffprobe; without it, size and rate only
    std::string error;         // for the user, when !ok
    // "1920 × 1080, 59.94 frames a second, 0:42.30, 2,537 frames"
    std::string Summary() const;
    // The host plays 30 a second; outside 29 to 31 the clip's pace changes there.
    bool PlaysAtOwnPace() const { return fps >= 29 && fps <= 31; }
};

// The facts of `ffprobe -of json -show_format -show_streams` output; !ok with an
// error when it names no video stream to extract.
ClipFacts ClipFactsOfProbe(std::string_view json);

// The one line the Frames dialog shows when there is no ffprobe beside ffmpeg.
std::string ProbeMissingText();

ClipFacts ReadClipFacts(const std::string& videoFile, const std::function<bool()>& stop = {},
                        bool serveEvents = true);

// The frames the options leave of the clip, as the extraction writes them; 0
// when they cannot be told (its length is unknown).
int32_t ExpectedFrames(const FrameOptions& options, const ClipFacts& facts);

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
