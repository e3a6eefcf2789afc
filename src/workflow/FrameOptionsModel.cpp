#include "workflow/FrameOptionsModel.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <thread>
#include <vector>

#include "common/Text.h"
#include "extract/FrameOptionTexts.h"
#include "platform/ChildProcess.h"
#include "zip/Zipper.h"

namespace sparkloom {

namespace {

constexpr double kHostRate = 30;
constexpr int kLowestRate = 1;
constexpr int kHighestRate = 120;
// Spread over the chosen part; each gives a few frames in a row.
constexpr int kSamples = 5;
constexpr int kFramesPerSample = 2;
// ffmpeg's own rate control starts from a fine quality and settles within
// about a dozen frames; those are encoded but not measured.
constexpr int kSettlingFrames = 10;
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

std::string SecondsText(double seconds) {
    char buffer[64];
    const auto [end, error] =
        std::to_chars(buffer, buffer + sizeof buffer, seconds, std::chars_format::fixed, 3);
    return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

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

// The sides of a baseline or progressive JPEG, from its frame header.
bool JpegSize(std::string_view jpeg, int& width, int& height) {
    size_t at = 2;
    while (at + 9 < jpeg.size()) {
        if (static_cast<unsigned char>(jpeg[at]) != 0xFF) {
            return false;
        }
        const auto marker = static_cast<unsigned char>(jpeg[at + 1]);
        const size_t length = (static_cast<unsigned char>(jpeg[at + 2]) << 8) |
                              static_cast<unsigned char>(jpeg[at + 3]);
        if (marker >= 0xC0 && marker <= 0xC2) {
            height = (static_cast<unsigned char>(jpeg[at + 5]) << 8) |
                     static_cast<unsigned char>(jpeg[at + 6]);
            width = (static_cast<unsigned char>(jpeg[at + 7]) << 8) |
                    static_cast<unsigned char>(jpeg[at + 8]);
            return true;
        }
        at += 2 + length;
    }
    return false;
}

}  // namespace

// A few frames of the chosen part encoded as the extraction would encode them,
// on a thread of its own, so the dialog stays usable and a new choice can stop it.
struct FrameOptionsModel::Sampling {
    FrameOptions key;  // width, quality, start and length: what a frame's size depends on
    std::atomic<bool> stop = false;
    std::atomic<bool> done = false;
    bool ok = false;
    double bytesPerFrame = 0;
    int width = 0;
    int height = 0;
    std::thread worker;

    ~Sampling() {
        stop = true;
        if (worker.joinable()) {
            worker.join();
        }
    }

