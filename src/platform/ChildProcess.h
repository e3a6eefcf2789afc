#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sparkloom::platform {

// How a child run ended.
struct ChildExit {
    bool started = false;  // false: the program could not be started (see error)
    bool exited = false;   // ended normally; exitCode is valid
    int exitCode = -1;
    int termSignal = 0;    // nonzero when a signal ended it
    bool stopped = false;  // ended because the caller asked it to stop
    std::string error;     // why it could not be started
};

using OutputSink = std::function<void(const char* data, std::size_t size)>;
using EventPump = std::function<void()>;
// Polled between waits; true asks the child to end.
using StopRequest = std::function<bool()>;

// How long a child asked to stop may take before it is ended hard.
constexpr int kStopGraceMilliseconds = 500;

// One run of a program: text is UTF-8.
struct ChildRequest {
    std::string program;  // a path, or a name looked up on PATH
    std::vector<std::string> arguments;
    std::string startFolder;  // "" for the current folder
    // Set in the child's environment, over what it inherits.
    std::vector<std::pair<std::string, std::string>> environment;
    OutputSink output;  // standard output, and standard error unless errorOutput is set
    OutputSink errorOutput;
    EventPump pump;
    int pollMilliseconds = 15;
    StopRequest stop;
    // Called once the child runs, with its process id (for tests that signal it).
    std::function<void(int64_t processId)> onStarted;
};

// Runs the program (no shell), stdin from the null device. Waits on its output
// at most pollMilliseconds at a time and calls pump between waits; returns once
// every holder of the output's write end has closed it and the child is
// reaped. The child runs in a process group of its own, so a terminal's Ctrl-C
// reaches only the caller, which decides: once stop() says so, the child is
// asked to end, and ended hard when it is still there after
// kStopGraceMilliseconds.
// On Windows the child runs in a job object that ends with the call, taking
// along anything the child started; the call returns once the child has ended
// and its output is read, and a stop ends the job at once.
ChildExit RunChild(const ChildRequest& request);

// The same with standard output and standard error merged into one sink.
ChildExit RunChild(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& startFolder, const OutputSink& sink, const EventPump& pump,
                   int pollMilliseconds, const StopRequest& stop = {});

}  // namespace sparkloom::platform
