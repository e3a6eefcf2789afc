#pragma once

#include <optional>
#include <string>

#include "extract/Extraction.h"

namespace sparkloom {

// Frame options as a person types them: unset for "as the clip".
struct FrameOptionTexts {
    std::optional<std::string> fps;
    std::optional<std::string> quality;
    std::optional<std::string> start;
    std::optional<std::string> duration;
    std::optional<std::string> width;
};

// The options the texts give; when they give none that can be used, refusal
// says why, naming the option, in the converter's words.
FrameOptions FrameOptionsOf(const FrameOptionTexts& texts, std::string& refusal);

}  // namespace sparkloom
