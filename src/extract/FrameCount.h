#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace sparkloom {

// Splits ffmpeg's error output into lines (a line ends at CR; CR LF is one end;
// a bare LF does not end a line) and keeps the number of the last line that
// contains "frame=" in any letter case. Fed in pieces as the output arrives.
class FrameLineParser {
public:
    void Feed(std::string_view bytes);
    void Finish();  // the text after the last line end is a line too
    int32_t Count() const { return mCount; }
    bool Found() const { return mFound; }
    // Called for every matching line with its number, as it is read.
    std::function<void(int32_t)> onFrame;

private:
    void TakeLine(std::string_view line);
    std::string mPending;
    bool mPendingCr = false;
    int32_t mCount = 0;
    bool mFound = false;
};

// Reads ffmpeg's output as it arrives, lines ending at CR or LF: the progress
// lines ("frame=  45 fps=..."; ffmpeg 7 puts its last one after a bare LF) and
// the verbose end summary ("Output stream #0:0 (video): 30 packets muxed (2336
// bytes);", after "60 frames encoded; " when it encodes, behind a
// "[out#0/null @ 0x...]" context since 7.0), the one count that every version
// reports whole, for a copy and for the frames written alike.
class FfmpegOutputParser {
public:
    void Feed(std::string_view bytes);
    void Finish();
    bool Found() const { return mFound; }
    int32_t Packets() const { return mPackets; }
    bool FrameFound() const { return mFrameFound; }
    int32_t LastFrame() const { return mLastFrame; }
    // The first input's "Duration: HH:MM:SS.xx" in seconds; < 0 when none was read.
    double Seconds() const { return mSeconds; }
    // Called for every progress line with its frame number, as it is read.
    std::function<void(int32_t)> onFrame;

private:
    void TakeLine(std::string_view line);
    std::string mPending;
    bool mFound = false;
    int32_t mPackets = 0;
    bool mFrameFound = false;
    int32_t mLastFrame = 0;
    double mSeconds = -1.0;
};

// The seconds of an input's "  Duration: 00:01:02.50, start: ..." line, when it
// is one and the duration is known ("Duration: N/A" is not).
bool DurationOfLine(std::string_view line, double& seconds);

// The packet count of a summary line for output stream #0:0, when it is one.
bool PacketsMuxedOfLine(std::string_view line, int32_t& packets);

// Why ffmpeg failed, from the end of its output, in the same words whichever
// version ran: ffmpeg 5 ends with "VIDEO: reason", ffmpeg 7 with "Error opening
// input files: reason", and both say "matches no streams" for a file without
// video. "" when the output holds no line at all.
std::string FfmpegFailureReason(std::string_view outputTail, const std::string& videoPath);

// The number after the line's leading "frame=" tag (blanks allowed before and
// after it), when the line contains "frame=" and the number reads whole.
bool FrameNumberOfLine(std::string_view line, int32_t& number);
int32_t ParseFrameCount(std::string_view output);

}  // namespace sparkloom
