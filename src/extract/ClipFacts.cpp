#include "extract/ClipFacts.h"

#include <charconv>
#include <cmath>
#include <filesystem>
#include <system_error>

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
    return LeadingNumber(line.substr(start + 1, at - start - 1), value);
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
    double seconds = 0;
    if (facts.seconds < 0 && DurationOfLine(line, seconds)) {
        facts.seconds = seconds;
        return;
    }
    // Only the first input's first video stream that is not cover art.
    if (facts.width == 0 && line.find("Stream #0:") != std::string_view::npos &&
        line.find(": Video: ") != std::string_view::npos &&
        line.find("(attached pic)") == std::string_view::npos) {
        if (Dimensions(line, facts.width, facts.height)) {
            double rate = 0;
            if (NumberBefore(line, " fps", rate) || NumberBefore(line, " tbr", rate)) {
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
    // With no output ffmpeg describes its input and stops before decoding anything.
    std::string pending;
    std::string tail;
    const auto take = [&](std::string_view line) {
        TakeClipFactsLine(line, facts);
        if (!Trimmed(line).empty()) {
            tail = std::string(line);
        }
    };
    const ExecResult run = ExecAndCapture(
        ffmpeg, {"-nostdin", "-hide_banner", "-i", error ? videoFile : absolute}, {},
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
        std::string reason = FfmpegFailureReason(tail, error ? videoFile : absolute);
        if (reason.empty() || tail.find("output file") != std::string::npos) {
            reason = "It holds no video stream.";
        }
        facts.error = "The video could not be read.\n" + reason;
        return facts;
    }
    if (facts.fps > 0 && facts.seconds > 0) {
        facts.frames = static_cast<int32_t>(std::lround(facts.seconds * facts.fps));
    }
    facts.ok = true;
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
    if (seconds >= 0) {
        text += ", " + ClockText(seconds);
    }
    if (frames > 0) {
        text += ", " + GroupedNumber(frames) + " frames";
    }
    return text;
}

}  // namespace sparkloom
