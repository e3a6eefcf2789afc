#include "extract/Extraction.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <limits>
#include <optional>
#include <system_error>

#include "common/Files.h"
#include "common/FrameSequence.h"
#include "common/Text.h"
#include "extract/ClipFacts.h"
#include "extract/ExecAndCapture.h"
#include "extract/FrameCount.h"
#include "extract/VideoNames.h"
#include "platform/Disk.h"
#include "platform/Environment.h"

namespace sparkloom {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr const char* kFfmpegName = "ffmpeg.exe";
constexpr const char* kFfprobeName = "ffprobe.exe";
constexpr char kPathListSeparator = ';';
#else
constexpr const char* kFfmpegName = "ffmpeg";
constexpr const char* kFfprobeName = "ffprobe";
constexpr char kPathListSeparator = ':';
#endif

// A regular file with permission to execute it.
bool IsProgram(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(PathFromUtf8(path), error);
    constexpr fs::perms kExecutable =
        fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
    return !error && fs::is_regular_file(status) &&
           (status.permissions() & kExecutable) != fs::perms::none;
}

// The path without "." and ".." steps nor doubled separators; a trailing
// separator stays when the text had one.
std::string CleanPath(const std::string& path) {
    std::string clean = Utf8Of(PlainPathFromUtf8(path).lexically_normal());
    while (clean.size() > 1 && clean.ends_with('/')) {
        clean.pop_back();
    }
    if (path.ends_with('/') && !clean.ends_with('/')) {
        clean += '/';
    }
    return clean;
}

// An absolute path never starts with a "name:" that ffmpeg would take for a protocol.
// "" stays "".
std::string AbsolutePath(const std::string& path) {
    if (path.empty()) {
        return path;
    }
    const fs::path given = PlainPathFromUtf8(path);
    if (given.is_absolute()) {
        return CleanPath(path);
    }
    std::error_code error;
    const std::string current = Utf8Of(fs::current_path(error));
    return CleanPath(path == "." ? current : current + "/" + path);
}

// Keeps the end of ffmpeg's output: its last line says why a run failed.
class OutputTail {
public:
    void Feed(std::string_view bytes) {
        mTail.append(bytes);
        if (mTail.size() > kKeep) {
            mTail.erase(0, mTail.size() - kKeep);
        }
    }
    const std::string& Text() const { return mTail; }

private:
    static constexpr std::size_t kKeep = 4096;
    std::string mTail;
};

std::string NotFoundText() {
#ifdef _WIN32
    return kFfmpegExeNotFoundText;
#else
    return "ffmpeg was not found beside Sparkloom nor on the PATH. Please install ffmpeg.";
#endif
}

std::string SignalName(int signalNumber) {
#ifdef _WIN32
    return "signal " + std::to_string(signalNumber);
#else
    return strsignal(signalNumber);
#endif
}

// ffmpeg's last line, and for its reason the disk's own words when the disk is
// full: ffmpeg's wording of that differs between systems ("Invalid argument" on Windows).
std::string WithReason(const std::string& what, const ExecResult& run, const OutputTail& tail,
                       const std::string& video, const std::string& fullDisk = {}) {
    if (!run.started) {
        return run.error;  // about ffmpeg, not the video
    }
    std::string reason;
    if (!run.error.empty()) {
        reason = run.error;  // lost
    } else if (!run.exited && run.termSignal != 0) {
        // Killed: its last line is only the progress it had made, no reason.
        reason = "ffmpeg was stopped by signal " + std::to_string(run.termSignal) + " (" +
                 SignalName(run.termSignal) + ").";
    } else if (!fullDisk.empty()) {
        const std::vector<std::string> lines = Split(ReplaceAll(tail.Text(), "\r", "\n"), '\n');
        auto last = std::find_if(lines.rbegin(), lines.rend(),
                                 [](const std::string& line) { return !Trimmed(line).empty(); });
        reason = last == lines.rend() ? fullDisk : std::string(Trimmed(*last)) + ": " + fullDisk;
    } else {
        reason = FfmpegFailureReason(tail.Text(), video);
        if (reason.empty()) {
            reason = "ffmpeg ended with code " + std::to_string(run.exitCode);
        }
    }
    return what + "\n" + reason;
}

bool EndedWell(const ExecResult& run) {
    return run.started && run.exited && run.exitCode == 0;
}

// ffmpeg reads the whole output path as a pattern, so a "%" in the folder is doubled too.
std::string OutputPattern(const std::string& folder, const std::string& framePrefix) {
    return ReplaceAll(folder, "%", "%%") + "/" + FramePattern(framePrefix);
}

// Runs ffmpeg to its end, reading its progress lines and keeping its last words.
ExecResult RunFfmpeg(const std::string& ffmpeg, const std::vector<std::string>& arguments,
                     FfmpegOutputParser& parser, OutputTail& tail,
                     const std::function<bool()>& stop, bool serveEvents) {
    const ExecResult run = ExecAndCapture(
        ffmpeg, arguments, {},
        [&](std::string_view bytes) {
            parser.Feed(bytes);
            tail.Feed(bytes);
        },
        stop, serveEvents);
    parser.Finish();
    return run;
}

// A JPEG ends with its end-of-image marker; one that ffmpeg was writing when it
// was stopped hard does not.
bool IsWholeJpeg(const std::string& path) {
    std::ifstream file(PathFromUtf8(path), std::ios::binary | std::ios::ate);
    if (!file) {
        return false;
    }
    const std::streamoff size = file.tellg();
    std::array<char, 2> end{};
    if (size < 4 || !file.seekg(size - 2) || !file.read(end.data(), 2)) {
        return false;
    }
    return end[0] == '\xFF' && end[1] == '\xD9';
}

// After a stop only the last frames can be unfinished.
void RemoveUnfinishedFrames(const std::string& folder, const std::string& framePrefix) {
    const FrameFiles frames = FindFrameFiles(folder, framePrefix);
    const std::size_t count = frames.names.size();
    for (std::size_t i = count; i > 0 && i + 2 > count; --i) {
        const std::string path = folder + "/" + frames.names[i - 1];
        if (!IsWholeJpeg(path)) {
            std::error_code ignored;  // the frame is left over either way
            fs::remove(PathFromUtf8(path), ignored);
        }
    }
}

// The order of names in a folder listing: by UTF-16 code units, as Qt's listing
// sorted them. A byte that is no UTF-8 sorts as U+FFFD.
std::u16string SortKey(std::string_view name) {
    if (std::optional<std::u16string> utf16 = Utf16FromUtf8(name)) {
        return *utf16;
    }
    std::u16string key;
    for (std::size_t at = 0; at < name.size();) {
        const auto lead = static_cast<unsigned char>(name[at]);
        const std::size_t length = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        const std::optional<std::u16string> one = Utf16FromUtf8(name.substr(at, length));
        if (one && name.size() - at >= length) {
            key += *one;
            at += length;
        } else {
            key += u'\uFFFD';
            ++at;
        }
    }
    return key;
}

// The exact decimal expansion of a finite double's magnitude: its integer digits
// and as many fraction digits as any double has.
struct ExactDecimal {
    std::string digits;       // integer digits, then fraction digits
    std::size_t integer = 0;  // how many of them stand before the point
};
ExactDecimal ExactDecimalOf(double value) {
    std::array<char, 1500> text{};
    const auto [end, error] = std::to_chars(text.data(), text.data() + text.size(),
                                            std::fabs(value), std::chars_format::fixed, 1074);
    ExactDecimal exact;
    if (error != std::errc()) {
        return exact;
    }
    const std::string_view all(text.data(), static_cast<std::size_t>(end - text.data()));
    const std::size_t point = all.find('.');
    exact.integer = point;
    exact.digits = std::string(all.substr(0, point)) + std::string(all.substr(point + 1));
    return exact;
}

// Rounds digits to their first count, a half away from zero (as Qt's numbers
// do; to_chars and printf round a half to even); true when a carry adds a digit
// in front.
bool RoundDigits(std::string& digits, std::size_t count) {
    const bool up = count < digits.size() && digits[count] >= '5';
    digits.resize(count, '0');
    if (!up) {
        return false;
    }
    for (std::size_t i = count; i-- > 0;) {
        if (digits[i] != '9') {
            ++digits[i];
            return false;
        }
        digits[i] = '0';
    }
    digits.insert(digits.begin(), '1');
    return true;
}

std::string SpecialText(double value) {
    return std::isnan(value) ? "nan" : value < 0 ? "-inf" : "inf";
}

// value with decimals fraction digits, in the C locale's form whatever locale runs.
std::string FixedText(double value, int decimals) {
    if (!std::isfinite(value)) {
        return SpecialText(value);
    }
    ExactDecimal exact = ExactDecimalOf(value);
    std::size_t integer = exact.integer;
    if (RoundDigits(exact.digits, integer + static_cast<std::size_t>(decimals))) {
        ++integer;
    }
    std::string text = value < 0 ? "-" : "";
    text += exact.digits.substr(0, integer);
    if (decimals > 0) {
        text += "." + exact.digits.substr(integer);
    }
    return text;
}

// value in at most significant digits as printf's %g writes it: no trailing
// zeros, an exponent of two digits or more when it is below -4 or not below
// significant.
std::string GeneralText(double value, int significant) {
    if (!std::isfinite(value)) {
        return SpecialText(value);
    }
    const std::string sign = value < 0 ? "-" : "";
    const ExactDecimal exact = ExactDecimalOf(value);
    const std::size_t first = exact.digits.find_first_not_of('0');
    if (first == std::string::npos) {
        return sign + "0";
    }
    std::string digits = exact.digits.substr(first);
    int exponent = static_cast<int>(exact.integer) - static_cast<int>(first) - 1;
    if (RoundDigits(digits, static_cast<std::size_t>(significant))) {
        digits.pop_back();
        ++exponent;
    }
    const auto withoutTrailingZeros = [](std::string text) {
        while (!text.empty() && text.back() == '0') {
            text.pop_back();
        }
        return text;
    };
    if (exponent < -4 || exponent >= significant) {
        const std::string fraction = withoutTrailingZeros(digits.substr(1));
        std::string power = std::to_string(std::abs(exponent));
        if (power.size() < 2) {
            power.insert(0, "0");
        }
        return sign + digits.substr(0, 1) + (fraction.empty() ? "" : "." + fraction) + "e" +
               (exponent < 0 ? "-" : "+") + power;
    }
    std::string whole = "0";
    std::string fraction;
    if (exponent >= 0) {
        whole = digits.substr(0, static_cast<std::size_t>(exponent) + 1);
        fraction = digits.substr(static_cast<std::size_t>(exponent) + 1);
    } else {
        fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    fraction = withoutTrailingZeros(fraction);
    return sign + whole + (fraction.empty() ? "" : "." + fraction);
}

}  // namespace

// SPARKLOOM_FFMPEG, when set, names the only ffmpeg to use (tests point it at a missing file).
std::string FindFfmpeg() {
    const std::string forced = platform::EnvironmentValue("SPARKLOOM_FFMPEG").value_or("");
    if (!forced.empty()) {
        return IsProgram(forced) ? forced : std::string();
    }
    const std::string folder = ProgramFolder();
    if (!folder.empty() && IsProgram(folder + "/" + kFfmpegName)) {
        return folder + "/" + kFfmpegName;
    }
    // PATH as the shell reads it; relative entries from the current folder.
#ifdef _WIN32
    const std::string path = platform::EnvironmentValue("PATH").value_or("");
#else
    const std::string path = platform::EnvironmentValue("PATH").value_or("/bin:/usr/bin");
#endif
    for (const std::string& entry : Split(path, kPathListSeparator)) {
        if (entry.empty()) {
            continue;
        }
        const std::string candidate = AbsolutePath(entry + "/" + kFfmpegName);
        if (IsProgram(candidate)) {
            return candidate;
        }
    }
    return {};
}

// Only the one beside the ffmpeg in use: a probe from another build could pick
// another stream or rate than that ffmpeg writes.
std::string FindFfprobe() {
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        return {};
    }
    const std::string probe =
        Utf8Of(PlainPathFromUtf8(ffmpeg).parent_path() / PathFromUtf8(kFfprobeName));
    return IsProgram(probe) ? probe : std::string();
}

