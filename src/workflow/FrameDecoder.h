#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace sparkloom {

// A decoded frame as the toolkit draws it; the workflow only holds, hands on
// and drops it.
class DecodedPicture {
public:
    virtual ~DecodedPicture() = default;
};

struct PixelSize {
    int width = 0;
    int height = 0;
};

struct DecodeRequest {
    int32_t frame = 0;   // the frame's place in the dialog's sequence, from 0
    bool strip = false;  // for the strip: a small picture
    std::string path;    // UTF-8, the platform's separators
    PixelSize fit;       // scaled to fit within, its aspect kept, never enlarged
};

struct DecodeResult {
    int32_t frame = 0;  // as asked
    bool strip = false;
    std::shared_ptr<const DecodedPicture> picture;  // null when it could not be read
    int64_t bytes = 0;                              // what the picture holds in memory
    std::string error;                              // why not, when it could not be read
};

// A toolkit's picture reader for the "Preview" dialog. It decodes at the
// scaled size (a JPEG decodes faster and smaller that way) on a thread other
// than the window's, and the toolkit then hands each result to
// PreviewModel::Decoded on the window's thread: once for every Start, unless
// the dialog has closed meanwhile. The model keeps only a few decodes running
// at once, so no queue is needed here. Destroying it waits for the running
// decodes and drops their results.
class FrameDecoder {
public:
    virtual ~FrameDecoder() = default;
    virtual void Start(const DecodeRequest& request) = 0;
};

}  // namespace sparkloom
