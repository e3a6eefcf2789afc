#pragma once

#include <string>

#include "extract/Extraction.h"

namespace sparkloom::cli {

// sparkloom-cli VIDEO --estimate: prints the Frames dialog's estimate line for
// the options and extracts nothing. Returns kExitSuccess when the frames fit
// one package, kExitDoesNotFit when they do not, kExitFailure when the clip
// cannot be read.
int PrintEstimate(const std::string& video, const FrameOptions& options);

}  // namespace sparkloom::cli