std::string FfmpegNotFoundText() {
    return NotFoundText();
}

CountOutcome CountFrames(const std::string& videoFile, const std::function<bool()>& stop,
                         bool serveEvents) {
    CountOutcome outcome;
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        outcome.error = NotFoundText();
        return outcome;
    }
    FfmpegOutputParser parser;
    OutputTail tail;
    // "0:V:0" is the first video stream that is not cover art. ffmpeg 7 prints
    // its last "frame=" line after a bare LF, or none on a short copy, so the
    // verbose end summary of packets muxed gives the count, with the last
    // "frame=" line as a fallback.
    const ExecResult run = RunFfmpeg(ffmpeg,
                                     {"-nostdin", "-v", "verbose", "-i", AbsolutePath(videoFile),
                                      "-map", "0:V:0", "-c", "copy", "-f", "null", "-"},
                                     parser, tail, stop, serveEvents);
    if (run.stopped) {
        outcome.stopped = true;
        return outcome;
    }
    if (!EndedWell(run)) {
        outcome.error =
            WithReason("The video could not be read.", run, tail, AbsolutePath(videoFile));
        return outcome;
    }
    outcome.ok = true;
    outcome.frames = parser.Found() ? parser.Packets() : parser.LastFrame();
    outcome.seconds = parser.Seconds();
    return outcome;
}

