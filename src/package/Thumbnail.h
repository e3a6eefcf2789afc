#pragma once

#include <string>

namespace sparkloom {

// Copies the chosen picture into the frames folder as Thumb.jpg and Thumb.png,
// unconverted. Each copy replaces its target only once it is complete, so a
// failure never leaves a half-written thumbnail, and choosing one of the
// copies itself as the source cannot destroy it. Returns false with a
// user-facing reason in error.
bool CopyThumbnail(const std::string& source, const std::string& framesFolder, std::string& error);

}  // namespace sparkloom
