#include "extract/FrameCount.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>
#include <vector>

#include "common/Text.h"

namespace sparkloom {

namespace {

// A bare LF stays inside a line, so it separates a number from what follows like a blank.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

// What QByteArray::toInt accepted: a decimal int with blanks before it and a
// sign, then only blanks; a NUL ends the text.
bool ReadInt(std::string_view text, int& value) {
    std::size_t at = 0;
    while (at < text.size() && IsSpace(text[at])) {
        ++at;
    }
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        ++at;
    }
    const std::size_t first = at;
    int64_t magnitude = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        magnitude = magnitude * 10 + (text[at] - '0');
        if (magnitude > int64_t{std::numeric_limits<int>::max()} + 1) {
            return false;
        }
    }
    if (at == first) {
        return false;
    }
    if (at < text.size() && text[at] != '\0') {
        while (at < text.size() && IsSpace(text[at])) {
            ++at;
        }
        if (at < text.size() && text[at] != '\0') {
            return false;
        }
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int>::max()) {
        return false;
    }
    value = static_cast<int>(signedValue);
    return true;
}

// What QByteArray::toDouble accepted: a decimal number with blanks around it,
// a sign, a fraction and an exponent, that neither overflows nor underflows;
// also "nan", "inf", "+inf", "-inf" alone, and blanks alone as 0.
bool ReadDouble(std::string_view text, double& value) {
    if (text.empty()) {
        return false;
    }
    if (text == "nan") {
        value = std::numeric_limits<double>::quiet_NaN();
        return true;
    }
    if (text == "inf" || text == "+inf" || text == "-inf") {
        value = text[0] == '-' ? -std::numeric_limits<double>::infinity()
                               : std::numeric_limits<double>::infinity();
        return true;
    }
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && IsSpace(text[end - 1])) {
        --end;
    }
    text = text.substr(begin, end - begin);
    if (text.empty()) {
        value = 0;
        return true;
    }
    if (text[0] == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text[0] == '-') {
            return false;
        }
    }
    // Only the forms of a plain decimal number reach the conversion.
    std::size_t at = text.starts_with('-') ? 1 : 0;
    std::size_t digits = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        ++digits;
    }
    if (at < text.size() && text[at] == '.') {
        for (++at; at < text.size() && IsDigit(text[at]); ++at) {
            ++digits;
        }
    }
    if (digits == 0) {
        return false;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
            ++at;
        }
        const std::size_t first = at;
        for (; at < text.size() && IsDigit(text[at]); ++at) {
        }
        if (at == first) {
            return false;
        }
    }
    if (at != text.size()) {
        return false;
    }
    double parsed = 0;
    const auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (stop != text.data() + text.size() || error != std::errc() || !std::isfinite(parsed)) {
        return false;  // too large, or too small to be told from 0
    }
    value = parsed;
    return true;
}

}  // namespace

bool FrameNumberOfLine(std::string_view line, int32_t& number) {
    if (AsciiLower(line).find("frame=") == std::string::npos) {
        return false;
    }
    // The number must follow the lower-case tag (repeated tags and blanks may
    // stand between them); any other case leaves junk in front. Cutting every tag
    // out of the whole line instead would join digits written before the tag, or
    // between two tags, into a number the line does not hold.
    constexpr std::string_view tag("frame=");
    std::size_t at = 0;
    const auto skipBlanks = [&] {
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
    };
    skipBlanks();
    bool tagged = false;
    while (line.substr(at).starts_with(tag)) {
        at += tag.size();
        tagged = true;
        skipBlanks();
    }
    if (!tagged) {
        return false;
    }
    const std::size_t first = at;
    int64_t value = 0;
    for (; at < line.size() && IsDigit(line[at]); ++at) {
        value = value * 10 + (line[at] - '0');
        if (value > std::numeric_limits<int32_t>::max()) {
            return false;
        }
    }
    if (at == first || (at < line.size() && !IsBlank(line[at]))) {
        return false;
    }
    number = static_cast<int32_t>(value);
    return true;
}

void FrameLineParser::Feed(std::string_view bytes) {
    for (const char c : bytes) {
        const bool lfOfCrLf = mPendingCr && c == '\n';
        mPendingCr = false;
        if (lfOfCrLf) {
            continue;
        }
        if (c == '\r') {
            TakeLine(mPending);
            mPending.clear();
            mPendingCr = true;
        } else {
            mPending += c;
        }
    }
}

void FrameLineParser::Finish() {
    if (!mPending.empty()) {
        TakeLine(mPending);
        mPending.clear();
    }
    mPendingCr = false;
}

void FrameLineParser::TakeLine(std::string_view line) {
    int32_t number = 0;
    if (!FrameNumberOfLine(line, number)) {
        return;
    }
    mCount = number;
    mFound = true;
    if (onFrame) {
        onFrame(number);
    }
}