namespace {

struct FfmpegExtraction {
    ExecResult run;
    int32_t reportedFrames = -1;  // -1: no "frame=" line
    double seconds = -1.0;        // the clip's duration from ffmpeg's report of its input
    std::string error;
    bool diskFull = false;
};

// What the next frame may need: as much as the largest one so far, or a
// megabyte before the first.
uint64_t NextFrameNeed(const std::string& folder, const std::string& framePrefix) {
    uint64_t largest = 0;
    for (const std::string& name : FindFrameFiles(folder, framePrefix).names) {
        std::error_code error;
        const uintmax_t size = fs::file_size(PathFromUtf8(folder + "/" + name), error);
        largest = error ? largest : std::max<uint64_t>(largest, size);
    }
    return largest > 0 ? largest : uint64_t{1} << 20;
}

FfmpegExtraction RunExtraction(const std::string& ffmpeg, const std::string& video,
                               const std::string& folder, const std::string& framePrefix,
                               const FrameOptions& options, int32_t frameCap,
                               const std::function<void(int32_t)>& onFrame,
                               const std::function<bool()>& stop,
                               const std::function<void(double)>& onSeconds = {}) {
    FfmpegExtraction result;
    FfmpegOutputParser parser;
    bool secondsTold = false;
    parser.onFrame = [&](int32_t frame) {
        // ffmpeg describes its input before the first progress line.
        if (!secondsTold && onSeconds) {
            secondsTold = true;
            onSeconds(parser.Seconds());
        }
        if (onFrame) {
            onFrame(frame);
        }
    };
    OutputTail tail;
    const FrameArguments chosen = FfmpegArgumentsFor(options);
    std::vector<std::string> arguments{"-nostdin", "-v", "verbose", "-y"};
    arguments.insert(arguments.end(), chosen.input.begin(), chosen.input.end());
    arguments.insert(arguments.end(), {"-i", AbsolutePath(video), "-map", "0:V:0"});
    arguments.insert(arguments.end(), chosen.output.begin(), chosen.output.end());
    if (frameCap > 0) {
        arguments.insert(arguments.end(), {"-frames:v", std::to_string(frameCap)});
    }
    arguments.push_back(OutputPattern(folder, framePrefix));
    result.run = RunFfmpeg(ffmpeg, arguments, parser, tail, stop, true);
    if (!result.run.stopped && !EndedWell(result.run)) {
        const std::string full = result.run.started && result.run.exited
                                     ? FullDiskReason(folder, NextFrameNeed(folder, framePrefix))
                                     : std::string();
        result.diskFull = !full.empty();
        result.error = WithReason("The frames could not be extracted.", result.run, tail,
                                  AbsolutePath(video), full);
    }
    // The summary counts every frame file written.
    if (parser.Found()) {
        result.reportedFrames = parser.Packets();
    } else if (parser.FrameFound()) {
        result.reportedFrames = parser.LastFrame();
    }
    result.seconds = parser.Seconds();
    return result;
}

}  // namespace

