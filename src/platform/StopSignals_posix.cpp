#include "platform/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>

namespace sparkloom::platform {

namespace {

std::atomic<int> gReceived = 0;
int gWakeFds[2] = {-1, -1};
bool gInstalled = false;

// Only async-signal-safe calls: a store and a write to the self-pipe.
void OnStopSignal(int signalNumber) {
    int none = 0;
    gReceived.compare_exchange_strong(none, signalNumber);
    const char byte = static_cast<char>(signalNumber);
    const int saved = errno;
    if (gWakeFds[1] >= 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(gWakeFds[1], &byte, 1);
    }
    errno = saved;
}

}  // namespace

void StopSignals::Install() {
    if (gInstalled) {
        return;
    }
    gInstalled = true;
    if (::pipe2(gWakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        gWakeFds[0] = gWakeFds[1] = -1;
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool StopSignals::IsInstalled() {
    return gInstalled;
}

int StopSignals::Received() {
    return gReceived.load();
}

std::string StopSignals::NameOf(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        default:
            return "signal " + std::to_string(signalNumber);
    }
}

int StopSignals::WakeDescriptor() {
    return gWakeFds[0];
}

void StopSignals::DrainWakeDescriptor() {
    char bytes[16];
    while (gWakeFds[0] >= 0 && ::read(gWakeFds[0], bytes, sizeof bytes) > 0) {
    }
}

void StopSignals::Settled() {}

}  // namespace sparkloom::platform