bool PacketsMuxedOfLine(std::string_view line, int32_t& packets) {
    constexpr std::string_view tag("Output stream #0:0 (video): ");
    const std::size_t at = line.find(tag);
    if (at == std::string_view::npos) {
        return false;
    }
    std::size_t cursor = at + tag.size();
    const auto readNumber = [&](int64_t& value) {
        const std::size_t first = cursor;
        value = 0;
        for (; cursor < line.size() && IsDigit(line[cursor]); ++cursor) {
            value = value * 10 + (line[cursor] - '0');
            if (value > std::numeric_limits<int32_t>::max()) {
                return false;
            }
        }
        return cursor > first;
    };
    int64_t value = 0;
    if (!readNumber(value)) {
        return false;
    }
    // An encoding run says "N frames encoded; " first; each packet is one frame file.
    constexpr std::string_view encoded(" frames encoded; ");
    if (line.substr(cursor).starts_with(encoded)) {
        cursor += encoded.size();
        if (!readNumber(value)) {
            return false;
        }
    }
    if (!line.substr(cursor).starts_with(" packets muxed")) {
        return false;
    }
    packets = static_cast<int32_t>(value);
    return true;
}

bool DurationOfLine(std::string_view line, double& seconds) {
    constexpr std::string_view tag("Duration: ");
    const std::string_view trimmed = Trimmed(line);
    if (!trimmed.starts_with(tag)) {
        return false;
    }
    std::string_view value = trimmed.substr(tag.size());
    if (const std::size_t comma = value.find(','); comma != std::string_view::npos) {
        value = value.substr(0, comma);
    }
    const std::vector<std::string> parts = Split(value, ':');
    if (parts.size() != 3) {
        return false;
    }
    int hours = 0;
    int minutes = 0;
    double secondsPart = 0;
    if (!ReadInt(parts[0], hours) || !ReadInt(parts[1], minutes) ||
        !ReadDouble(parts[2], secondsPart)) {
        return false;
    }
    seconds = hours * 3600.0 + minutes * 60.0 + secondsPart;
    return true;
}

void FfmpegOutputParser::Feed(std::string_view bytes) {
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            TakeLine(mPending);
            mPending.clear();
        } else if (mPending.size() < 4096) {  // a summary line is short; the rest is noise
            mPending += c;
        }
    }
}

void FfmpegOutputParser::Finish() {
    TakeLine(mPending);
    mPending.clear();
}

void FfmpegOutputParser::TakeLine(std::string_view line) {
    int32_t number = 0;
    double seconds = 0;
    if (mSeconds < 0 && DurationOfLine(line, seconds)) {
        mSeconds = seconds;
    } else if (PacketsMuxedOfLine(line, number)) {
        mPackets = number;
        mFound = true;
    } else if (FrameNumberOfLine(line, number)) {
        mLastFrame = number;
        mFrameFound = true;
        if (onFrame) {
            onFrame(number);
        }
    }
}

namespace {

// The system's words for its errors, as ffmpeg prints them ("No space left on device").
const std::vector<std::string>& SystemReasons() {
    static const std::vector<std::string> reasons = [] {
        std::vector<std::string> texts;
        for (int error = 1; error < 256; ++error) {
            std::string text = ReasonOfErrno(error);
            if (!text.empty() && !text.starts_with("Unknown error")) {
                texts.push_back(std::move(text));
            }
        }
        return texts;
    }();
    return reasons;
}

// The system's reason a line of ffmpeg's ends with ("...: No space left on device")
// or gives in parentheses ("error code: -28 (No space left on device)"); "" when none.
std::string SystemReasonOf(std::string_view line) {
    for (const std::string& reason : SystemReasons()) {
        if (line.ends_with(": " + reason) || line.find("(" + reason + ")") != std::string::npos) {
            return reason;
        }
    }
    return {};
}

}  // namespace

std::string FfmpegFailureReason(std::string_view outputTail, const std::string& videoPath) {
    if (outputTail.find("matches no streams") != std::string_view::npos) {
        return videoPath + ": the file holds no video stream.";
    }
    const std::vector<std::string> lines = Split(ReplaceAll(outputTail, "\r", "\n"), '\n');
    std::string last;
    auto line = lines.crbegin();
    for (; line != lines.crend() && last.empty(); ++line) {
        last = std::string(Trimmed(*line));
    }
    // ffmpeg 7 names the step, not the file; say which file, as ffmpeg 5 did.
    constexpr std::string_view inputStep("Error opening input files: ");
    if (last.starts_with(inputStep)) {
        return videoPath + ": " + last.substr(inputStep.size());
    }
    // A run that fails while writing ends on "Conversion failed!"; the system's
    // reason (a full disk, say) is on an earlier line.
    if (!last.empty() && SystemReasonOf(last).empty()) {
        for (; line != lines.crend(); ++line) {
            const std::string reason = SystemReasonOf(Trimmed(*line));
            if (!reason.empty()) {
                return last + ": " + reason;
            }
        }
    }
    return last;
}

int32_t ParseFrameCount(std::string_view output) {
    FrameLineParser parser;
    parser.Feed(output);
    parser.Finish();
    return parser.Count();
}

}  // namespace sparkloom
