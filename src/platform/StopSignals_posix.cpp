#include "platform/StopSignals.h"

#include <fcntl.h>
#include <unistd.h>
#include <QSocketNotifier>
#include <atomic>
#include <csignal>

namespace sparkloom::platform {

namespace {

std::atomic<int> gReceived = 0;
int gWakeFds[2] = {-1, -1};

// Only async-signal-safe calls: a store and a write to the self-pipe.
void OnStopSignal(int signalNumber) {
    int none = 0;
    gReceived.compare_exchange_strong(none, signalNumber);
    const char byte = static_cast<char>(signalNumber);
    const int saved = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(gWakeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals() {
    if (::pipe2(gWakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        gWakeFds[0] = gWakeFds[1] = -1;
    } else {
        mNotifier = new QSocketNotifier(gWakeFds[0], QSocketNotifier::Read, this);
        connect(mNotifier, &QSocketNotifier::activated, this, [this] {
            char bytes[16];
            while (::read(gWakeFds[0], bytes, sizeof bytes) > 0) {
            }
            emit Arrived(gReceived.load());
        });
    }
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

namespace {
StopSignals* gWatcher = nullptr;
}

StopSignals& StopSignals::Install() {
    if (gWatcher == nullptr) {
        gWatcher = new StopSignals();  // lives as long as the program
    }
    return *gWatcher;
}

StopSignals* StopSignals::Installed() {
    return gWatcher;
}

int StopSignals::Received() {
    return gReceived.load();
}

int StopSignals::ExitStatusFor(int signalNumber) {
    return 128 + signalNumber;
}

QString StopSignals::NameOf(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return QStringLiteral("SIGINT");
        case SIGTERM:
            return QStringLiteral("SIGTERM");
        default:
            return QStringLiteral("signal %1").arg(signalNumber);
    }
}

}  // namespace sparkloom::platform
