#pragma once

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

namespace sparkloom {

// ffmpeg from the program folder first, then from PATH; "" when there is none.
QString FindFfmpeg();

// Milliseconds of an animation of frameCount frames at 30 per second, rounded.
int32_t AnimationDurationFor(int32_t frameCount);

// The frames one package takes from its folder: the walk takes maxFiles entries,
// of which ".", "..", the two thumbnails and the two templates are the package's own.
int32_t FramesPerPackage(int32_t maxFiles);

// What a folder holds of one particle's frames: files named prefix + "_" + a
// number of at least five digits + ".jpg", and everything else beside them.
struct FrameFiles {
    std::vector<int32_t> numbers;  // ascending
    QStringList names;             // the frame files, in the order of numbers
    QStringList others;            // every other entry of the folder, hidden ones included
};
FrameFiles FindFrameFiles(const QString& folder, const QString& framePrefix);

// The question asked before frames of the same name are replaced, and the
// notice the converter prints when it replaces them.
QString StaleFramesQuestion(const FrameFiles& found, const QString& framePrefix);
QString StaleFramesRemovedNotice(int32_t removed, const QString& folder);
// Removes exactly found.names from folder; false with a reason in error.
bool RemoveFrameFiles(const QString& folder, const FrameFiles& found, QString& error);

// The question asked when the clip holds more frames than a package takes,
// and the converter's warning when it takes only the first ones.
QString TooManyFramesQuestion(int32_t counted, int32_t limit);
QString TooManyFramesWarning(int32_t counted, int32_t limit);

struct CountOutcome {
    bool ok = false;       // ffmpeg ran and ended normally
    bool stopped = false;  // ended because a stop was asked for
    int32_t frames = 0;    // frames of the first video stream; 0 when ffmpeg reported none
    QString error;         // for the user, when !ok
};

// Counts the frames of the video's first video stream that is not an attached
// picture, by copying it into nothing (no decoding).
CountOutcome CountFrames(const QString& videoFile, const std::function<bool()>& stop = {},
                         bool serveEvents = true);

// One extraction, as the window and the converter run it: stale frames, count,
// the package's limit, ffmpeg writing the frames, progress, stop, and a check of
// the frames on disk against what ffmpeg says it wrote.
struct ExtractionRequest {
    QString video;
    QString folder;
    QString framePrefix;
    int32_t maxFiles = 2000;
    // Count on a second thread while extracting (the count only copies, so it is
    // cheap beside the decoding). The extraction is then always cut at the limit,
    // as when the user agrees to it; the count says afterwards whether it was.
    bool countBeside = false;
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
    std::function<void(int32_t frame)> onFrame;
    // Polled while ffmpeg runs, beside the job's own RequestStop.
    std::function<bool()> stopRequested;
};

struct ExtractionOutcome {
    enum class End { Done, Stopped, Declined, Failed } end = End::Failed;
    int32_t counted = 0;   // what the count run reported
    int32_t written = 0;   // frames on disk, numbered 1..written, as ffmpeg reported them
    bool trimmed = false;  // the clip held more than limit frames; only limit were written
    int32_t limit = 0;
    int32_t removedStale = 0;  // frames of an earlier extraction removed first
    QString error;             // for the user, when Failed
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