int32_t FramesPerPackage(int32_t maxFiles) {
    return std::max(maxFiles - 6, 0);
}

FrameFiles FindFrameFiles(const std::string& folder, const std::string& framePrefix) {
    FrameFiles found;
    std::vector<std::pair<std::u16string, std::string>> entries;
    std::error_code error;
    for (platform::FolderEntry& entry : platform::ListFolder(PathFromUtf8(folder), error)) {
        entries.emplace_back(SortKey(entry.name), std::move(entry.name));
    }
    std::sort(entries.begin(), entries.end());
    std::vector<std::pair<int32_t, std::string>> frames;
    for (auto& [key, name] : entries) {
        const int32_t number = FrameNumberOf(name, framePrefix);
        std::error_code ignored;
        if (number >= 0 && fs::is_regular_file(PathFromUtf8(folder + "/" + name), ignored)) {
            frames.emplace_back(number, std::move(name));
        } else {
            found.others.push_back(std::move(name));
        }
    }
    std::sort(frames.begin(), frames.end());
    for (auto& [number, name] : frames) {
        found.numbers.push_back(number);
        found.names.push_back(std::move(name));
    }
    return found;
}

std::string StaleFramesQuestion(const FrameFiles& found, const std::string& framePrefix) {
    std::string text = "This folder already holds " + std::to_string(found.names.size()) +
                       " frames named " + framePrefix +
                       "_#####.jpg from an earlier extraction.\r\nThey will be deleted before "
                       "the new frames are written.";
    if (!found.others.empty()) {
        text += "\r\nThe " + std::to_string(found.others.size()) +
                " other files in the folder are kept and will be packed with the new frames.";
    }
    return text;
}

