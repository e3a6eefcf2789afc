#include "platform/StopSignals_win.h"
#include "platform/StopSignals.h"

#include <windows.h>

#include <atomic>
#include <csignal>

namespace sparkloom::platform {

namespace {

std::atomic<int> gReceived = 0;
std::atomic<bool> gInstalled = false;

// Set once the stop has been carried out; manual reset, so every waiting
// handler sees it.
HANDLE SettledEvent() {
    static const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

}  // namespace

// Ctrl+C stands for SIGINT; Ctrl+Break, closing the console, logging off and
// shutting down for SIGTERM, so a caller reads the same numbers as on POSIX.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    const int signalNumber = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
    int none = 0;
    gReceived.compare_exchange_strong(none, signalNumber);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        // Windows ends the process once this returns: give the run the time
        // Windows allows (5 s) to stop ffmpeg and remove its half package.
        WaitForSingleObject(SettledEvent(), 4500);
    }
    return TRUE;
}

void StopSignals::Install() {
    if (!gInstalled.exchange(true)) {
        SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    }
}

bool StopSignals::IsInstalled() {
    return gInstalled.load();
}

void StopSignals::Settled() {
    SetEvent(SettledEvent());
}

int StopSignals::Received() {
    return gReceived.load();
}

std::string StopSignals::NameOf(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return "Ctrl+C";
        case SIGTERM:
            return "Ctrl+Break";
        default:
            return "signal " + std::to_string(signalNumber);
    }
}

int StopSignals::WakeDescriptor() {
    return -1;
}

void StopSignals::DrainWakeDescriptor() {}

}  // namespace sparkloom::platform
