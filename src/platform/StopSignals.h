#pragma once

#include <QObject>

class QSocketNotifier;

namespace sparkloom::platform {

// The requests to stop that reach a program from outside (SIGINT and SIGTERM
// here: Ctrl-C, kill, timeout, a service manager), as a value long work can
// poll from any thread and as a Qt signal for the event loop.
class StopSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers once; later calls return the same watcher.
    static StopSignals& Install();
    // The watcher, or null when no one installed it (a library user keeps its own handling).
    static StopSignals* Installed();
    // 0, or the number of the first stop signal received.
    static int Received();
    // The exit status a shell gives a program ended by that signal (130, 143).
    static int ExitStatusFor(int signalNumber);
    static QString NameOf(int signalNumber);

signals:
    void Arrived(int signalNumber);

private:
    StopSignals();
    QSocketNotifier* mNotifier = nullptr;
};

}  // namespace sparkloom::platform
