#include "platform/ChildProcess.h"

namespace sparkloom::platform {

ChildExit RunChild(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& startFolder, const OutputSink& sink, const EventPump& pump,
                   int pollMilliseconds, const StopRequest& stop) {
    ChildRequest request;
    request.program = program;
    request.arguments = arguments;
    request.startFolder = startFolder;
    request.output = sink;
    request.pump = pump;
    request.pollMilliseconds = pollMilliseconds;
    request.stop = stop;
    return RunChild(request);
}

}  // namespace sparkloom::platform
