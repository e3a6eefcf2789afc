#pragma once

#include <QString>
#include <QStringList>
#include <cstddef>
#include <functional>

namespace sparkloom::platform {

// How a child run ended. The only platform-specific interface of the program:
// a Windows build adds its own ChildProcess_win.cpp behind it.
struct ChildExit {
    bool started = false;  // false: the program could not be started (see error)
    bool exited = false;   // ended normally; exitCode is valid
    int exitCode = -1;
    int termSignal = 0;    // nonzero when a signal ended it
    bool stopped = false;  // ended because the caller asked it to stop
    QString error;         // why it could not be started
};

using OutputSink = std::function<void(const char* data, std::size_t size)>;
using EventPump = std::function<void()>;
// Polled between waits; true asks the child to end.
using StopRequest = std::function<bool()>;

// How long a child asked to stop may take before it is ended hard.
constexpr int kStopGraceMilliseconds = 500;

// Runs program with arguments (no shell), stdout and stderr merged into one pipe,
// stdin from /dev/null, in startFolder (or the current folder when empty). Waits
// on the pipe at most pollMilliseconds at a time and calls pump between waits;
// returns once every holder of the pipe's write end has closed it and the child
// is reaped. The child runs in a process group of its own, so a terminal's
// Ctrl-C reaches only the caller, which decides: once stop() says so, the child
// gets SIGTERM, and SIGKILL when it is still there after kStopGraceMilliseconds.
ChildExit RunChild(const QString& program, const QStringList& arguments, const QString& startFolder,
                   const OutputSink& sink, const EventPump& pump, int pollMilliseconds,
                   const StopRequest& stop = {});

}  // namespace sparkloom::platform
