#pragma once

#include <string>

namespace sparkloom::platform {

// The requests to stop that reach a program from outside (SIGINT and SIGTERM
// here: Ctrl-C, kill, timeout, a service manager), as a value long work can
// poll from any thread, and as a descriptor an event loop can watch.
class StopSignals {
public:
    // Installs the handlers once; later calls do nothing.
    static void Install();
    static bool IsInstalled();
    // 0, or the number of the first stop signal received.
    static int Received();
    // The stop has been carried out (ffmpeg stopped, the cut package removed):
    // a console that is closing may end the process now.
    static void Settled();
    // The exit status a shell gives a program ended by that signal (130, 143).
    static int ExitStatusFor(int signalNumber);
    static std::string NameOf(int signalNumber);
    // Readable once a stop signal arrived (drain it with DrainWakeDescriptor);
    // -1 when not installed or where the system has no such descriptor.
    static int WakeDescriptor();
    static void DrainWakeDescriptor();
};

}  // namespace sparkloom::platform
