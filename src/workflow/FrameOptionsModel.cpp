#include "workflow/FrameOptionsModel.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "common/TempFolder.h"
#include "common/Text.h"
#include "zip/Zipper.h"

namespace sparkloom {

namespace fs = std::filesystem;

namespace {

constexpr double kHostRate = 30;
constexpr int kLowestRate = 1;
constexpr int kHighestRate = 120;
// A package entry's headers beside the frame's bytes (local and central,
// with a name of about 20 bytes).
constexpr int64_t kEntryOverhead = 120;
constexpr int kPollMilliseconds = 40;
// Typing waits this long for the next key before ffmpeg is started.
constexpr int kSettleMilliseconds = 80;
constexpr int64_t kMegabyte = 1024 * 1024;

const std::vector<int> kCommonWidths{3840, 2560, 1920, 1280, 960, 854, 640, 480, 320};
const std::vector<std::string> kQualityItems{"As ffmpeg chooses", "2 (best)", "3", "5", "10", "20",
                                             "31 (smallest)"};

// The number a list entry or a typed text starts with; the text itself when
// it starts with none, so the converter's check names it.
std::string NumberOf(const std::string& text) {
    const std::string_view trimmed = Trimmed(text);
    const size_t end = trimmed.find(' ');
    if (end != std::string_view::npos && !trimmed.empty() &&
        std::isdigit(static_cast<unsigned char>(trimmed.front()))) {
        return std::string(trimmed.substr(0, end));
    }
    return std::string(trimmed);
}

std::string MegabytesText(int64_t bytes) {
    const double megabytes = static_cast<double>(bytes) / kMegabyte;
    if (megabytes >= 10) {
        return GroupedNumber(std::llround(megabytes)) + " MB";
    }
    char buffer[32];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, megabytes, std::chars_format::fixed, 1);
    return (error == std::errc() ? std::string(buffer, end) : std::string("0")) + " MB";
}

// The height ffmpeg gives for "scale=W:-2": the aspect kept, rounded to the
// nearest even number.
int ScaledHeight(int width, int clipWidth, int clipHeight) {
    if (clipWidth <= 0) {
        return 0;
    }
    const int64_t numerator = int64_t{width} * clipHeight;
    const int64_t denominator = int64_t{clipWidth} * 2;
    return static_cast<int>((numerator + denominator / 2) / denominator * 2);
}

std::string OneDecimal(double value) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 1);
    return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

// How many frames ffmpeg's rate control is followed for: small frames, which
// take a hundred or more to settle, for about the pixels of a dozen 1080p
// frames; none for larger ones, which settle within a dozen.
int32_t SequenceFor(const ClipFacts& facts, const FrameOptions& options) {
    const int width = options.width.value_or(facts.width);
    const int height =
        options.width ? ScaledHeight(width, facts.width, facts.height) : facts.height;
    const double frames = 25e6 / std::max(1.0, static_cast<double>(width) * height);
    return frames < 100 ? 0 : static_cast<int32_t>(std::min(frames, 300.0));
}

}  // namespace

// A few frames of the chosen part encoded as the extraction would encode them,
// on a thread of its own, so the dialog stays usable and a new choice can stop
// it. The decoded samples stay for the next choice of width or quality.
struct FrameOptionsModel::Decoded {
    bool ok = false;
    std::optional<std::string> start;  // the part they were taken from
    std::optional<std::string> duration;
    fs::path file;
    bool direct = false;  // this ffmpeg cannot decode them into a file of its own
};

struct FrameOptionsModel::Sampling {
    FrameOptions key;  // width, quality, start and length: what a frame's size depends on
    std::atomic<bool> stop = false;
    std::atomic<bool> done = false;
    SampleMeasure measure;
    std::thread worker;

    ~Sampling() {
        stop = true;
        if (worker.joinable()) {
            worker.join();
        }
    }

    // Only this thread touches decoded while it runs: the dialog stops and
    // joins it before it starts another.
    void Run(const std::string& ffmpeg, const std::string& video, double from, double window,
             double rate, int32_t frames, int32_t sequence, Decoded* decoded) {
        const auto stopped = [this] { return stop.load(); };
        if (!decoded->direct &&
            (!decoded->ok || decoded->start != key.start || decoded->duration != key.duration)) {
            decoded->ok = false;
            decoded->start = key.start;
            decoded->duration = key.duration;
            decoded->ok = !decoded->file.empty() &&
                          DecodeSamples(ffmpeg, video, from, window, decoded->file, stopped);
            // An ffmpeg that cannot keep decoded samples is asked the slow way from now on.
            decoded->direct = !decoded->ok && !stop && !decoded->file.empty();
        }
        if (decoded->ok) {
            measure = EncodeSamples(ffmpeg, decoded->file, key, rate, frames, sequence, stopped);
        } else if (decoded->direct) {
            measure = MeasureSamplesDirectly(ffmpeg, video, from, window, key,
                                             decoded->file.parent_path() / "direct", stopped);
        }
        done = true;
    }
};

