#include "common/FrameSequence.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "common/Text.h"

namespace sparkloom {

namespace {

constexpr std::string_view kFrameSuffix = ".jpg";

bool AllDigits(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string FrameName(const std::string& prefix, int32_t number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 5) {
        digits.insert(0, 5 - digits.size(), '0');
    }
    return prefix + '_' + digits + std::string(kFrameSuffix);
}

int32_t FrameNumberOf(const std::string& name, const std::string& prefix) {
    const std::size_t digitsAt = prefix.size() + 1;
    if (name.size() < digitsAt + 5 + kFrameSuffix.size() || !name.starts_with(prefix) ||
        name[prefix.size()] != '_' || !name.ends_with(kFrameSuffix)) {
        return -1;
    }
    const std::string_view digits =
        std::string_view(name).substr(digitsAt, name.size() - digitsAt - kFrameSuffix.size());
    if (!AllDigits(digits)) {
        return -1;
    }
    const std::optional<int64_t> number = ParseInteger(digits);
    // Only the one spelling ffmpeg writes: Fire_0001.jpg or Fire_000001.jpg are other files.
    if (!number || *number > INT32_MAX ||
        FrameName(prefix, static_cast<int32_t>(*number)) != name) {
        return -1;
    }
    return static_cast<int32_t>(*number);
}

FrameSequence FramesFrom(const std::string& firstFrame, const std::vector<std::string>& fileNames) {
    FrameSequence frames;
    // PREFIX_NNNNN.jpg with the longest prefix, a line break being no part of a name's prefix.
    if (!firstFrame.ends_with(kFrameSuffix)) {
        return frames;
    }
    const std::size_t underscore = firstFrame.rfind('_');
    if (underscore == std::string::npos) {
        return frames;
    }
    const std::string_view digits =
        std::string_view(firstFrame)
            .substr(underscore + 1, firstFrame.size() - underscore - 1 - kFrameSuffix.size());
    if (firstFrame.size() < underscore + 1 + kFrameSuffix.size() || digits.size() < 5 ||
        !AllDigits(digits) || firstFrame.find('\n') != std::string::npos) {
        return frames;
    }
    frames.prefix = firstFrame.substr(0, underscore);
    frames.first = FrameNumberOf(firstFrame, frames.prefix);
    if (frames.first < 0) {
        frames.first = 0;
        return frames;
    }
    frames.numbered = true;
    frames.last = frames.first;

    std::vector<int32_t> numbers;
    for (const std::string& name : fileNames) {
        const int32_t number = FrameNumberOf(name, frames.prefix);
        if (number < 0) {
            continue;
        }
        if (number < frames.first) {
            ++frames.earlier;
        } else {
            numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    frames.count = static_cast<int32_t>(numbers.size());
    if (numbers.empty()) {
        return frames;
    }
    frames.last = numbers.back();
    int64_t expected = frames.first;
    for (const int32_t number : numbers) {
        for (; expected < number && frames.missing.size() < kMissingFramesKept; ++expected) {
            frames.missing.push_back(static_cast<int32_t>(expected));
        }
        expected = int64_t{number} + 1;
    }
    frames.missingCount =
        static_cast<int32_t>(int64_t{frames.last} - frames.first + 1 - frames.count);
    return frames;
}

}  // namespace sparkloom