std::string StaleFramesRemovedNotice(int32_t removed, const std::string& folder) {
    return "Deleted " + std::to_string(removed) + " frames of an earlier extraction from " +
           Shown(folder) + ".";
}

bool RemoveFrameFiles(const std::string& folder, const FrameFiles& found, std::string& error) {
    for (const std::string& name : found.names) {
        const std::string path = folder + "/" + name;
        std::error_code failure;
        // A frame gone since it was listed cannot be deleted either.
        if (!fs::remove(PathFromUtf8(path), failure) && !failure) {
            failure = std::make_error_code(std::errc::no_such_file_or_directory);
        }
        if (failure) {
            error = "Could not delete the old frame " + Shown(path) + ": " + ReasonOf(failure);
            return false;
        }
    }
    return true;
}

std::string TooManyFramesQuestion(int32_t counted, int32_t limit) {
    return "The video has " + std::to_string(counted) + " frames, but a package holds at most " +
           std::to_string(limit) + ".\r\nExtract only the first " + std::to_string(limit) +
           " frames?";
}

std::string TooManyFramesWarning(int32_t counted, int32_t limit) {
    return "Warning: the video has " + std::to_string(counted) +
           " frames, but a package holds at most " + std::to_string(limit) + "; only the first " +
           std::to_string(limit) + " were extracted.";
}

bool ExtractionJob::ShouldStop(const ExtractionHooks& hooks) const {
    return mStop || (hooks.stopRequested && hooks.stopRequested());
}

