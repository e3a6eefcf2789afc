#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "extract/Extraction.h"

namespace sparkloom {

// What the sample frames weigh once encoded as the extraction encodes them.
struct SampleMeasure {
    bool ok = false;
    double bytesPerFrame = 0;
    int width = 0;  // of the frames written
    int height = 0;
};

// Decodes a few frames at spots spread over [from, from + window) seconds of
// the clip into one file of lossless images at the size the extraction
// writes before scaling (its rotation applied). The seek and the decoding are
// the slow part; a new width or quality needs only EncodeSamples.
bool DecodeSamples(const std::string& ffmpeg, const std::string& video, double from, double window,
                   const std::filesystem::path& file, const std::function<bool()>& stop);

// Encodes the decoded samples with the width and quality of encoding, as the
// extraction would, and weighs them. Without a quality of its own ffmpeg's
// rate control sets it, starting high and settling over the first frames:
// the samples then run round, at the rate written, for the first of the
// frames the extraction writes (at most sequence of them; 0 for frames too
// large to follow, which settle at once), so that the start weighs as it will.
SampleMeasure EncodeSamples(const std::string& ffmpeg, const std::filesystem::path& file,
                            const FrameOptions& encoding, double rate, int32_t frames,
                            int32_t sequence, const std::function<bool()>& stop);

// The way for an ffmpeg built without what DecodeSamples needs (a NUT muxer
// and demuxer, the rawvideo encoder, the concat filter, as in a minimal
// Windows build): the samples sought, decoded and encoded in one run, into
// JPEG files in folder (made anew and removed), at the quality ffmpeg's own
// settles at. Slower, as every choice seeks and decodes again.
SampleMeasure MeasureSamplesDirectly(const std::string& ffmpeg, const std::string& video,
                                     double from, double window, const FrameOptions& encoding,
                                     const std::filesystem::path& folder,
                                     const std::function<bool()>& stop);

}  // namespace sparkloom
