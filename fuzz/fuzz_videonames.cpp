// The names taken from the chosen video: its folder, the particle name preset
// from it, the frame prefix and the output pattern ffmpeg reads.
#include <string>

#include "FuzzInput.h"
#include "common/Text.h"
#include "extract/VideoNames.h"

using namespace sparkloom;

namespace {

// ffmpeg's reading of an image sequence pattern (av_get_frame_filename2 without
// the "multiple" flag): "%" digits... "d" is the number, "%%" (digits allowed
// before the second "%") a literal "%", anything else after "%" an error, and
// exactly one number field is required. Returns false where ffmpeg refuses.
bool ExpandLikeFfmpeg(const std::string& pattern, int number, std::string& out, int& fields) {
    out.clear();
    fields = 0;
    for (size_t at = 0; at < pattern.size();) {
        char c = pattern[at++];
        if (c != '%') {
            out += c;
            continue;
        }
        int width = 0;
        do {
            width = 0;
            while (at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9') {
                if (width >= 1000) {
                    return false;
                }
                width = width * 10 + (pattern[at++] - '0');
            }
            if (at >= pattern.size()) {
                return false;
            }
            c = pattern[at++];
        } while (c >= '0' && c <= '9');
        if (c == '%') {
            out += '%';
        } else if (c == 'd') {
            if (++fields > 1) {
                return false;
            }
            const std::string digits = std::to_string(number);
            out += std::string(digits.size() < static_cast<size_t>(width)
                                   ? static_cast<size_t>(width) - digits.size()
                                   : 0,
                               '0') +
                   digits;
        } else {
            return false;
        }
    }
    return fields == 1;
}

bool Holds(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto fields = fuzz::Fields(data, size);
    const std::string folder = fuzz::TextAt(fields, 0);
    const std::string fileName = fuzz::TextAt(fields, 1);
    const std::string particleName = fuzz::TextAt(fields, 2);

    // The video's folder: the path without "/" + its name.
    if (!fileName.empty() && !Holds(fileName, "/") && !Holds(folder, '/' + fileName)) {
        FUZZ_CHECK(ProjectFolderOf(folder + '/' + fileName, fileName) == folder);
    }
    FUZZ_CHECK(ProjectFolderOf(folder, std::string()) == folder);

    // The particle name: the file name less its extension of up to four UTF-16
    // code units, never cut inside a character.
    const auto name = ParticleNameFromFile(fileName);
    const size_t units = Utf16Length(fileName);
    FUZZ_CHECK(name.has_value() == (units >= 4));
    if (name) {
        FUZZ_CHECK(fileName.starts_with(*name));
        const size_t kept = Utf16Length(*name);
        FUZZ_CHECK(units - kept >= 4 && units - kept <= 5);
        if (IsUtf8(fileName)) {
            FUZZ_CHECK(IsUtf8(*name));
        }
    }

    // The frame prefix: blanks become "_", nothing else changes.
    const std::string prefix = FramePrefixOf(particleName);
    FUZZ_CHECK(prefix.size() == particleName.size());
    FUZZ_CHECK(!Holds(prefix, " "));
    for (size_t i = 0; i < prefix.size(); ++i) {
        FUZZ_CHECK(prefix[i] == (particleName[i] == ' ' ? '_' : particleName[i]));
    }

    // The pattern ffmpeg reads names frame n exactly prefix_0000n.jpg. A NUL
    // would end the argument early; the window refuses such names first.
    if (!Holds(prefix, std::string(1, '\0'))) {
        const std::string pattern = FramePattern(prefix);
        for (const int frame : {1, 42, 99999, 123456}) {
            std::string expanded;
            int numberFields = 0;
            FUZZ_CHECK(ExpandLikeFfmpeg(pattern, frame, expanded, numberFields));
            FUZZ_CHECK(numberFields == 1);
            const std::string digits = std::to_string(frame);
            FUZZ_CHECK(expanded == prefix + '_' +
                                       std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') +
                                       digits + ".jpg");
        }
    }
    return 0;
}