ExtractionOutcome ExtractionJob::Run(const ExtractionHooks& hooks) {
    using End = ExtractionOutcome::End;
    ExtractionOutcome outcome;
    outcome.limit = FramesPerPackage(mRequest.maxFiles);
    const std::string folder = AbsolutePath(mRequest.folder);
    auto fail = [&](const std::string& error) {
        outcome.end = End::Failed;
        outcome.error = error;
        return outcome;
    };
    std::error_code folderError;
    if (mRequest.folder.empty() || !fs::is_directory(PathFromUtf8(folder), folderError)) {
        std::string text = "The folder to extract to does not exist: \"" + mRequest.folder + "\"";
        // Not that it is missing, but that it cannot be looked at (a folder above it
        // is closed to the user, say).
        if (folderError && folderError != std::errc::no_such_file_or_directory &&
            folderError != std::errc::not_a_directory) {
            text += ": " + ReasonOf(folderError);
        }
        return fail(text);
    }
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        return fail(NotFoundText());
    }

    // Frames of an earlier, longer extraction would otherwise follow the new ones
    // into the package.
    const FrameFiles stale = FindFrameFiles(folder, mRequest.framePrefix);
    if (!stale.names.empty()) {
        if (hooks.replaceStale && !hooks.replaceStale(stale)) {
            outcome.end = End::Declined;
            return outcome;
        }
        std::string error;
        if (!RemoveFrameFiles(folder, stale, error)) {
            return fail(error);
        }
        outcome.removedStale = static_cast<int32_t>(stale.names.size());
    }
    if (hooks.beforeCount) {
        hooks.beforeCount();
    }
    const auto stop = [this, &hooks] { return ShouldStop(hooks); };
    const FrameOptions& options = mRequest.options;
    // The frames written follow the rate ffmpeg writes at, not the packets the
    // count copies: a variable-rate clip gives more frames than it holds. The
    // clip's facts say so, as the Frames dialog shows them; without ffprobe the
    // count's figure stands.
    const ClipFacts facts =
        FindFfprobe().empty() ? ClipFacts() : ReadClipFacts(mRequest.video, stop);
    const int32_t foreseen = facts.ok && facts.probed ? ExpectedFrames(options, facts) : 0;
    const bool byCount = !options.ChangesFrames() && (foreseen == 0 || facts.framesExact);
    const auto expectedOf = [&](int32_t fromCount) {
        return byCount || foreseen == 0 ? fromCount : foreseen;
    };
    const auto announceExpected = [&](int32_t expected) {
        if (hooks.onExpected) {
            hooks.onExpected(std::min(foreseen > 0 ? foreseen : expected, outcome.limit), byCount);
        }
    };
    // ffmpeg writes nothing then, and says only that nothing was encoded.
    const auto startsBeyondEnd = [&](double seconds) {
        return options.start && seconds >= 0 && ParseTime(*options.start).value_or(0) >= seconds;
    };
    double clipSeconds = -1.0;
    if (ShouldStop(hooks)) {
        outcome.end = End::Stopped;
        return outcome;
    }

    FfmpegExtraction extraction;
    std::optional<CountOutcome> counted;
    if (!mRequest.countBeside) {
        counted = CountFrames(mRequest.video, stop);
        if (counted->stopped) {
            outcome.end = End::Stopped;
            return outcome;
        }
        if (!counted->ok) {
            return fail(counted->error);
        }
        outcome.counted = counted->frames;
        outcome.expected = expectedOf(ExpectedFrames(options, counted->frames, counted->seconds));
        clipSeconds = counted->seconds;
        if (startsBeyondEnd(clipSeconds)) {
            return fail(StartBeyondEndText(*options.start, counted->seconds));
        }
        if (hooks.onCounted) {
            hooks.onCounted(outcome.counted);
        }
        announceExpected(outcome.expected);
        // With options the count is of the whole clip, not of what is written.
        int32_t cap = byCount ? 0 : outcome.limit;
        if (outcome.expected > outcome.limit) {
            if (hooks.trimToLimit && !hooks.trimToLimit(outcome.expected, outcome.limit)) {
                outcome.end = End::Declined;
                return outcome;
            }
            cap = outcome.limit;
        }
        extraction = RunExtraction(ffmpeg, mRequest.video, folder, mRequest.framePrefix, options,
                                   cap, hooks.onFrame, stop);
    } else if (options.fps) {
        // At a rate of its own the clip's frame count says nothing of what is
        // written: the duration ffmpeg reports of its input gives the total, and
        // the extraction runs alone.
        extraction = RunExtraction(ffmpeg, mRequest.video, folder, mRequest.framePrefix, options,
                                   outcome.limit, hooks.onFrame, stop, [&](double seconds) {
                                       announceExpected(ExpectedFrames(options, 0, seconds));
                                   });
        if (!extraction.run.stopped && !extraction.error.empty()) {
            // A video ffmpeg cannot read: said in the count's words, as without the rate.
            const CountOutcome count = CountFrames(mRequest.video, stop);
            if (count.stopped) {
                outcome.end = End::Stopped;
                return outcome;
            }
            if (!count.ok) {
                return fail(count.error);
            }
        }
        clipSeconds = extraction.seconds;
        outcome.expected = expectedOf(ExpectedFrames(options, 0, clipSeconds));
    } else {
        // The count thread serves no events: they belong to the thread that owns them.
        std::atomic<bool> abandon = false;
        std::future<CountOutcome> counting = std::async(std::launch::async, [&] {
            return CountFrames(
                mRequest.video, [&] { return abandon || ShouldStop(hooks); }, false);
        });
        const auto takeCount = [&](bool wait) {
            if (!counted &&
                (wait || counting.wait_for(std::chrono::seconds(0)) == std::future_status::ready)) {
                counted = counting.get();
                if (counted->ok) {
                    if (hooks.onCounted) {
                        hooks.onCounted(counted->frames);
                    }
                    announceExpected(ExpectedFrames(options, counted->frames, counted->seconds));
                }
            }
        };
        extraction = RunExtraction(
            ffmpeg, mRequest.video, folder, mRequest.framePrefix, mRequest.options, outcome.limit,
            [&](int32_t frame) {
                takeCount(false);
                if (hooks.onFrame) {
                    hooks.onFrame(frame);
                }
            },
            stop);
        abandon = extraction.run.stopped;
        takeCount(true);
        // A video ffmpeg cannot read fails both runs; the count says so first.
        if (!extraction.run.stopped) {
            if (counted->stopped) {
                outcome.end = End::Stopped;
                return outcome;
            }
            if (!counted->ok) {
                return fail(counted->error);
            }
        }
        if (counted->ok) {
            outcome.counted = counted->frames;
            outcome.expected =
                expectedOf(ExpectedFrames(options, counted->frames, counted->seconds));
            clipSeconds = counted->seconds;
        }
    }

    if (extraction.run.stopped) {
        RemoveUnfinishedFrames(folder, mRequest.framePrefix);
        outcome.end = End::Stopped;
        return outcome;
    }
    // A start past the end writes nothing: ffmpeg 5 then ends well, ffmpeg 7 fails.
    // Either way the user is told why, not that ffmpeg failed.
    const FrameFiles written = FindFrameFiles(folder, mRequest.framePrefix);
    if (written.names.empty() && startsBeyondEnd(clipSeconds)) {
        return fail(StartBeyondEndText(*options.start, clipSeconds));
    }
    if (!extraction.error.empty()) {
        if (extraction.diskFull) {
            RemoveUnfinishedFrames(folder, mRequest.framePrefix);  // the one cut short
        }
        return fail(extraction.error);
    }

    // What the package is built from is what is on disk: frames 1 to N with
    // nothing missing, N being what ffmpeg says it wrote.
    if (written.names.empty()) {
        return fail("ffmpeg wrote no frames (" +
                    Shown(folder + "/" + mRequest.framePrefix + "_00001.jpg") + " is missing).");
    }
    const int32_t onDisk = static_cast<int32_t>(written.numbers.size());
    const bool numberedFromOne = written.numbers.front() == 1 && written.numbers.back() == onDisk;
    if (!numberedFromOne ||
        (extraction.reportedFrames >= 0 && extraction.reportedFrames != onDisk)) {
        return fail("ffmpeg reported " + std::to_string(extraction.reportedFrames) +
                    " frames, but " + std::to_string(onDisk) + " frames numbered " +
                    std::to_string(written.numbers.front()) + " to " +
                    std::to_string(written.numbers.back()) + " are in " + Shown(folder) + ".");
    }
    outcome.written = onDisk;
    // An estimate can be off by a frame; only a cut at the limit means frames were left out.
    outcome.trimmed = byCount ? outcome.counted > outcome.limit
                              : outcome.expected > outcome.limit && onDisk == outcome.limit;
    outcome.end = End::Done;
    return outcome;
}

