#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace sparkloom {

// What a Windows user is told when there is no ffmpeg.exe to run.
inline constexpr const char* kFfmpegExeNotFoundText =
    "ffmpeg was not found beside sparkloom-cli.exe nor on the PATH. Put ffmpeg.exe in the "
    "folder of sparkloom-cli.exe, or in a folder on the PATH.";

// ffmpeg from the program folder first, then from PATH; "" when there is none.
std::string FindFfmpeg();
// ffprobe in the folder of the ffmpeg FindFfmpeg finds (a link is not followed);
// "" when there is none.
std::string FindFfprobe();
// What the user is told when FindFfmpeg finds none.
std::string FfmpegNotFoundText();

// Milliseconds of an animation of frameCount frames at 30 per second, rounded.
int32_t AnimationDurationFor(int32_t frameCount);

// The frames one package takes from its folder: the walk takes maxFiles entries,
// of which ".", "..", the two thumbnails and the two templates are the package's own.
int32_t FramesPerPackage(int32_t maxFiles);

// What a folder holds of one particle's frames: files named prefix + "_" + a
// number of at least five digits + ".jpg", and everything else beside them.
struct FrameFiles {
    std::vector<int32_t> numbers;     // ascending
    std::vector<std::string> names;   // the frame files, in the order of numbers
    std::vector<std::string> others;  // every other entry of the folder, hidden ones included
};
FrameFiles FindFrameFiles(const std::string& folder, const std::string& framePrefix);

// The question asked before frames of the same name are replaced, and the
// notice the converter prints when it replaces them.
std::string StaleFramesQuestion(const FrameFiles& found, const std::string& framePrefix);
std::string StaleFramesRemovedNotice(int32_t removed, const std::string& folder);
// Removes exactly found.names from folder; false with a reason in error.
bool RemoveFrameFiles(const std::string& folder, const FrameFiles& found, std::string& error);

// The question asked when the clip holds more frames than a package takes,
// and the converter's warning when it takes only the first ones.
std::string TooManyFramesQuestion(int32_t counted, int32_t limit);
std::string TooManyFramesWarning(int32_t counted, int32_t limit);

struct CountOutcome {
    bool ok = false;        // ffmpeg ran and ended normally
    bool stopped = false;   // ended because a stop was asked for
    int32_t frames = 0;     // frames of the first video stream; 0 when ffmpeg reported none
    double seconds = -1.0;  // the clip's duration as ffmpeg reports it; < 0 when unknown
    std::string error;      // for the user, when !ok
};

// Counts the frames of the video's first video stream that is not an attached
// picture, by copying it into nothing (no decoding).
CountOutcome CountFrames(const std::string& videoFile, const std::function<bool()>& stop = {},
                         bool serveEvents = true);

// What the converter can change in the frames written; the window never sets
// these, so its command line stays the plain one. Unset: unchanged.
struct FrameOptions {
    std::optional<double> fps;            // resample to this rate (ffmpeg's fps filter)
    std::optional<int> quality;           // JPEG quality, 2 (best) to 31
    std::optional<std::string> start;     // TIME: seconds or [HH:]MM:SS[.fff]
    std::optional<std::string> duration;  // TIME
    std::optional<int> width;             // scale to this width, keeping the aspect ratio
    // The frames written are not the clip's frames one for one.
    bool ChangesFrames() const { return fps || start || duration; }
    bool Any() const { return ChangesFrames() || quality || width; }
};

constexpr double kMaxFps = 1000;
constexpr int kBestQuality = 2;
constexpr int kWorstQuality = 31;
constexpr int kMinWidth = 16;
constexpr int kMaxWidth = 8192;

// Seconds of a TIME text ("90", "1.5", "01:30", "00:01:30.250"); nullopt when
// it is none.
std::optional<double> ParseTime(const std::string& text);
// Why these options cannot be used, naming the option; "" when they can.
std::string FrameOptionsRefusal(const FrameOptions& options);

// The options as ffmpeg arguments: before the input (seeking there is
// frame-accurate when re-encoding) and after it.
struct FrameArguments {
    std::vector<std::string> input;
    std::vector<std::string> output;
};
FrameArguments FfmpegArgumentsFor(const FrameOptions& options);

// The frames the options leave of a clip of counted frames lasting seconds:
// exact when nothing but quality or width changes, else estimated from the
// duration; 0 when it cannot be told.
int32_t ExpectedFrames(const FrameOptions& options, int32_t counted, double seconds);

// The start lies at or beyond the clip's end, so nothing would be written.
std::string StartBeyondEndText(const std::string& start, double seconds);
// The converter's warning when the chosen part of the clip gives more frames
// than a package takes.
std::string TooManyFramesAboutWarning(int32_t expected, int32_t limit);

// One extraction, as the window and the converter run it: stale frames, count,
// the package's limit, ffmpeg writing the frames, progress, stop, and a check of
// the frames on disk against what ffmpeg says it wrote.
struct ExtractionRequest {
    std::string video;
    std::string folder;
    std::string framePrefix;
    int32_t maxFiles = 2000;
    // Count on a second thread while extracting (the count only copies, so it is
    // cheap beside the decoding). The extraction is then always cut at the limit,
    // as when the user agrees to it; the count says afterwards whether it was.
    // With options.fps the frames written do not follow the clip's count, so
    // none is run; a clip ffmpeg cannot read is then counted afterwards, for
    // the count's own words.
    bool countBeside = false;
    FrameOptions options = {};
};

struct ExtractionHooks {
    // Frames of this name are in the folder already: true removes them and goes
    // on, false stops with nothing written. Unset: they are removed.
    std::function<bool(const FrameFiles& stale)> replaceStale;
    // Counting is about to start (the window's "be patient" notice).
    std::function<void()> beforeCount;
    // More frames than a package takes: true extracts only the first limit
    // frames, false stops with nothing written. Unset: true.
    std::function<bool(int32_t counted, int32_t limit)> trimToLimit;
    std::function<void(int32_t counted)> onCounted;
    // After onCounted: the frames ffmpeg is to write (see ExpectedFrames), at
    // most the package's limit; exact tells an estimate from a sure number.
    std::function<void(int32_t frames, bool exact)> onExpected;
    std::function<void(int32_t frame)> onFrame;
    // Polled while ffmpeg runs, beside the job's own RequestStop.
    std::function<bool()> stopRequested;
};

struct ExtractionOutcome {
    enum class End { Done, Stopped, Declined, Failed } end = End::Failed;
    int32_t counted = 0;   // what the count run reported; 0 with options.fps beside, as the
                           // rate of the frames written is not the clip's, no count is run
    int32_t expected = 0;  // ExpectedFrames, before the package's limit
    int32_t written = 0;   // frames on disk, numbered 1..written, as ffmpeg reported them
    bool trimmed = false;  // the clip held more than limit frames; only limit were written
    int32_t limit = 0;
    int32_t removedStale = 0;  // frames of an earlier extraction removed first
    std::string error;         // for the user, when Failed
};

class ExtractionJob {
public:
    explicit ExtractionJob(ExtractionRequest request) : mRequest(std::move(request)) {}
    ExtractionOutcome Run(const ExtractionHooks& hooks);
    // May be called from an event handler while Run serves events.
    void RequestStop() { mStop = true; }
    bool StopRequested() const { return mStop; }

private:
    bool ShouldStop(const ExtractionHooks& hooks) const;
    ExtractionRequest mRequest;
    std::atomic<bool> mStop = false;
};

}  // namespace sparkloom