    void Run(const std::string& ffmpeg, const std::string& video, double from, double window) {
        std::vector<std::string> arguments{"-nostdin", "-hide_banner", "-v", "error"};
        std::string graph;
        std::string joined;
        const bool settles = !key.quality;
        for (int sample = 0; sample < kSamples; ++sample) {
            // At a keyframe near each point: no decoding from the last one on.
            const double at = from + window * (sample + 0.5) / kSamples;
            arguments.insert(arguments.end(),
                             {"-noaccurate_seek", "-ss", SecondsText(at), "-i", video});
            const int frames = kFramesPerSample + (sample == 0 && settles ? kSettlingFrames : 0);
            const std::string name = "[s" + std::to_string(sample) + "]";
            graph += "[" + std::to_string(sample) +
                     ":V:0]trim=end_frame=" + std::to_string(frames) + ",setpts=PTS-STARTPTS" +
                     name + ";";
            joined += name;
        }
        graph += joined + "concat=n=" + std::to_string(kSamples) + ":v=1:a=0";
        // The same scaling and quality arguments the extraction passes.
        FrameOptions encoding;
        encoding.width = key.width;
        encoding.quality = key.quality;
        const FrameArguments chosen = FfmpegArgumentsFor(encoding);
        std::vector<std::string> output;
        for (size_t i = 0; i < chosen.output.size(); ++i) {
            if (chosen.output[i] == "-vf" && i + 1 < chosen.output.size()) {
                graph += "," + chosen.output[++i];
            } else {
                output.push_back(chosen.output[i]);
            }
        }
        graph += "[out]";
        arguments.insert(arguments.end(),
                         {"-filter_complex", graph, "-map", "[out]", "-fps_mode", "passthrough"});
        arguments.insert(arguments.end(), output.begin(), output.end());
        arguments.insert(arguments.end(), {"-f", "image2pipe", "-c:v", "mjpeg", "-"});

        std::string jpegs;
        platform::ChildRequest request;
        request.program = ffmpeg;
        request.arguments = arguments;
        request.output = [&jpegs](const char* data, size_t size) { jpegs.append(data, size); };
        request.errorOutput = [](const char*, size_t) {};
        request.stop = [this] { return stop.load(); };
        const platform::ChildExit exit = platform::RunChild(request);
        if (exit.stopped || !exit.exited || exit.exitCode != 0) {
            done = true;
            return;
        }
        // Each frame starts with a start-of-image marker followed by another
        // marker; inside the coded data 0xFF is always followed by 0x00.
        std::vector<size_t> starts;
        for (size_t at = jpegs.find("\xFF\xD8\xFF"); at != std::string::npos;
             at = jpegs.find("\xFF\xD8\xFF", at + 3)) {
            starts.push_back(at);
        }
        starts.push_back(jpegs.size());
        const size_t skip = settles ? kSettlingFrames : 0;
        if (starts.size() > skip + 1) {
            const size_t measured = starts.size() - 1 - skip;
            bytesPerFrame = static_cast<double>(jpegs.size() - starts[skip]) / measured;
            ok = JpegSize(std::string_view(jpegs).substr(0, starts[1]), width, height);
        }
        done = true;
    }
};

std::string FramesEstimate::Line() const {
    if (!refusal.empty()) {
        return refusal;
    }
    std::string line =
        GroupedNumber(frames) + (frames == 1 ? " frame" : " frames") + " of " +
        std::to_string(width) + " \u00d7 " + std::to_string(height) + ", " +
        (bytes ? "about " + MegabytesText(*bytes) : std::string("measuring the size\u2026")) +
        "; plays " + OneDecimal(frames / kHostRate) + " s in the host";
    if (!overRoom.empty()) {
        line += "\n" + overRoom;
    }
    return line;
}

FrameOptionsModel::FrameOptionsModel(std::string videoFile, ClipFacts facts,
                                     const FrameOptions& chosen, RememberedFrames remembered,
                                     int32_t frameRoom)
    : mVideo(std::move(videoFile)),
      mFacts(std::move(facts)),
      mRemembered(std::move(remembered)),
      mInitial(chosen),
      mFrameRoom(frameRoom) {}

FrameOptionsModel::~FrameOptionsModel() = default;

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
    view.SetText(FramesControl::lblClip, mFacts.Summary());
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
            rate = RateText(*mInitial.fps);
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
    const auto text = [this](FramesControl control) {
        return std::string(Trimmed(mView->Text(control)));
    };
    FrameOptionTexts texts;
    const std::string rate = text(FramesControl::cboRate);
    if (rate == RealSpeedItem()) {
        texts.fps = RateText(kHostRate);
    } else if (rate != EveryFrameItem(mFacts) && !rate.empty()) {
        texts.fps = NumberOf(rate);
    }
    if (const std::string width = text(FramesControl::cboWidth);
        width != AsClipItem(mFacts) && !width.empty()) {
        texts.width = NumberOf(width);
    }
    if (const std::string quality = text(FramesControl::cboQuality);
        quality != kQualityItems.front() && !quality.empty()) {
        texts.quality = NumberOf(quality);
    }
    if (const std::string start = text(FramesControl::txtStart); !start.empty()) {
        texts.start = start;
    }
    if (const std::string length = text(FramesControl::txtLength); !length.empty()) {
        texts.duration = length;
    }
    FrameOptions options = FrameOptionsOf(texts, refusal);
    if (!refusal.empty()) {
        return {};
    }
    if (options.fps && (*options.fps < kLowestRate || *options.fps > kHighestRate)) {
        refusal = "The rate is a number of frames a second from " + std::to_string(kLowestRate) +
                  " to " + std::to_string(kHighestRate) + ".";
        return {};
    }
    if (options.start && mFacts.seconds >= 0 &&
        ParseTime(*options.start).value_or(0) >= mFacts.seconds) {
        refusal = StartBeyondEndText(*options.start, mFacts.seconds);
        return {};
    }
    return options;
}

void FrameOptionsModel::Update() {
    std::string refusal;
    const FrameOptions options = ReadChoice(refusal);
    mEstimate = {};
    mEstimate.refusal = refusal;
    if (refusal.empty()) {
        mEstimate.frames = ExpectedFrames(options, mFacts.frames, mFacts.seconds);
        mEstimate.width = options.width.value_or(mFacts.width);
        mEstimate.height = options.width ? ScaledHeight(*options.width, mFacts.width, mFacts.height)
                                         : mFacts.height;
        const bool sameFrames = mSampling && mSampling->key.width == options.width &&
                                mSampling->key.quality == options.quality &&
                                mSampling->key.start == options.start &&
                                mSampling->key.duration == options.duration;
        if (!sameFrames) {
            StopSampling();
            mSampling = std::make_unique<Sampling>();
            mSampling->key = options;
            mSampling->key.fps.reset();
        }
        mView->StartPolls(sameFrames ? 0 : kSettleMilliseconds);
    } else {
        StopSampling();
    }
    ShowEstimate();
}

void FrameOptionsModel::StartSampling(const FrameOptions& options) {
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty() || !mSampling) {
        return;
    }
    const double start = options.start ? ParseTime(*options.start).value_or(0) : 0;
    double window = std::max(mFacts.seconds - start, 0.0);
    if (options.duration) {
        window = std::min(window, ParseTime(*options.duration).value_or(window));
    }
    Sampling* sampling = mSampling.get();
    const std::string video = mVideo;
    sampling->worker = std::thread(
        [sampling, ffmpeg, video, start, window] { sampling->Run(ffmpeg, video, start, window); });
}

