#include "common/EventPump.h"

#include <utility>

namespace sparkloom {

namespace {
std::function<void()>& Pump() {
    static std::function<void()> pump;
    return pump;
}
}  // namespace

void SetEventPump(std::function<void()> pump) {
    Pump() = std::move(pump);
}

void PumpEvents() {
    if (const auto& pump = Pump()) {
        pump();
    }
}

}  // namespace sparkloom
