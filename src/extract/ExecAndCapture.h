#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/ChildProcess.h"

namespace sparkloom {

using ExecResult = platform::ChildExit;

// Runs a console program hidden, draining its merged output in reads of at most
// 10240 bytes into one reused buffer, serving the Qt event loop between waits
// (unless serveEvents is false, as on a worker thread). Once stop() returns true
// the program is asked to end, then ended hard.
ExecResult ExecAndCapture(const QString& program, const QStringList& arguments,
                          const QString& sStartInFolder = QString(),
                          const std::function<void(QByteArrayView)>& onOutput = {},
                          const std::function<bool()>& stop = {}, bool serveEvents = true);

}  // namespace sparkloom
