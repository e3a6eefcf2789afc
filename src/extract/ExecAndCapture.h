#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ChildProcess.h"

namespace sparkloom {

using ExecResult = platform::ChildExit;

// Runs a console program hidden, draining its merged output in reads of at most
// 10240 bytes into one reused buffer, serving the front-end's events (PumpEvents)
// between waits (unless serveEvents is false, as on a worker thread). Once stop() returns true
// the program is asked to end, then ended hard.
ExecResult ExecAndCapture(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& sStartInFolder = {},
                          const std::function<void(std::string_view)>& onOutput = {},
                          const std::function<bool()>& stop = {}, bool serveEvents = true);

}  // namespace sparkloom
