#include "extract/ExecAndCapture.h"

#include "common/EventPump.h"

namespace sparkloom {

namespace {
// Short enough that the window never feels a wait, long enough not to spin.
constexpr int kPollMilliseconds = 15;
}  // namespace

ExecResult ExecAndCapture(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& sStartInFolder,
                          const std::function<void(std::string_view)>& onOutput,
                          const std::function<bool()>& stop, bool serveEvents) {
    const platform::OutputSink sink = [&onOutput](const char* data, std::size_t size) {
        if (onOutput) {
            onOutput(std::string_view(data, size));
        }
    };
    return platform::RunChild(program, arguments, sStartInFolder, sink,
                              serveEvents ? platform::EventPump(PumpEvents) : platform::EventPump(),
                              kPollMilliseconds, stop);
}

}  // namespace sparkloom
