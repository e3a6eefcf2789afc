// ffmpeg's progress output as it arrives through the pipe: any bytes, cut into
// any pieces, must give the same frame numbers as one simple reading of the
// whole, and never a number the line does not hold.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzInput.h"
#include "common/Text.h"
#include "extract/FrameCount.h"

using namespace sparkloom;

namespace {

// Lines end at CR; CR LF is one end; a bare LF stays inside the line; the text
// after the last end is a line when it is not empty.
std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            lines.push_back(line);
            line.clear();
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += text[i];
        }
    }
    if (!line.empty()) {
        lines.push_back(line);
    }
    return lines;
}

void CheckLine(const std::string& line) {
    int32_t number = -1;
    if (FrameNumberOfLine(line, number)) {
        FUZZ_CHECK(number >= 0);
        FUZZ_CHECK(AsciiLower(line).find("frame=") != std::string::npos);
        FUZZ_CHECK(line.find(std::to_string(number)) != std::string::npos);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses how the rest is cut into pieces.
    const uint8_t seed = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);

    std::vector<int32_t> expected;
    for (const std::string& line : LinesOf(text)) {
        CheckLine(line);
        int32_t number = 0;
        if (FrameNumberOfLine(line, number)) {
            expected.push_back(number);
        }
    }

    FrameLineParser pieces;
    std::vector<int32_t> seen;
    pieces.onFrame = [&seen](int32_t number) { seen.push_back(number); };
    uint32_t state = seed * 2654435761u + 1;
    for (size_t at = 0; at < text.size();) {
        state = state * 1103515245u + 12345u;
        const size_t piece = std::min<size_t>(1 + (state >> 16) % 97, text.size() - at);
        pieces.Feed(std::string_view(text).substr(at, piece));
        at += piece;
    }
    pieces.Finish();

    FUZZ_CHECK(seen == expected);
    FUZZ_CHECK(pieces.Found() == !expected.empty());
    FUZZ_CHECK(pieces.Count() == (expected.empty() ? 0 : expected.back()));
    FUZZ_CHECK(ParseFrameCount(text) == pieces.Count());

    // A progress line as ffmpeg writes it reads back its own number.
    const int32_t frames = static_cast<int32_t>(state & 0x7fffffff);
    std::string digits = std::to_string(frames);
    digits.insert(0, digits.size() < 5 ? 5 - digits.size() : 0, ' ');
    const std::string progress = "frame=" + digits + " fps=0.0 q=-0.0";
    int32_t number = -1;
    FUZZ_CHECK(FrameNumberOfLine(progress, number) && number == frames);
    return 0;
}