namespace {

// A rate as it was typed: 23.976 stays 23.976, not the 23.98 shown beside a clip.
std::string TypedRate(double fps) {
    char buffer[64];
    const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, fps);
    return error == std::errc() ? std::string(buffer, end) : RateText(fps);
}

std::optional<double> DecimalOf(std::string_view text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The dialog's refusal: its field, what the field takes, and what was typed.
std::string Refused(const std::string& field, const std::string& takes, const std::string& text) {
    return field + ": " + takes + ", not \"" + text + "\".";
}

// The part of the clip the options take, in the file's time: where it starts
// and how long it lasts; unknown length: the length asked for, else a guess
// that still finds frames to weigh.
void PartOf(const ClipFacts& facts, const FrameOptions& options, double& from, double& window) {
    from = std::max(options.start ? ParseTime(*options.start).value_or(0) : 0, facts.start);
    const double asked = options.duration ? ParseTime(*options.duration).value_or(0)
                                          : std::numeric_limits<double>::infinity();
    if (facts.seconds < 0) {
        window = std::isfinite(asked) ? asked : 2.0;
        return;
    }
    window = std::max(std::min(facts.start + facts.seconds, from + asked) - from, 0.0);
}

}  // namespace

std::string FramesEstimate::Line() const {
    if (!refusal.empty()) {
        return refusal;
    }
    const std::string size = bytes         ? "about " + MegabytesText(*bytes)
                             : sizeUnknown ? std::string("size unknown")
                                           : std::string("measuring the size\u2026");
    if (frames <= 0) {
        return "Length unknown; frames of " + std::to_string(width) + " \u00d7 " +
               std::to_string(height) + ", " + (frameBytes ? size + " each" : size);
    }
    std::string line = GroupedNumber(frames) + (frames == 1 ? " frame" : " frames") + " of " +
                       std::to_string(width) + " \u00d7 " + std::to_string(height) + ", " + size +
                       "; plays " + OneDecimal(frames / kHostRate) + " s in the host";
    if (!overRoom.empty()) {
        line += "\n" + overRoom;
    }
    return line;
}

FramesEstimate EstimateOf(const ClipFacts& facts, const FrameOptions& options, int32_t frameRoom,
                          const SampleMeasure* measure) {
    FramesEstimate estimate;
    estimate.frames = ExpectedFrames(options, facts);
    estimate.width = options.width.value_or(facts.width);
    estimate.height =
        options.width ? ScaledHeight(*options.width, facts.width, facts.height) : facts.height;
    if (measure != nullptr && measure->ok) {
        estimate.width = measure->width;
        estimate.height = measure->height;
        const double perFrame = measure->bytesPerFrame + static_cast<double>(kEntryOverhead);
        estimate.frameBytes = std::llround(perFrame);
        estimate.bytes =
            estimate.frames > 0 ? std::llround(estimate.frames * perFrame) : *estimate.frameBytes;
    }
    estimate.sizeUnknown = measure != nullptr && !measure->ok;
    if (estimate.frames > frameRoom) {
        estimate.overRoom = GroupedNumber(estimate.frames - frameRoom) +
                            " frames more than a package holds (" + GroupedNumber(frameRoom) + ").";
    } else if (estimate.frames > 0 && estimate.bytes && *estimate.bytes > Zipper::kMostBytes) {
        estimate.overRoom = "About " + MegabytesText(*estimate.bytes - Zipper::kMostBytes) +
                            " more than a package holds (2 GiB).";
    }
    return estimate;
}

FramesEstimate MeasureEstimate(const std::string& video, const ClipFacts& facts,
                               const FrameOptions& options, int32_t frameRoom,
                               const std::function<bool()>& stop) {
    SampleMeasure measure;
    TempFolder folder;
    const std::string ffmpeg = FindFfmpeg();
    if (!ffmpeg.empty() && folder.Create("estimate")) {
        double from = 0;
        double window = 0;
        PartOf(facts, options, from, window);
        const fs::path samples = folder.Path() / "samples.nut";
        if (DecodeSamples(ffmpeg, video, from, window, samples, stop)) {
            measure =
                EncodeSamples(ffmpeg, samples, options, options.fps.value_or(facts.fps),
                              ExpectedFrames(options, facts), SequenceFor(facts, options), stop);
        } else if (!(stop && stop())) {
            measure = MeasureSamplesDirectly(ffmpeg, video, from, window, options,
                                             folder.Path() / "direct", stop);
        }
    }
    return EstimateOf(facts, options, frameRoom, &measure);
}

