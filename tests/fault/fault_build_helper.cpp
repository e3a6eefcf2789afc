// Runs the window through two builds in a process of its own, so a test can
// give it limits the test itself must not have (a maximum file size, another
// user) and change the world between the builds:
//
//   fault_build_helper VIDEO FRAMES OUT [FILE-SIZE-LIMIT]
//
// extracts VIDEO into FRAMES, builds OUT/First.dzp, prints "READY <status>" and
// waits for a line on stdin; then (with the file-size limit set, SIGXFSZ
// ignored, so writes past it fail with EFBIG) builds OUT/Second.dzp and prints
// one JSON object: the status line, the messages shown, whether it still packs.
#include <sys/resource.h>
#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "fault/FaultSupport.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

void Say(const QByteArray& line) {
    std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4) {
        Say("usage: fault_build_helper VIDEO FRAMES OUT [FILE-SIZE-LIMIT]");
        return 2;
    }
    const QString video = args[1], frames = args[2], out = args[3];
    const qint64 limit = args.size() > 4 ? args[4].toLongLong() : 0;

    ScriptedSeam seam;
    Form1 form(seam);
    if (const QString why = PrepareBuild(form, seam, video, frames); !why.isEmpty()) {
        Say("FAILED " + why.toUtf8());
        return 3;
    }
    seam.fileAnswers << out + QStringLiteral("/First.dzp");
    Click(form, "cmdDZP");
    if (!WaitUntilIdle(form)) {
        Say("FAILED first build never ended");
        return 3;
    }
    Say("READY " + Status(form).toUtf8());

    std::string line;
    if (!std::getline(std::cin, line) || line != "go") {
        return 4;
    }
    if (limit > 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit size{static_cast<rlim_t>(limit), static_cast<rlim_t>(limit)};
        if (setrlimit(RLIMIT_FSIZE, &size) != 0) {
            Say("FAILED setrlimit");
            return 3;
        }
    }
    seam.shown.clear();
    seam.fileAnswers << out + QStringLiteral("/Second.dzp");
    Click(form, "cmdDZP");
    const bool ended = WaitUntilIdle(form);
    QJsonObject report{{"status", Status(form)},
                       {"messages", QJsonArray::fromStringList(seam.Messages())},
                       {"ended", ended}};
    Say(QJsonDocument(report).toJson(QJsonDocument::Compact));
    return 0;
}
