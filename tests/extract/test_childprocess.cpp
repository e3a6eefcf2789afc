#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <csignal>

#include "extract/ExecAndCapture.h"
#include "platform/ChildProcess.h"

using namespace sparkloom;

namespace {

int OpenDescriptors() {
    return QDir("/proc/self/fd")
        .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
        .size();
}

// One run of the runner with everything it reports recorded.
struct Run {
    platform::ChildExit exit;
    QByteArray output;
    int pieces = 0;
    std::size_t largestPiece = 0;
    qint64 milliseconds = 0;
};

Run RunIt(const QString& program, const QStringList& arguments, const QString& folder = {}) {
    Run run;
    QElapsedTimer clock;
    clock.start();
    const auto sink = [&run](const char* data, std::size_t size) {
        run.output.append(data, static_cast<qsizetype>(size));
        ++run.pieces;
        run.largestPiece = std::max(run.largestPiece, size);
    };
    run.exit = platform::RunChild(program, arguments, folder, sink, {}, 10);
    run.milliseconds = clock.elapsed();
    return run;
}

Run Shell(const QString& script) {
    return RunIt("sh", {"-c", script});
}

}  // namespace

class ChildProcessTest : public QObject {
    Q_OBJECT

    int mDescriptors = 0;

private slots:
    // No case may leave a descriptor behind, whichever way it ends.
    void init() { mDescriptors = OpenDescriptors(); }
    void cleanup() { QCOMPARE(OpenDescriptors(), mDescriptors); }

    void missingProgramReturnsAtOnce() {
        for (const QString program : {"/nonexistent/program", "sparkloom-no-such-program"}) {
            const Run run = RunIt(program, {"x"});
            QVERIFY(!run.exit.started);
            QVERIFY2(run.exit.error.contains(program), qPrintable(run.exit.error));
            QVERIFY(run.output.isEmpty());
            QVERIFY(run.milliseconds < 1000);
        }
        const Run noFolder = RunIt("pwd", {}, "/nonexistent/folder");
        QVERIFY(!noFolder.exit.started);
        QVERIFY(!noFolder.exit.error.isEmpty());
    }

    void exitStatus() {
        const Run silent = RunIt("true", {});
        QVERIFY(silent.exit.started && silent.exit.exited);
        QCOMPARE(silent.exit.exitCode, 0);
        QCOMPARE(silent.pieces, 0);

        const Run coded = Shell("exit 7");
        QVERIFY(coded.exit.exited);
        QCOMPARE(coded.exit.exitCode, 7);

        const Run killed = Shell("kill -TERM $$");
        QVERIFY(killed.exit.started && !killed.exit.exited);
        QCOMPARE(killed.exit.termSignal, SIGTERM);
    }

    void childSetup() {
        // stdin is /dev/null (cat would wait forever otherwise); stderr joins stdout.
        QCOMPARE(RunIt("cat", {}).output, QByteArray());
        QCOMPARE(Shell("readlink /proc/self/fd/0; echo err >&2; echo out").output,
                 QByteArray("/dev/null\nerr\nout\n"));
        // No shell in between: quotes, blanks, "$" and "%" arrive untouched.
        QCOMPARE(RunIt("printf", {"%s|", "a b", "\"q\" 'x'", "$HOME", "50%_%05d", ""}).output,
                 QByteArray("a b|\"q\" 'x'|$HOME|50%_%05d||"));
        // Only the three streams are inherited (3 is ls's own handle on the folder).
        QCOMPARE(RunIt("ls", {"/proc/self/fd"}).output, QByteArray("0\n1\n2\n3\n"));

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QCOMPARE(RunIt("pwd", {}, dir.path()).output,
                 (QFileInfo(dir.path()).canonicalFilePath() + '\n').toLocal8Bit());
        QCOMPARE(RunIt("pwd", {}).output,
                 (QFileInfo(QDir::currentPath()).canonicalFilePath() + '\n').toLocal8Bit());
    }

    void largeOutputReadInBoundedPieces() {
        const Run run = RunIt("head", {"-c", "5000000", "/dev/zero"});
        QCOMPARE(run.exit.exitCode, 0);
        QCOMPARE(run.output.size(), 5000000);
        QCOMPARE(run.output.count('\0'), 5000000);
        QVERIFY(run.largestPiece <= 10240);
    }

    void grandchildHoldingThePipeIsAwaited() {
        const Run run = Shell("(sleep 1; echo late) & exit 0");
        QCOMPARE(run.output, QByteArray("late\n"));
        QVERIFY2(run.milliseconds >= 900, QByteArray::number(run.milliseconds));
        QCOMPARE(run.exit.exitCode, 0);
    }

    // A timer keeps firing while a child sleeps, with its output open and after closing it.
    void eventLoopStaysLive() {
        const QList<QPair<QString, QByteArray>> cases{{"sleep 1; echo done", "done\n"},
                                                      {"exec >&- 2>&-; sleep 1", ""}};
        for (const auto& [script, expected] : cases) {
            int ticks = 0;
            QTimer timer;
            connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
            timer.start(50);
            QByteArray output;
            const ExecResult run = ExecAndCapture("sh", {"-c", script}, {},
                                                  [&output](QByteArrayView b) { output += b; });
            QVERIFY(run.exited);
            QCOMPARE(output, expected);
            QVERIFY2(ticks >= 10, qPrintable(script + ": " + QString::number(ticks)));
        }
    }
};

QTEST_GUILESS_MAIN(ChildProcessTest)
#include "test_childprocess.moc"