FrameOptionsModel::FrameOptionsModel(std::string videoFile, ClipFacts facts,
                                     const FrameOptions& chosen, RememberedFrames remembered,
                                     int32_t frameRoom)
    : mVideo(std::move(videoFile)),
      mFacts(std::move(facts)),
      mRemembered(std::move(remembered)),
      mInitial(chosen),
      mFrameRoom(frameRoom),
      mDecoded(std::make_unique<Decoded>()) {}

FrameOptionsModel::~FrameOptionsModel() {
    StopSampling();  // before its folder goes
}

namespace {

std::string EveryFrameItem(const ClipFacts& facts) {
    return "Every frame (" + RateText(facts.fps) + " a second)";
}

std::string RealSpeedItem() {
    return "Real speed in the host (" + RateText(kHostRate) + " a second)";
}

std::string AsClipItem(const ClipFacts& facts) {
    return "As the clip (" + std::to_string(facts.width) + ")";
}

}  // namespace

void FrameOptionsModel::Open(FrameOptionsView& view) {
    mView = &view;
    // What a crashed run left behind; a live one's samples keep their lock.
    TempFolder::RemoveStale();
    view.SetText(FramesControl::lblClip, mFacts.probed ? mFacts.Summary() : ProbeMissingText());
    view.SetItems(FramesControl::cboRate, {EveryFrameItem(mFacts), RealSpeedItem()});
    std::vector<std::string> widths{AsClipItem(mFacts)};
    for (const int width : kCommonWidths) {
        if (width < mFacts.width) {
            widths.push_back(std::to_string(width));
        }
    }
    view.SetItems(FramesControl::cboWidth, widths);
    view.SetItems(FramesControl::cboQuality, kQualityItems);

    // The choice in force for this video, else what the user chose last time.
    std::optional<std::string> rate;
    std::optional<std::string> width;
    std::optional<std::string> quality;
    if (mInitial.Any()) {
        if (mInitial.fps) {
            rate = TypedRate(*mInitial.fps);
        }
        if (mInitial.width) {
            width = std::to_string(*mInitial.width);
        }
        if (mInitial.quality) {
            quality = std::to_string(*mInitial.quality);
        }
    } else {
        for (auto [text, into] :
             {std::pair{&mRemembered.rate, &rate}, std::pair{&mRemembered.width, &width},
              std::pair{&mRemembered.quality, &quality}}) {
            if (!text->empty()) {
                *into = *text;
            }
        }
    }
    view.SetText(FramesControl::cboRate, !rate                          ? EveryFrameItem(mFacts)
                                         : *rate == RateText(kHostRate) ? RealSpeedItem()
                                                                        : *rate);
    view.SetText(FramesControl::cboWidth, width ? *width : AsClipItem(mFacts));
    std::string qualityText = kQualityItems.front();
    if (quality) {
        qualityText = *quality;
        for (const std::string& item : kQualityItems) {
            if (NumberOf(item) == *quality) {
                qualityText = item;
            }
        }
    }
    view.SetText(FramesControl::cboQuality, qualityText);
    view.SetText(FramesControl::txtStart, mInitial.start.value_or(""));
    view.SetText(FramesControl::txtLength, mInitial.duration.value_or(""));
    Update();
}

