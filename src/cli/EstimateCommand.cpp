#include "cli/EstimateCommand.h"

#include <cstdio>

#include "cli/Converter.h"
#include "common/Text.h"
#include "extract/ClipFacts.h"
#include "platform/StopSignals.h"
#include "workflow/FrameOptionsModel.h"

namespace sparkloom::cli {

namespace {

void Print(std::FILE* stream, const std::string& text) {
    const std::string line = text + "\n";
    std::fwrite(line.data(), 1, line.size(), stream);
    std::fflush(stream);
}

}  // namespace

int PrintEstimate(const std::string& video, const FrameOptions& options) {
    const auto stop = [] { return platform::StopSignals::Received() != 0; };
    const ClipFacts facts = ReadClipFacts(video, stop, false);
    if (stop()) {
        return platform::StopSignals::ExitStatusFor(platform::StopSignals::Received());
    }
    if (!facts.ok) {
        Print(stderr, "sparkloom-cli: " + ReplaceAll(facts.error, "\n", " "));
        return kExitFailure;
    }
    if (!facts.probed) {
        Print(stderr, "Warning: " + ProbeMissingText());
    }
    if (options.start && facts.seconds >= 0 &&
        ParseTime(*options.start).value_or(0) >= facts.start + facts.seconds) {
        Print(stderr,
              "sparkloom-cli: " + StartBeyondEndText(*options.start, facts.start + facts.seconds));
        return kExitFailure;
    }
    // The frames one package takes: the converter's folder walk of 2000 entries.
    const FramesEstimate estimate =
        MeasureEstimate(video, facts, options, FramesPerPackage(2000), stop);
    if (stop()) {
        return platform::StopSignals::ExitStatusFor(platform::StopSignals::Received());
    }
    Print(stdout, estimate.Line());
    return estimate.Fits() ? kExitSuccess : kExitDoesNotFit;
}

}  // namespace sparkloom::cli
