#include "extract/ClipFacts.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/EventPump.h"
#include "common/Text.h"
#include "extract/ExecAndCapture.h"
#include "extract/Extraction.h"
#include "extract/FrameCount.h"

namespace sparkloom {

namespace {

// A decimal number at the start of text, in the C locale's form.
bool LeadingNumber(std::string_view text, double& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end != text.data();
}

// The number just before " suffix" in a stream description ("59.94 fps").
bool NumberBefore(std::string_view line, std::string_view suffix, double& value) {
    const size_t at = line.find(suffix);
    if (at == std::string_view::npos) {
        return false;
    }
    const size_t start = line.find_last_of(' ', at - 1);
    if (start == std::string_view::npos || start + 1 >= at) {
        return false;
    }
    const std::string_view number = line.substr(start + 1, at - start - 1);
    if (!LeadingNumber(number, value)) {
        return false;
    }
    // ffmpeg shortens a rate of a thousand or more: "1k tbr".
    if (number.ends_with('k')) {
        value *= 1000;
    }
    return true;
}

// "1920x1080" among the stream's comma-separated parts.
bool Dimensions(std::string_view line, int& width, int& height) {
    for (const std::string& part : Split(line, ',')) {
        std::string_view text = Trimmed(part);
        const size_t x = text.find('x');
        if (x == 0 || x == std::string_view::npos) {
            continue;
        }
        int w = 0;
        int h = 0;
        const auto first = std::from_chars(text.data(), text.data() + x, w);
        const auto second = std::from_chars(text.data() + x + 1, text.data() + text.size(), h);
        const bool ends = second.ptr == text.data() + text.size() || *second.ptr == ' ';
        if (first.ec == std::errc() && first.ptr == text.data() + x && second.ec == std::errc() &&
            second.ptr != text.data() + x + 1 && ends && w > 0 && h > 0) {
            width = w;
            height = h;
            return true;
        }
    }
    return false;
}

std::string TwoDigits(int64_t value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

}  // namespace

void TakeClipFactsLine(std::string_view line, ClipFacts& facts) {
    // Only the first input's first video stream that is not cover art.
    if (facts.width == 0 && line.find("Stream #0:") != std::string_view::npos &&
        line.find(": Video: ") != std::string_view::npos &&
        line.find("(attached pic)") == std::string_view::npos) {
        if (Dimensions(line, facts.width, facts.height)) {
            double rate = 0;
            // "tbr" is the rate the frames are written at; "fps" the average.
            if (NumberBefore(line, " tbr", rate) || NumberBefore(line, " fps", rate)) {
                facts.fps = rate;
            }
        }
        return;
    }
    // A phone's portrait clip: ffmpeg turns the frames upright as it writes them.
    if (facts.width > 0 && line.find("rotation of") != std::string_view::npos) {
        double degrees = 0;
        const size_t at = line.find("rotation of") + 12;
        if (at < line.size() && LeadingNumber(line.substr(at), degrees) &&
            std::lround(std::fabs(degrees)) % 180 == 90) {
            std::swap(facts.width, facts.height);
        }
    }
}

namespace {

using Json = nlohmann::json;

const Json* Member(const Json& object, const char* name) {
    if (!object.is_object()) {
        return nullptr;
    }
    const auto found = object.find(name);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

// ffprobe writes times and counts as strings ("2.000000", "60"), numbers as numbers.
std::optional<double> NumberOf(const Json& object, const char* name) {
    const Json* value = Member(object, name);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (value->is_number()) {
        const double number = value->get<double>();
        return std::isfinite(number) ? std::optional<double>(number) : std::nullopt;
    }
    double number = 0;
    if (value->is_string() && LeadingNumber(value->get_ref<const std::string&>(), number) &&
        std::isfinite(number)) {
        return number;
    }
    return std::nullopt;
}

// "60000/1001"; 0 for "0/0" and anything unreadable.
double RateOf(const Json& stream, const char* name) {
    const Json* value = Member(stream, name);
    if (value == nullptr || !value->is_string()) {
        return 0;
    }
    const std::string& text = value->get_ref<const std::string&>();
    const size_t slash = text.find('/');
    double numerator = 0;
    double denominator = 1;
    if (!LeadingNumber(text, numerator) ||
        (slash != std::string::npos &&
         !LeadingNumber(std::string_view(text).substr(slash + 1), denominator)) ||
        !(numerator > 0) || !(denominator > 0)) {
        return 0;
    }
    const double rate = numerator / denominator;
    return std::isfinite(rate) ? rate : 0;
}

// The rate ffmpeg gives the frames it writes to images (av_guess_frame_rate):
// the stream's r_frame_rate, unless that is a container's fine time base
// rather than a rate and the average is an ordinary one.
double WrittenRate(const Json& stream) {
    const double real = RateOf(stream, "r_frame_rate");
    const double average = RateOf(stream, "avg_frame_rate");
    if (real <= 0 || (average > 0 && average < 70 && real > 210)) {
        return average;
    }
    return real;
}

double RotationOf(const Json& stream) {
    if (const Json* list = Member(stream, "side_data_list"); list != nullptr && list->is_array()) {
        for (const Json& entry : *list) {
            if (const std::optional<double> degrees = NumberOf(entry, "rotation")) {
                return *degrees;
            }
        }
    }
    if (const Json* tags = Member(stream, "tags")) {
        if (const std::optional<double> degrees = NumberOf(*tags, "rotate")) {
            return *degrees;
        }
    }
    return 0;
}

// Matroska keeps each stream's length in a "DURATION" tag ("00:00:03.000000000").
std::optional<double> TaggedDuration(const Json& stream) {
    const Json* tags = Member(stream, "tags");
    const Json* text = tags == nullptr ? nullptr : Member(*tags, "DURATION");
    if (text == nullptr || !text->is_string()) {
        return std::nullopt;
    }
    return ParseTime(text->get<std::string>());
}

// What "-map 0:V:0" takes: the first video stream that is no cover art.
const Json* ChosenStream(const Json& probe) {
    const Json* streams = probe.is_discarded() ? nullptr : Member(probe, "streams");
    if (streams == nullptr || !streams->is_array()) {
        return nullptr;
    }
    for (const Json& stream : *streams) {
        const Json* type = Member(stream, "codec_type");
        const Json* disposition = Member(stream, "disposition");
        const bool picture =
            disposition != nullptr && NumberOf(*disposition, "attached_pic").value_or(0) != 0;
        if (type != nullptr && *type == "video" && !picture) {
            return &stream;
        }
    }
    return nullptr;
}

double FileStartOf(const Json& probe) {
    const Json* format = probe.is_discarded() ? nullptr : Member(probe, "format");
    return format == nullptr ? 0 : NumberOf(*format, "start_time").value_or(0);
}

ClipFacts FactsOfProbe(const Json& probe) {
    ClipFacts facts;
    const Json* chosen = ChosenStream(probe);
    if (chosen == nullptr) {
        facts.error = "The video could not be read.\nIt holds no video stream.";
        return facts;
    }
    const Json& stream = *chosen;
    const Json empty = Json::object();
    const Json* format = Member(probe, "format");
    const Json& container = format != nullptr ? *format : empty;
    // No picture is larger than ffmpeg's own limit of 16384 a side, far below int's.
    const auto side = [&stream](const char* name) {
        const double value = NumberOf(stream, name).value_or(0);
        return value >= 1 && value <= 65536 ? static_cast<int>(value) : 0;
    };
    facts.width = side("width");
    facts.height = side("height");
    if (std::fmod(std::abs(std::round(RotationOf(stream))), 180.0) == 90) {
        std::swap(facts.width, facts.height);
    }
    facts.fps = WrittenRate(stream);
    // ffmpeg's -ss counts from the file's start, where the first of its streams begins.
    const double fileStart = FileStartOf(probe);
    facts.start = std::max(NumberOf(stream, "start_time").value_or(fileStart) - fileStart, 0.0);
    if (!std::isfinite(facts.start)) {
        facts.start = 0;
    }
    std::optional<double> seconds = NumberOf(stream, "duration");
    if (!seconds) {
        seconds = TaggedDuration(stream);
    }
    if (!seconds) {
        if (const std::optional<double> whole = NumberOf(container, "duration")) {
            seconds = *whole - facts.start;
        }
    }
    if (seconds && *seconds > 0 && std::isfinite(*seconds)) {
        facts.seconds = *seconds;
    }
    const std::optional<double> counted = NumberOf(stream, "nb_frames");
    const double average = RateOf(stream, "avg_frame_rate");
    // A container's count is what is written only when the stream keeps one rate.
    if (counted && *counted > 0 && facts.fps > 0 && std::abs(average / facts.fps - 1) < 0.001) {
        facts.frames = static_cast<int32_t>(std::min(*counted, 1e9));
        facts.framesExact = true;
    } else if (facts.fps > 0 && facts.seconds > 0) {
        facts.frames = static_cast<int32_t>(std::lround(std::min(facts.seconds * facts.fps, 1e9)));
    }
    if (facts.width <= 0 || facts.height <= 0) {
        facts.error = "The video could not be read.\nIts video stream has no size.";
        return facts;
    }
    facts.probed = true;
    facts.ok = true;
    return facts;
}

}  // namespace

ClipFacts ClipFactsOfProbe(std::string_view json) {
    return FactsOfProbe(Json::parse(json.begin(), json.end(), nullptr, false));
}

std::string ProbeMissingText() {
#ifdef _WIN32
    return "ffprobe.exe is missing beside ffmpeg.exe: the clip's length is unknown.";
#else
    return "ffprobe is missing beside ffmpeg: the clip's length is unknown.";
#endif
}

int32_t ExpectedFrames(const FrameOptions& options, const ClipFacts& facts) {
    if (!options.ChangesFrames()) {
        return facts.frames;
    }
    const double rate = options.fps.value_or(facts.fps);
    if (facts.seconds <= 0 || rate <= 0) {
        return 0;
    }
    // The part asked for, in the file's time, cut to where the stream has frames.
    const double from = options.start ? ParseTime(*options.start).value_or(0) : 0;
    double to = facts.start + facts.seconds;
    if (options.duration) {
        to = std::min(to, from + ParseTime(*options.duration).value_or(to));
    }
    const double window = std::max(to - std::max(from, facts.start), 0.0);
    // Any part with a frame in it gives at least that frame.
    return window > 0 ? std::max<int32_t>(
                            1, static_cast<int32_t>(std::lround(std::min(window * rate, 1e9))))
                      : 0;
}

namespace {

// Where the stream's last packet ends, in the file's time, read by ffprobe
// without decoding: from `from` seconds on (a seek), or all of them when
// from < 0 (a container that keeps no length). A container's length can be
// cut short of its last frames (a variable-rate MP4 with B-frames), the
// packets cannot.
std::optional<double> PacketsEnd(const std::string& ffprobe, const std::string& video, int index,
                                 double from, const std::function<bool()>& stop, bool serveEvents) {
    std::string pending;
    double last = -std::numeric_limits<double>::infinity();
    const auto take = [&](std::string_view line) {
        const std::vector<std::string> parts = Split(Trimmed(line), ',');
        double pts = 0;
        double duration = 0;
        if (!parts.empty() && LeadingNumber(parts[0], pts)) {
            if (parts.size() < 2 || !LeadingNumber(parts[1], duration)) {
                duration = 0;
            }
            last = std::max(last, pts + duration);
        }
    };
    std::vector<std::string> arguments{"-v", "error", "-select_streams", std::to_string(index)};
    if (from >= 0) {
        char start[64];
        const auto end =
            std::to_chars(start, start + sizeof start, from, std::chars_format::fixed, 3).ptr;
        arguments.insert(arguments.end(), {"-read_intervals", std::string(start, end) + "%"});
    }
    arguments.insert(arguments.end(),
                     {"-show_entries", "packet=pts_time,duration_time", "-of", "csv=p=0", video});
    const ExecResult run = ExecAndCapture(
        ffprobe, arguments, {},
        [&](std::string_view bytes) {
            pending.append(bytes);
            for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
                take(std::string_view(pending).substr(0, end));
                pending.erase(0, end + 1);
            }
        },
        stop, serveEvents);
    take(pending);
    if (!run.started || !run.exited || run.exitCode != 0 || !std::isfinite(last)) {
        return std::nullopt;
    }
    return last;
}

// Without ffprobe, ffmpeg's banner still tells the size and the rate; its
// duration is the container's, which may be the audio's, so it is not taken.
ClipFacts BannerFacts(const std::string& ffmpeg, const std::string& video,
                      const std::function<bool()>& stop, bool serveEvents) {
    ClipFacts facts;
    std::string pending;
    std::string tail;
    const auto take = [&](std::string_view line) {
        TakeClipFactsLine(line, facts);
        if (!Trimmed(line).empty()) {
            tail = std::string(line);
        }
    };
    // With no output ffmpeg describes its input and stops before decoding anything.
    const ExecResult run = ExecAndCapture(
        ffmpeg, {"-nostdin", "-hide_banner", "-i", video}, {},
        [&](std::string_view bytes) {
            pending.append(bytes);
            for (size_t end; (end = pending.find_first_of("\r\n")) != std::string::npos;) {
                take(std::string_view(pending).substr(0, end));
                pending.erase(0, end + 1);
            }
        },
        stop, serveEvents);
    take(pending);
    if (!run.started) {
        facts.error = run.error;
        return facts;
    }
    if (facts.width == 0) {
        std::string reason = FfmpegFailureReason(tail, video);
        if (reason.empty() || tail.find("output file") != std::string::npos) {
            reason = "It holds no video stream.";
        }
        facts.error = "The video could not be read.\n" + reason;
        return facts;
    }
    facts.seconds = -1;
    facts.frames = 0;
    facts.ok = true;
    return facts;
}

}  // namespace

ClipFacts ReadClipFacts(const std::string& videoFile, const std::function<bool()>& stop,
                        bool serveEvents) {
    ClipFacts facts;
    const std::string ffmpeg = FindFfmpeg();
    if (ffmpeg.empty()) {
        facts.error = FfmpegNotFoundText();
        return facts;
    }
    std::error_code error;
    const std::string absolute =
        Utf8Of(std::filesystem::absolute(PathFromUtf8(videoFile), error).lexically_normal());
    const std::string video = error ? videoFile : absolute;
    const std::string ffprobe = FindFfprobe();
    if (ffprobe.empty()) {
        return BannerFacts(ffmpeg, video, stop, serveEvents);
    }
    std::string json;
    std::string errors;
    platform::ChildRequest request;
    request.program = ffprobe;
    request.arguments = {"-v", "error", "-of", "json", "-show_format", "-show_streams", video};
    request.output = [&](const char* data, size_t size) { json.append(data, size); };
    request.errorOutput = [&](const char* data, size_t size) {
        errors.append(data, std::min<size_t>(size, 4096));
    };
    request.stop = stop;
    if (serveEvents) {
        request.pump = PumpEvents;
    }
    const ExecResult run = platform::RunChild(request);
    if (!run.started) {
        facts.error = run.error;
        return facts;
    }
    if (run.stopped) {
        facts.error = "Stopped.";
        return facts;
    }
    if (!run.exited || run.exitCode != 0) {
        std::string reason = FfmpegFailureReason(errors, video);
        facts.error = "The video could not be read." + (reason.empty() ? "" : "\n" + reason);
        return facts;
    }
    const Json probe = Json::parse(json, nullptr, false);
    facts = FactsOfProbe(probe);
    if (!facts.ok) {
        return facts;
    }
    // The last few seconds are enough where the length is known; a seek finds them.
    const double fileStart = FileStartOf(probe);
    const double from =
        facts.seconds < 0 ? -1 : std::max(fileStart + facts.start + facts.seconds - 3, 0.0);
    const int index = static_cast<int>(NumberOf(*ChosenStream(probe), "index").value_or(-1));
    if (const std::optional<double> end =
            PacketsEnd(ffprobe, video, index, from, stop, serveEvents);
        end && *end - fileStart - facts.start > 0) {
        const double seconds = *end - fileStart - facts.start;
        if (std::abs(seconds - facts.seconds) > 1e-3) {
            facts.seconds = seconds;
            facts.framesExact = false;
            facts.frames = static_cast<int32_t>(std::lround(std::min(seconds * facts.fps, 1e9)));
        }
    }
    return facts;
}

std::string RateText(double fps) {
    const int64_t hundredths = std::llround(fps * 100);
    std::string text = std::to_string(hundredths / 100);
    if (const int64_t fraction = hundredths % 100; fraction != 0) {
        text += "." + TwoDigits(fraction);
        if (text.back() == '0') {
            text.pop_back();
        }
    }
    return text;
}

std::string ClockText(double seconds, bool whole) {
    const int64_t hundredths = std::llround(std::max(seconds, 0.0) * 100);
    const int64_t totalSeconds = hundredths / 100;
    std::string text;
    if (totalSeconds >= 3600) {
        text = std::to_string(totalSeconds / 3600) + ":" + TwoDigits(totalSeconds / 60 % 60);
    } else {
        text = std::to_string(totalSeconds / 60);
    }
    text += ":" + TwoDigits(totalSeconds % 60);
    if (!whole || hundredths % 100 != 0) {
        text += "." + TwoDigits(hundredths % 100);
    }
    return text;
}

std::string GroupedNumber(int64_t number) {
    std::string digits = std::to_string(number < 0 ? -number : number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return (number < 0 ? "-" : "") + digits;
}

std::string ClipFacts::Summary() const {
    std::string text = std::to_string(width) + " \u00d7 " + std::to_string(height);
    if (fps > 0) {
        text += ", " + RateText(fps) + " frames a second";
    }
    text += ", " + (seconds >= 0 ? ClockText(seconds) : std::string("length unknown"));
    if (frames > 0) {
        text += ", " + GroupedNumber(frames) + " frames";
    }
    return text;
}

}  // namespace sparkloom