FrameOptions FrameOptionsModel::ReadChoice(std::string& refusal) const {
    refusal.clear();
    const auto text = [this](FramesControl control) {
        return std::string(Trimmed(mView->Text(control)));
    };
    FrameOptions options;
    if (const std::string rate = text(FramesControl::cboRate); rate == RealSpeedItem()) {
        options.fps = kHostRate;
    } else if (rate != EveryFrameItem(mFacts) && !rate.empty()) {
        const std::string typed = NumberOf(rate);
        options.fps = DecimalOf(typed);
        if (!options.fps || *options.fps < kLowestRate || *options.fps > kHighestRate) {
            refusal = Refused("Rate",
                              "a number from " + std::to_string(kLowestRate) + " to " +
                                  std::to_string(kHighestRate),
                              typed);
            return {};
        }
    }
    const struct {
        FramesControl control;
        const char* field;
        std::string skip;
        int lowest, highest;
        std::string takes;
        std::optional<int>* into;
    } wholes[]{
        {FramesControl::cboWidth, "Width", AsClipItem(mFacts), kMinWidth, kMaxWidth,
         "a whole number from " + std::to_string(kMinWidth) + " to " + std::to_string(kMaxWidth),
         &options.width},
        {FramesControl::cboQuality, "JPEG quality", kQualityItems.front(), kBestQuality,
         kWorstQuality,
         "a whole number from " + std::to_string(kBestQuality) + " (best) to " +
             std::to_string(kWorstQuality),
         &options.quality},
    };
    for (const auto& whole : wholes) {
        const std::string given = text(whole.control);
        if (given == whole.skip || given.empty()) {
            continue;
        }
        const std::string typed = NumberOf(given);
        const std::optional<int64_t> number = ParseInteger(typed);
        if (!number || *number < whole.lowest || *number > whole.highest) {
            refusal = Refused(whole.field, whole.takes, typed);
            return {};
        }
        *whole.into = static_cast<int>(*number);
    }
    const std::string timeForms = "seconds (90, 1.5) or [HH:]MM:SS[.fff]";
    if (const std::string start = text(FramesControl::txtStart); !start.empty()) {
        const std::optional<double> seconds = ParseTime(start);
        if (!seconds) {
            refusal = Refused("Start", timeForms, start);
            return {};
        }
        if (mFacts.seconds >= 0 && *seconds >= mFacts.start + mFacts.seconds) {
            refusal = Refused(
                "Start",
                "a time before the clip's end, " + ClockText(mFacts.start + mFacts.seconds), start);
            return {};
        }
        options.start = start;
    }
    if (const std::string length = text(FramesControl::txtLength); !length.empty()) {
        const std::optional<double> seconds = ParseTime(length);
        if (!seconds || *seconds <= 0) {
            refusal = Refused("Length", seconds ? "longer than 0" : timeForms, length);
            return {};
        }
        options.duration = length;
    }
    return options;
}

void FrameOptionsModel::Update() {
    std::string refusal;
    mOptions = ReadChoice(refusal);
    if (!refusal.empty()) {
        StopSampling();
        mEstimate = {};
        mEstimate.refusal = refusal;
        ShowEstimate();
        return;
    }
    const bool sameFrames = mSampling && mSampling->key.width == mOptions.width &&
                            (mOptions.quality || mSampling->key.fps == mOptions.fps) &&
                            mSampling->key.quality == mOptions.quality &&
                            mSampling->key.start == mOptions.start &&
                            mSampling->key.duration == mOptions.duration;
    if (!sameFrames) {
        StopSampling();
        mSampling = std::make_unique<Sampling>();
        mSampling->key = mOptions;
        // ffmpeg's own quality follows the rate; one of its own does not.
        if (mOptions.quality) {
            mSampling->key.fps.reset();
        }
    }
    mView->StartPolls(sameFrames ? 0 : kSettleMilliseconds);
    ShowEstimate();
}

void FrameOptionsModel::StartSampling() {
    const std::string ffmpeg = FindFfmpeg();
    if (!mSampling) {
        return;
    }
    if (ffmpeg.empty()) {
        mSampling->done = true;
        return;
    }
    if (!mFolder) {
        mFolder = std::make_unique<TempFolder>();
        if (mFolder->Create("frames")) {
            mDecoded->file = mFolder->Path() / "samples.nut";
        }
    }
    double from = 0;
    double window = 0;
    PartOf(mFacts, mSampling->key, from, window);
    Sampling* sampling = mSampling.get();
    Decoded* decoded = mDecoded.get();
    const std::string video = mVideo;
    const double rate = mOptions.fps.value_or(mFacts.fps);
    const int32_t frames = ExpectedFrames(mOptions, mFacts);
    const int32_t sequence = SequenceFor(mFacts, mOptions);
    sampling->worker = std::thread(
        [=] { sampling->Run(ffmpeg, video, from, window, rate, frames, sequence, decoded); });
}

void FrameOptionsModel::StopSampling() {
    mSampling.reset();  // stops ffmpeg and waits for its thread
}

