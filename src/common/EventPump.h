#pragma once

#include <functional>

namespace sparkloom {

// A window hands in how to serve its events, so the core's long waits (ffmpeg
// running, templates being written) keep it repainting and usable without the
// core knowing any toolkit. Without one, PumpEvents does nothing.
void SetEventPump(std::function<void()> pump);
void PumpEvents();

}  // namespace sparkloom