namespace {

// The numbers of a TIME's parts as Qt's toDouble read them: whole decimal text,
// a value too large for a double being infinite and one too small zero.
double DecimalValue(std::string_view digits) {
    double value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range) {
        const std::size_t point = digits.find('.');
        const bool whole = digits.substr(0, point).find_first_not_of('0') != std::string_view::npos;
        return whole ? std::numeric_limits<double>::infinity() : 0.0;
    }
    return value;
}

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Digits, then optionally "." and digits.
bool IsDecimal(std::string_view text) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    if (whole.empty() || !AllDigits(whole)) {
        return false;
    }
    if (point == std::string_view::npos) {
        return true;
    }
    const std::string_view fraction = text.substr(point + 1);
    return !fraction.empty() && AllDigits(fraction);
}

}  // namespace

std::optional<double> ParseTime(const std::string& text) {
    // Seconds ("90", "1.5") or [HH:]MM:SS[.fff]; like a regular expression's "$",
    // the end may come before one final line feed.
    std::string_view time(text);
    if (time.ends_with('\n')) {
        time.remove_suffix(1);
    }
    if (IsDecimal(time)) {
        return DecimalValue(time);
    }
    const std::vector<std::string> parts = Split(time, ':');
    if (parts.size() != 2 && parts.size() != 3) {
        return std::nullopt;
    }
    const bool withHours = parts.size() == 3;
    const std::string& hoursText = parts[0];
    const std::string& minutesText = parts[withHours ? 1 : 0];
    const std::string& secondsText = parts[withHours ? 2 : 1];
    if ((withHours && (hoursText.empty() || !AllDigits(hoursText))) || minutesText.empty() ||
        minutesText.size() > 2 || !AllDigits(minutesText) || secondsText.size() < 2 ||
        !AllDigits(std::string_view(secondsText).substr(0, 2)) ||
        (secondsText.size() > 2 && (secondsText[2] != '.' || !IsDecimal(secondsText)))) {
        return std::nullopt;
    }
    const double hours = withHours ? DecimalValue(hoursText) : 0;
    const double minutes = DecimalValue(minutesText);
    const double secondsPart = DecimalValue(secondsText);
    if (minutes >= 60 || secondsPart >= 60) {
        return std::nullopt;
    }
    return hours * 3600 + minutes * 60 + secondsPart;
}