void FrameOptionsModel::ShowEstimate() {
    if (mEstimate.refusal.empty() || mSampling) {
        const bool measured = mSampling && mSampling->done;
        mEstimate =
            EstimateOf(mFacts, mOptions, mFrameRoom, measured ? &mSampling->measure : nullptr);
    }
    const bool red = !mEstimate.refusal.empty() || !mEstimate.overRoom.empty();
    mView->SetText(FramesControl::lblEstimate, mEstimate.Line());
    mView->SetRed(FramesControl::lblEstimate, red);
    mView->SetEnabled(FramesControl::cmdFit, !mEstimate.overRoom.empty() && mFacts.seconds > 0);
}

void FrameOptionsModel::Changed(FramesControl control) {
    (void)control;
    if (mView != nullptr) {
        Update();
    }
}

void FrameOptionsModel::Poll() {
    if (mView == nullptr || !mSampling) {
        return;
    }
    if (!mSampling->worker.joinable() && !mSampling->done) {
        StartSampling();
    }
    if (mSampling->done) {
        ShowEstimate();
        return;
    }
    mView->StartPolls(kPollMilliseconds);
}

void FrameOptionsModel::Click(FramesControl control) {
    if (mView == nullptr) {
        return;
    }
    switch (control) {
        case FramesControl::cmdFit: {
            std::string refusal;
            const FrameOptions options = ReadChoice(refusal);
            if (!refusal.empty() || mFacts.seconds <= 0) {
                return;
            }
            double from = 0;
            double window = 0;
            PartOf(mFacts, options, from, window);
            // Never above what the dialog itself takes.
            double most = std::min(options.fps.value_or(mFacts.fps), double{kHighestRate});
            if (window > 0) {
                most = std::min(most, mFrameRoom / window);
                if (mSampling && mSampling->done && mSampling->measure.ok) {
                    const double perFrame = mSampling->measure.bytesPerFrame + kEntryOverhead;
                    most = std::min(most, Zipper::kMostBytes / perFrame / window);
                }
            }
            int rate = static_cast<int>(std::floor(most));
            FrameOptions fitted = options;
            for (; rate >= kLowestRate; --rate) {
                fitted.fps = rate;
                if (ExpectedFrames(fitted, mFacts) <= mFrameRoom) {
                    break;
                }
            }
            if (rate < kLowestRate) {
                mView->ShowWarning(
                    "Even 1 frame a second gives more than a package holds: please take a "
                    "shorter part of the clip.");
                return;
            }
            mView->SetText(FramesControl::cboRate,
                           rate == kHostRate ? RealSpeedItem() : std::to_string(rate));
            Update();
            return;
        }
        case FramesControl::cmdOK: {
            std::string refusal;
            const FrameOptions options = ReadChoice(refusal);
            if (!refusal.empty()) {
                mView->ShowWarning(refusal);
                return;
            }
            mChosen = options;
            mAccepted = true;
            StopSampling();
            mView->EndDialog();
            return;
        }
        case FramesControl::cmdCancel:
            StopSampling();
            mView->EndDialog();
            return;
        default:
            return;
    }
}

void FrameOptionsModel::Closing() {
    StopSampling();
}

RememberedFrames FrameOptionsModel::ToRemember() const {
    RememberedFrames kept;
    if (mChosen.fps) {
        kept.rate = TypedRate(*mChosen.fps);
    }
    if (mChosen.width) {
        kept.width = std::to_string(*mChosen.width);
    }
    if (mChosen.quality) {
        kept.quality = std::to_string(*mChosen.quality);
    }
    return kept;
}

std::string FramesStatusText(const FrameOptions& options) {
    if (!options.Any()) {
        return {};
    }
    std::vector<std::string> parts;
    if (options.fps) {
        parts.push_back(RateText(*options.fps) + " a second");
    }
    if (options.width) {
        parts.push_back(std::to_string(*options.width) + " wide");
    }
    if (options.start || options.duration) {
        std::string part;
        if (options.start) {
            part = "from " + ClockText(ParseTime(*options.start).value_or(0), true);
        }
        if (options.duration) {
            part += std::string(part.empty() ? "" : " ") + "for " +
                    ClockText(ParseTime(*options.duration).value_or(0), true);
        }
        parts.push_back(part);
    }
    if (options.quality) {
        parts.push_back("quality " + std::to_string(*options.quality));
    }
    return "Frames: " + Join(parts, ", ");
}

std::string ClipPaceNotice(const ClipFacts& facts) {
    if (!facts.ok || facts.fps <= 0 || facts.PlaysAtOwnPace()) {
        return {};
    }
    return "This clip runs at " + RateText(facts.fps) +
           " frames a second and the host plays 30: Frames\u2026 \u2192 Real speed keeps its "
           "pace.";
}

}  // namespace sparkloom
