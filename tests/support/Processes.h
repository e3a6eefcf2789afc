#pragma once

// Finding the ffmpeg a test's window or converter started, through /proc.

#include <sys/types.h>
#include <unistd.h>
#include <QDirIterator>
#include <QString>

#include "support/TestSupport.h"

namespace sparkloom::test {

// The ffmpeg that writes frames (a ".jpg" pattern among its arguments) whose
// parent is parent, or 0.
inline pid_t ExtractingChild(pid_t parent = ::getpid()) {
    QDirIterator procs(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (procs.hasNext()) {
        const QString dir = procs.next();
        bool number = false;
        const pid_t pid = static_cast<pid_t>(procs.fileName().toInt(&number));
        if (!number) {
            continue;
        }
        const QByteArray stat = ReadAll(dir + QStringLiteral("/stat"));
        const qsizetype close = stat.lastIndexOf(')');
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (close < 0 || fields.size() < 2 || fields[1].toInt() != parent) {
            continue;
        }
        if (stat.contains("(ffmpeg)") &&
            ReadAll(dir + QStringLiteral("/cmdline")).contains(".jpg")) {
            return pid;
        }
    }
    return 0;
}

// Whether a process of that id still exists (a zombie counts).
inline bool ProcessExists(pid_t pid) {
    return pid > 0 && QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid));
}

// A stand-in for ffmpeg that reads the clip at its own pace while it writes
// frames (-re), so there is time to act in the middle; written to path.
inline bool WriteSlowFfmpeg(const QString& path) {
    return WriteFile(path,
                     "#!/bin/sh\n"
                     "case \"$*\" in *.jpg) exec ffmpeg -re \"$@\";; esac\n"
                     "exec ffmpeg \"$@\"\n") &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
}

}  // namespace sparkloom::test
