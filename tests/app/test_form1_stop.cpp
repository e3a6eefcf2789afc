// Stopping work through the window: Cancel, E&XIT, the title bar's close and
// SIGTERM while frames are extracted or a package is packed, and the commands
// refused while an extraction runs. A stand-in ffmpeg reads the clip at its own
// pace, so there is time to act in the middle.
#include <signal.h>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/Form1.h"
#include "platform/StopSignals.h"
#include "support/GuiTestMain.h"
#include "support/Processes.h"
#include "support/ScriptedSeam.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

int FramesIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files).size();
}

bool AllFramesWhole(const QString& folder) {
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files)) {
        const QByteArray bytes = ReadAll(folder + u'/' + name);
        if (!bytes.startsWith("\xFF\xD8") || !bytes.endsWith("\xFF\xD9")) {
            return false;
        }
    }
    return true;
}

}  // namespace

class TestForm1Stop : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mVideo;  // 10 s, 300 frames
    int mCase = 0;

    QString NewFolder(const QString& name) {
        const QString path = mRoot.path() + QStringLiteral("/%1-%2").arg(name).arg(++mCase);
        QDir().mkpath(path);
        return path;
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        mVideo = NewFolder(QStringLiteral("clips")) + QStringLiteral("/Clip.mp4");
        QVERIFY(MakeClip(mVideo, 10));
        const QString slow = mRoot.path() + QStringLiteral("/ffmpeg");
        QVERIFY(WriteSlowFfmpeg(slow));
        qputenv("SPARKLOOM_FFMPEG", QFile::encodeName(slow));
    }

    // Each row acts once the stand-in has written a few frames; a refused
    // command is followed by Cancel. Whatever stops the extraction, ffmpeg is
    // gone soon after, the frames written stay whole, and nothing is offered
    // as extracted.
    void stopDuringExtraction_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<bool>("closes");
        QTest::newRow("Cancel") << "cancel" << QString() << false;
        QTest::newRow("Cancel twice, then E&XIT") << "cancel-cancel-exit" << QString() << true;
        QTest::newRow("title bar close") << "close" << QString() << true;
        QTest::newRow("Extract Video again") << "extract"
                                             << "Frames are still being extracted." << false;
        QTest::newRow("Build Particle") << "build"
                                        << "Frames are still being extracted." << false;
        QTest::newRow("SIGTERM") << "sigterm" << QString() << true;  // last: the signal is kept
    }
    void stopDuringExtraction() {
        QFETCH(QString, action);
        QFETCH(QString, warning);
        QFETCH(bool, closes);
        ScriptedSeam seam;
        Form1 form(seam);
        form.CloseOnStopSignals();
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        const QString frames = NewFolder(QStringLiteral("stop"));
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        // As after an earlier build: Build Particle is on, Cancel is off.
        Control<QPushButton>(form, "cmdDZP")->setEnabled(true);
        Control<QPushButton>(form, "Command3")->setEnabled(false);

        QElapsedTimer sinceStop;
        pid_t ffmpeg = 0;
        bool cancelEnabled = false;
        QTimer actor;
        connect(&actor, &QTimer::timeout, [&] {
            if (ffmpeg != 0 || FramesIn(frames) < 3 || (ffmpeg = ExtractingChild()) == 0) {
                return;
            }
            actor.stop();
            cancelEnabled = Control<QPushButton>(form, "Command3")->isEnabled();
            if (action == "extract" || action == "build") {
                seam.folderAnswers << NewFolder(QStringLiteral("second"));
                Click(form, action == "extract" ? "cmdExtract" : "cmdDZP");
            }
            sinceStop.start();
            if (action.startsWith("cancel") || !warning.isEmpty()) {
                Click(form, "Command3");
            }
            if (action == "cancel-cancel-exit") {
                Click(form, "Command3");
                Click(form, "cmdExit");
            } else if (action == "close") {
                form.close();
            } else if (action == "sigterm") {
                ::kill(::getpid(), SIGTERM);
            }
        });
        actor.start(5);  // runs only while the window serves its events
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");  // returns once the extraction has ended
        const qint64 stopMs = sinceStop.elapsed();
        QVERIFY2(ffmpeg != 0, "ffmpeg was not seen extracting");
        qInfo("%s: ffmpeg gone %lld ms after the stop", qPrintable(action), stopMs);
        QVERIFY2(stopMs < 5000, "ffmpeg outlived its stop");
        QVERIFY(!ProcessExists(ffmpeg));
        QVERIFY(cancelEnabled);

        QStringList expected{QStringLiteral("Extracting Video. Please be patient!")};
        if (!warning.isEmpty()) {
            expected << QStringLiteral("%1\r\nPlease wait until it is finished or cancel it first.")
                            .arg(warning);
        }
        QCOMPARE(seam.Messages(), expected);
        QCOMPARE(Status(form), QStringLiteral("Canceled"));
        QCOMPARE(form.isVisible(), !closes);
        const int written = FramesIn(frames);
        QVERIFY2(written >= 3 && written < 300, qPrintable(QString::number(written)));
        QVERIFY(AllFramesWhole(frames));
        QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());
        QVERIFY(!Control<QPushButton>(form, "cmdAnimImage")->isEnabled());
        QCOMPARE(form.Project().FrameCount, 0);
        QVERIFY(!Control<QPushButton>(form, "Command3")->isEnabled());  // as it was
        QVERIFY(!form.Extracting());
        if (action == "sigterm") {
            QCOMPARE(platform::StopSignals::Received(), SIGTERM);
        }
    }

    // Closing while a package is packed ends it as Cancel does: the shorter
    // archive is closed and readable before the window goes.
    void closeDuringPacking() {
        qunsetenv("SPARKLOOM_FFMPEG");
        ScriptedSeam seam;
        Form1 form(seam);
        form.show();
        const QString frames = NewFolder(QStringLiteral("pack"));
        QVERIFY(MakeClip(mRoot.path() + QStringLiteral("/short.mp4")));
        QCOMPARE(PrepareBuild(form, seam, mRoot.path() + QStringLiteral("/short.mp4"), frames),
                 QString());
        QVERIFY(WriteNoise(frames + QStringLiteral("/big.bin"), 64 << 20, 7));
        const QString package = NewFolder(QStringLiteral("out")) + QStringLiteral("/Short.dzp");
        seam.fileAnswers << package;
        Click(form, "cmdDZP");
        QVERIFY(QTest::qWaitFor([&] { return form.ArchiveBuilder().BytesZipped() > 0; }, 30000));
        QVERIFY(form.ArchiveBuilder().Zipping());
        form.close();
        QVERIFY(!form.ArchiveBuilder().Zipping());
        QCOMPARE(Status(form), QStringLiteral("Canceled"));
        QVERIFY(UnzipTestsClean(package));
        QCOMPARE(seam.Messages(), QStringList{});  // no question, no "Success!"
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestForm1Stop)
#include "test_form1_stop.moc"
