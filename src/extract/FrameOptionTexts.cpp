#include "extract/FrameOptionTexts.h"

#include <charconv>
#include <cstdint>
#include <string_view>
#include <tuple>

#include "common/Text.h"

namespace sparkloom {

namespace {

std::string_view Unsigned(std::string_view text) {
    text = Trimmed(text);
    if (text.starts_with('+')) {
        text.remove_prefix(1);
    }
    return text;
}

std::optional<double> ParseNumber(std::string_view text) {
    text = Unsigned(text);
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> ParseWholeNumber(std::string_view text) {
    const std::optional<int64_t> value = ParseInteger(Unsigned(text));
    if (!value || *value < INT32_MIN || *value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

}  // namespace

FrameOptions FrameOptionsOf(const FrameOptionTexts& texts, std::string& refusal) {
    refusal.clear();
    FrameOptions options;
    if (texts.fps) {
        options.fps = ParseNumber(*texts.fps);
        if (!options.fps) {
            refusal = "--fps needs a number, not \"" + *texts.fps + "\".";
            return {};
        }
    }
    for (auto [name, text, number] : {std::tuple{"quality", &texts.quality, &options.quality},
                                      std::tuple{"width", &texts.width, &options.width}}) {
        if (*text) {
            *number = ParseWholeNumber(**text);
            if (!*number) {
                refusal =
                    std::string("--") + name + " needs a whole number, not \"" + **text + "\".";
                return {};
            }
        }
    }
    options.start = texts.start;
    options.duration = texts.duration;
    refusal = FrameOptionsRefusal(options);
    return refusal.empty() ? options : FrameOptions{};
}

}  // namespace sparkloom
