// ffmpeg failing under the window: killed in the middle of an extraction,
// missing, not a program, or handed a "video" that is none. Each time the user
// gets a warning that says what happened, nothing is offered as extracted, and
// the window still works: the next extraction with a good ffmpeg goes through.
#include <signal.h>
#include <unistd.h>
#include <QDirIterator>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "fault/FaultSupport.h"
#include "support/GuiTestMain.h"
#include "support/Processes.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

int FramesIn(const QString& folder) {
    return QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files).size();
}

}  // namespace

class TestFaultFfmpeg : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mVideo;  // 10 s, 300 frames
    int mCase = 0;

    QString NewFolder(const QString& name) {
        const QString path = mRoot.path() + QStringLiteral("/%1-%2").arg(name).arg(++mCase);
        QDir().mkpath(path);
        return path;
    }

    QString Script(const QString& name, const QByteArray& text) {
        const QString path = mRoot.path() + u'/' + name;
        if (!WriteFile(path, text) ||
            !QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner)) {
            return QString();
        }
        return path;
    }

    // The window after a failed extraction: one warning (after the notice when
    // ffmpeg was found and started), nothing enabled, and a good ffmpeg extracts
    // at the next attempt.
    void CheckWarnedAndStillUsable(Form1& form, ScriptedSeam& seam, const QString& expected) {
        const QStringList messages = seam.Messages();
        const bool ffmpegFound = !expected.startsWith(QStringLiteral("ffmpeg was not found"));
        QCOMPARE(messages.size(), ffmpegFound ? 2 : 1);
        if (ffmpegFound) {
            QCOMPARE(messages[0], QStringLiteral("Extracting Video. Please be patient!"));
        }
        qInfo("%s", qPrintable(messages.last()));
        QVERIFY2(messages.last().contains(expected), qPrintable(messages.last()));
        QCOMPARE(seam.shown.last().icon, MessageIcon::Warning);
        QVERIFY(!Control<QPushButton>(form, "cmdThumb")->isEnabled());
        QVERIFY(!Control<QPushButton>(form, "cmdAnimImage")->isEnabled());
        QVERIFY(!Control<QPushButton>(form, "cmdDZP")->isEnabled());

        qunsetenv("SPARKLOOM_FFMPEG");
        seam.shown.clear();
        seam.fileAnswers << mVideo;
        Click(form, "cmdProjectFile");
        const QString frames = NewFolder(QStringLiteral("after"));
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");
        QCOMPARE(seam.Messages(),
                 QStringList{QStringLiteral("Extracting Video. Please be patient!")});
        QCOMPARE(FramesIn(frames), 300);
        QCOMPARE(form.Project().FrameCount, 300);
        QVERIFY(Control<QPushButton>(form, "cmdThumb")->isEnabled());
    }

    void Extract(Form1& form, ScriptedSeam& seam, const QString& video, const QString& frames) {
        seam.fileAnswers << video;
        Click(form, "cmdProjectFile");
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        mVideo = NewFolder(QStringLiteral("clips")) + QStringLiteral("/Clip.mp4");
        QVERIFY(MakeClip(mVideo, 10));
    }

    void init() { qunsetenv("SPARKLOOM_FFMPEG"); }
    void cleanup() { qunsetenv("SPARKLOOM_FFMPEG"); }

    // The extraction run reads the clip at its own pace (-re), so there is time
    // to kill it after its first frames; the counting run is left alone.
    void killedInTheMiddleOfAnExtraction() {
        const QString slow = Script(QStringLiteral("slow-ffmpeg"),
                                    "#!/bin/sh\n"
                                    "case \"$*\" in *.jpg) exec ffmpeg -re \"$@\";; esac\n"
                                    "exec ffmpeg \"$@\"\n");
        QVERIFY(!slow.isEmpty());
        qputenv("SPARKLOOM_FFMPEG", QFile::encodeName(slow));
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("killed"));
        int killedAt = -1;
        QTimer killer;
        connect(&killer, &QTimer::timeout, [&] {
            const pid_t child = ExtractingChild();
            if (child != 0 && killedAt < 0 && FramesIn(frames) >= 3) {
                killedAt = FramesIn(frames);
                ::kill(child, SIGKILL);
            }
        });
        killer.start(5);  // runs only if the window serves its events meanwhile
        Extract(form, seam, mVideo, frames);
        killer.stop();
        QVERIFY2(killedAt >= 3, "ffmpeg was not seen extracting");
        QVERIFY(FramesIn(frames) < 300);
        QCOMPARE(form.Project().FrameCount, 0);  // only written frames are ever counted
        CheckWarnedAndStillUsable(form, seam, QStringLiteral("signal 9"));
    }

    void missingOrBrokenFfmpeg_data() {
        QTest::addColumn<QString>("ffmpeg");
        QTest::addColumn<QString>("expected");
        QTest::newRow("named but missing") << "/nonexistent/ffmpeg"
                                           << "ffmpeg was not found";
        QTest::newRow("not on the PATH") << ""
                                         << "ffmpeg was not found";
        QTest::newRow("not executable") << "plain"
                                        << "ffmpeg was not found";
        QTest::newRow("not a program") << "garbage"
                                       << "could not be started";
        QTest::newRow("fails at once") << "fails"
                                       << "The video could not be read";
    }
    void missingOrBrokenFfmpeg() {
        QFETCH(QString, ffmpeg);
        QFETCH(QString, expected);
        const QByteArray path = qgetenv("PATH");
        if (ffmpeg.isEmpty()) {
            qputenv("PATH", QFile::encodeName(NewFolder(QStringLiteral("empty-path"))));
        } else if (ffmpeg == "plain") {
            ffmpeg = mRoot.path() + QStringLiteral("/plain-ffmpeg");
            QVERIFY(WriteFile(ffmpeg, "#!/bin/sh\nexec ffmpeg \"$@\"\n"));
        } else if (ffmpeg == "garbage") {
            ffmpeg = Script(QStringLiteral("garbage-ffmpeg"), QByteArray(4096, '\x9c'));
        } else if (ffmpeg == "fails") {
            ffmpeg = Script(QStringLiteral("failing-ffmpeg"), "#!/bin/sh\nexit 1\n");
        }
        if (!ffmpeg.isEmpty()) {
            qputenv("SPARKLOOM_FFMPEG", QFile::encodeName(ffmpeg));
        }
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("broken"));
        Extract(form, seam, mVideo, frames);
        qputenv("PATH", path);
        QCOMPARE(FramesIn(frames), 0);
        CheckWarnedAndStillUsable(form, seam, expected);
    }

    void videosThatAreNone_data() {
        QTest::addColumn<QByteArray>("content");
        QByteArray noise(64 * 1024, Qt::Uninitialized);
        quint32 state = 7;
        for (char& c : noise) {
            state = state * 1664525u + 1013904223u;
            c = static_cast<char>(state >> 24);
        }
        QTest::newRow("random bytes") << noise;
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("a cut clip") << QByteArray("cut");  // the first KB of a real one
        QTest::newRow("gone") << QByteArray("gone");
    }
    void videosThatAreNone() {
        QFETCH(QByteArray, content);
        const QString video = NewFolder(QStringLiteral("none")) + QStringLiteral("/Clip.mp4");
        QVERIFY(WriteFile(video, content == "cut" ? ReadAll(mVideo).left(1024) : content));
        ScriptedSeam seam;
        Form1 form(seam);
        seam.fileAnswers << video;
        Click(form, "cmdProjectFile");
        if (content == "gone") {
            QVERIFY(QFile::remove(video));
        }
        const QString frames = NewFolder(QStringLiteral("from-none"));
        seam.folderAnswers << frames;
        Click(form, "cmdExtract");
        QCOMPARE(FramesIn(frames), 0);
        CheckWarnedAndStillUsable(form, seam, QStringLiteral("could not be"));
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestFaultFfmpeg)
#include "test_fault_ffmpeg.moc"