void FrameOptionsModel::StopSampling() {
    mSampling.reset();  // stops ffmpeg and waits for its thread
}

void FrameOptionsModel::ShowEstimate() {
    if (mEstimate.refusal.empty() && mSampling && mSampling->done && mSampling->ok) {
        mEstimate.width = mSampling->width;
        mEstimate.height = mSampling->height;
        mEstimate.bytes = std::llround(
            mEstimate.frames * (mSampling->bytesPerFrame + static_cast<double>(kEntryOverhead)));
    }
    mEstimate.overRoom.clear();
    if (mEstimate.refusal.empty() && mEstimate.frames > mFrameRoom) {
        mEstimate.overRoom = GroupedNumber(mEstimate.frames - mFrameRoom) +
                             " frames more than a package holds (" + GroupedNumber(mFrameRoom) +
                             ").";
    } else if (mEstimate.refusal.empty() && mEstimate.bytes &&
               *mEstimate.bytes > Zipper::kMostBytes) {
        mEstimate.overRoom = "About " + MegabytesText(*mEstimate.bytes - Zipper::kMostBytes) +
                             " more than a package holds (2 GiB).";
    }
    const bool red = !mEstimate.refusal.empty() || !mEstimate.overRoom.empty();
    mView->SetText(FramesControl::lblEstimate, mEstimate.Line());
    mView->SetRed(FramesControl::lblEstimate, red);
    mView->SetEnabled(FramesControl::cmdFit, !mEstimate.overRoom.empty());
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
    if (!mSampling->worker.joinable()) {
        std::string refusal;
        const FrameOptions options = ReadChoice(refusal);
        if (refusal.empty()) {
            StartSampling(options);
        }
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
            const double start = options.start ? ParseTime(*options.start).value_or(0) : 0;
            double window = std::max(mFacts.seconds - start, 0.0);
            if (options.duration) {
                window = std::min(window, ParseTime(*options.duration).value_or(window));
            }
            double most = options.fps.value_or(mFacts.fps);
            if (window > 0) {
                most = std::min(most, mFrameRoom / window);
                if (mSampling && mSampling->done && mSampling->ok) {
                    const double perFrame = mSampling->bytesPerFrame + kEntryOverhead;
                    most = std::min(most, Zipper::kMostBytes / perFrame / window);
                }
            }
            int rate = static_cast<int>(std::floor(most));
            FrameOptions fitted = options;
            for (; rate >= kLowestRate; --rate) {
                fitted.fps = rate;
                if (ExpectedFrames(fitted, mFacts.frames, mFacts.seconds) <= mFrameRoom) {
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
        kept.rate = RateText(*mChosen.fps);
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