std::string FrameOptionsRefusal(const FrameOptions& options) {
    if (options.fps && !(*options.fps > 0 && *options.fps <= kMaxFps)) {
        return "--fps " + GeneralText(*options.fps, 6) + " is out of range: above 0 and at most " +
               GeneralText(kMaxFps, 6) + " frames a second.";
    }
    if (options.quality && (*options.quality < kBestQuality || *options.quality > kWorstQuality)) {
        return "--quality " + std::to_string(*options.quality) +
               " is out of range: " + std::to_string(kBestQuality) + " (best) to " +
               std::to_string(kWorstQuality) + ".";
    }
    if (options.width && (*options.width < kMinWidth || *options.width > kMaxWidth)) {
        return "--width " + std::to_string(*options.width) +
               " is out of range: " + std::to_string(kMinWidth) + " to " +
               std::to_string(kMaxWidth) + " pixels.";
    }
    const std::string timeForms = "seconds (90, 1.5) or [HH:]MM:SS[.fff] (01:30, 00:01:30.250)";
    if (options.start && !ParseTime(*options.start)) {
        return "--start \"" + *options.start + "\" is no TIME: " + timeForms + ".";
    }
    if (options.duration) {
        const std::optional<double> duration = ParseTime(*options.duration);
        if (!duration) {
            return "--duration \"" + *options.duration + "\" is no TIME: " + timeForms + ".";
        }
        if (*duration <= 0) {
            return "--duration must be longer than 0.";
        }
    }
    return {};
}

// Times go to ffmpeg in seconds, a form every version reads the same.
FrameArguments FfmpegArgumentsFor(const FrameOptions& options) {
    FrameArguments arguments;
    const auto inSeconds = [](const std::string& time) {
        return FixedText(ParseTime(time).value_or(0), 6);
    };
    if (options.start) {
        arguments.input.insert(arguments.input.end(), {"-ss", inSeconds(*options.start)});
    }
    if (options.duration) {
        arguments.input.insert(arguments.input.end(), {"-t", inSeconds(*options.duration)});
    }
    // The rate first, so only the frames kept are scaled.
    std::vector<std::string> filters;
    if (options.fps) {
        filters.push_back("fps=" + GeneralText(*options.fps, 12));
    }
    if (options.width) {
        // -2: the height that keeps the aspect ratio, rounded to an even number.
        filters.push_back("scale=" + std::to_string(*options.width) + ":-2");
    }
    if (!filters.empty()) {
        arguments.output.insert(arguments.output.end(), {"-vf", Join(filters, ",")});
    }
    if (options.quality) {
        arguments.output.insert(arguments.output.end(), {"-q:v", std::to_string(*options.quality)});
    }
    return arguments;
}

int32_t ExpectedFrames(const FrameOptions& options, int32_t counted, double seconds) {
    if (!options.ChangesFrames()) {
        return counted;
    }
    if (seconds <= 0) {
        return 0;
    }
    const double start = options.start ? ParseTime(*options.start).value_or(0) : 0;
    double window = std::max(seconds - start, 0.0);
    if (options.duration) {
        window = std::min(window, ParseTime(*options.duration).value_or(window));
    }
    const double rate = options.fps ? *options.fps : counted / seconds;
    return static_cast<int32_t>(std::lround(std::min(window * rate, 1e9)));
}

std::string StartBeyondEndText(const std::string& start, double seconds) {
    return "The start " + start + " lies beyond the clip's end: the clip lasts " +
           FixedText(seconds, 3) + " s. No frames were written.";
}

std::string TooManyFramesAboutWarning(int32_t expected, int32_t limit) {
    return "Warning: the chosen part of the video gives about " + std::to_string(expected) +
           " frames, but a package holds at most " + std::to_string(limit) + "; only the first " +
           std::to_string(limit) + " were extracted.";
}

int32_t AnimationDurationFor(int32_t frameCount) {
    if (frameCount < 0) {
        return static_cast<int32_t>(std::lround(frameCount / 30.0 * 1000.0));
    }
    // frames / 30 * 1000 rounded, exactly; past 64424509 frames it no longer fits.
    const int64_t milliseconds = (int64_t{100} * frameCount + 1) / 3;
    return static_cast<int32_t>(
        std::min<int64_t>(milliseconds, std::numeric_limits<int32_t>::max()));
}

}  // namespace sparkloom
