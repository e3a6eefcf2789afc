#include "platform/StopSignals.h"

namespace sparkloom::platform {

// A shell's status for a program a signal ended; the converter ends with it
// on every system, so scripts read one number for one cause.
int StopSignals::ExitStatusFor(int signalNumber) {
    return 128 + signalNumber;
}

}  // namespace sparkloom::platform
