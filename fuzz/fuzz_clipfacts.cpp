// The clip's facts from ffprobe's JSON, which carries the file's own tags and
// numbers: any text gives facts or a reason, never a throw, and facts that are
// read are ones the dialog can show and count with.
#include <cmath>
#include <string>

#include "FuzzInput.h"
#include "extract/ClipFacts.h"

using namespace sparkloom;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string json(reinterpret_cast<const char*>(data), size);
    const ClipFacts facts = ClipFactsOfProbe(json);
    if (!facts.ok) {
        FUZZ_CHECK(!facts.error.empty());
        return 0;
    }
    FUZZ_CHECK(facts.width > 0 && facts.height > 0);
    FUZZ_CHECK(std::isfinite(facts.fps) && facts.fps >= 0);
    FUZZ_CHECK(std::isfinite(facts.start) && facts.start >= 0);
    FUZZ_CHECK(facts.frames >= 0);
    FUZZ_CHECK(facts.seconds < 0 || std::isfinite(facts.seconds));
    FUZZ_CHECK(!facts.Summary().empty());
    FrameOptions options;
    options.start = "1.5";
    options.duration = "00:00:02";
    FUZZ_CHECK(ExpectedFrames(options, facts) >= 0);
    options.fps = 30;
    FUZZ_CHECK(ExpectedFrames(options, facts) >= 0);
    return 0;
}
