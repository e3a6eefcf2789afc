#pragma once

#include <windows.h>

namespace sparkloom::platform {

// The console control handler StopSignals::Install registers: a stop request
// for every event; for a closing console, a log-off or a shutdown it returns
// only once StopSignals::Settled() was called, or the time Windows gives is
// nearly up.
BOOL WINAPI OnConsoleEvent(DWORD event);

}  // namespace sparkloom::platform
