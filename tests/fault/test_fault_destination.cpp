// The package's folder failing under the build: full (writes past a file-size
// limit fail with EFBIG), read-only, or gone. The user must see why, never
// "Success", and the frames folder and any earlier package must stay as they were.
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cerrno>
#include <cstring>

#include "fault/FaultSupport.h"
#include "support/GuiTestMain.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

constexpr uid_t kNobody = 65534;
constexpr int kCannotBecomeNobody = 77;

// "Err <code> in <step>" as the window writes a failed packing, then ": " and
// the system's words for reason.
bool IsErrLine(const QString& status, int reason) {
    static const QRegularExpression form(QStringLiteral("^Err -?\\d+ in \\w+$"));
    const QString step = status.section(QStringLiteral(": "), 0, 0);
    return form.match(step).hasMatch() && status == WithReason(step, reason);
}

// One run of the build helper: a first build, then fault() is applied while the
// helper waits, then the second build's report.
struct HelperRun {
    QString firstStatus;
    QJsonObject report;
    int exitCode = -1;
    QByteArray errors;
};

}  // namespace

class TestFaultDestination : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mVideo;
    QString mSettings;
    QString mHelper;  // a copy another user can run, whatever the build folder's rights
    int mCase = 0;

    QString NewFolder(const QString& name) {
        const QString path = mRoot.path() + QStringLiteral("/%1-%2").arg(name).arg(++mCase);
        QDir().mkpath(path);
        // Open to everyone: the helper may run as another user.
        QFile::setPermissions(
            path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                      QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther |
                      QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup);
        return path;
    }

    HelperRun RunHelper(const QString& frames, const QString& out, qint64 fileSizeLimit,
                        bool asNobody, const std::function<void()>& fault) {
        HelperRun run;
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), mSettings);
        env.insert(QStringLiteral("HOME"), mSettings);
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        helper.setProcessEnvironment(env);
        helper.setWorkingDirectory(mRoot.path());
        if (asNobody) {
            helper.setChildProcessModifier([] {
                if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) {
                    _exit(kCannotBecomeNobody);
                }
            });
        }
        QStringList args{mVideo, frames, out};
        if (fileSizeLimit > 0) {
            args << QString::number(fileSizeLimit);
        }
        helper.start(mHelper, args);
        if (!helper.waitForStarted()) {
            return run;
        }
        while (!helper.canReadLine() && helper.state() == QProcess::Running) {
            helper.waitForReadyRead(60000);
        }
        const QByteArray ready = helper.readLine().trimmed();
        if (ready.startsWith("READY ")) {
            run.firstStatus = QString::fromUtf8(ready.mid(6));
            fault();
            helper.write("go\n");
            helper.closeWriteChannel();
        }
        helper.waitForFinished(60000);
        run.exitCode = helper.exitStatus() == QProcess::NormalExit ? helper.exitCode() : -1;
        run.report = QJsonDocument::fromJson(helper.readAllStandardOutput().trimmed()).object();
        run.errors = ready + '\n' + helper.readAllStandardError();
        return run;
    }

    static QStringList MessagesOf(const HelperRun& run) {
        QStringList messages;
        for (const QJsonValue& m : run.report.value("messages").toArray()) {
            messages << m.toString();
        }
        return messages;
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        QFile::setPermissions(mRoot.path(), QFile::permissions(mRoot.path()) |
                                                QFileDevice::ReadOther | QFileDevice::ExeOther);
        const QString clips = NewFolder(QStringLiteral("clips"));
        mVideo = clips + QStringLiteral("/My Clip.mp4");
        QVERIFY(MakeClip(mVideo));
        QFile::setPermissions(mVideo, QFile::permissions(mVideo) | QFileDevice::ReadOther);
        mSettings = NewFolder(QStringLiteral("settings"));
        mHelper = mRoot.path() + QStringLiteral("/fault_build_helper");
        QVERIFY(QFile::copy(QStringLiteral(FAULT_BUILD_HELPER), mHelper));
        QVERIFY(QFile::setPermissions(mHelper, QFile::permissions(mHelper) | QFileDevice::ExeOwner |
                                                   QFileDevice::ReadOther | QFileDevice::ExeOther));
    }

    // A full disk during packing: the write fails with EFBIG part way through.
    void fullDestinationEndsWithErrNotSuccess() {
        const QString frames = NewFolder(QStringLiteral("frames"));
        const QString out = NewFolder(QStringLiteral("out"));
        // Three MB deflate cannot shrink: the package outgrows the 1 MB limit.
        QVERIFY(WriteNoise(frames + QStringLiteral("/Noise.bin"), 3 << 20, 1));
        Snapshot before;
        QByteArray first;
        const HelperRun run = RunHelper(frames, out, 1 << 20, false, [&] {
            before = SnapshotOf(frames);
            first = ReadAll(out + QStringLiteral("/First.dzp"));
        });
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QCOMPARE(run.firstStatus, QStringLiteral("Success"));
        QVERIFY(run.report.value("ended").toBool());
        const QString status = run.report.value("status").toString();
        qInfo("out of space: %s", qPrintable(status));
        QVERIFY2(IsErrLine(status, EFBIG), qPrintable(status));
        QVERIFY(!MessagesOf(run).contains(QStringLiteral("Success!")));

        // Nothing of the user's is lost or changed: the templates were rewritten
        // with the same bytes, the first package is untouched.
        QCOMPARE(SnapshotOf(frames), before);
        QVERIFY(before.size() >= 35);
        QCOMPARE(ReadAll(out + QStringLiteral("/First.dzp")), first);
        QList<ArchiveEntry> entries;
        QVERIFY(ReadArchive(out + QStringLiteral("/First.dzp"), entries));
        QCOMPARE(EntriesMatchSources(entries, before), QString());
        QCOMPARE(entries.size(), before.size());
        // What was cut off is no package: a reader refuses it, or at least misses
        // entries; it never passes for a whole one.
        // Nothing of it is left under its name.
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/Second.dzp")));
    }

    // A disk that fills while packing (a small tmpfs): the status line keeps
    // "Err N in STEP" and says the disk is full on the same line, and still no message box.
    void fullDiskSaysWhyOnTheStatusLine() {
        const QString frames = NewFolder(QStringLiteral("frames"));
        QVERIFY(WriteNoise(frames + QStringLiteral("/Noise.bin"), 3 << 20, 4));
        ScriptedSeam seam;
        Form1 form(seam);
        QCOMPARE(PrepareBuild(form, seam, mVideo, frames), QString());
        const QString out = NewFolder(QStringLiteral("small-disk"));
        const QByteArray mountPoint = QFile::encodeName(out);
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m") !=
            0) {
            const QByteArray why = QByteArray("no tmpfs may be mounted here (") +
                                   std::strerror(errno) + "), so no disk can be filled";
            QSKIP(why.constData());
        }
        struct Unmount {
            QByteArray at;
            ~Unmount() { ::umount2(at.constData(), MNT_DETACH); }
        } unmount{mountPoint};

        seam.fileAnswers << out + QStringLiteral("/Fire.dzp");
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        const QString status = Status(form);
        qInfo("disk full: %s", qPrintable(status));
        // The disk's own words, naming its folder, whatever the failed call said.
        const QRegularExpression full(QStringLiteral("^Err -?\\d+ in \\w+: the disk holding ") +
                                      QRegularExpression::escape(out) +
                                      QStringLiteral(" is full \\(\\d+ bytes free\\)$"));
        QVERIFY2(full.match(status).hasMatch(), qPrintable(status));
        QCOMPARE(seam.Messages(), QStringList{});
        QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());
    }

    // A folder the user may not write into: refused when the archive is opened.
    void readOnlyDestinationIsReported() {
        const bool asNobody = geteuid() == 0;  // root writes anywhere
        const QString frames = NewFolder(QStringLiteral("frames"));
        const QString out = NewFolder(QStringLiteral("readonly"));
        Snapshot before;
        QByteArray first;
        const HelperRun run = RunHelper(frames, out, 0, asNobody, [&] {
            before = SnapshotOf(frames);
            first = ReadAll(out + QStringLiteral("/First.dzp"));
            QVERIFY(QFile::setPermissions(out, QFileDevice::ReadOwner | QFileDevice::ExeOwner |
                                                   QFileDevice::ReadOther | QFileDevice::ExeOther));
        });
        if (run.exitCode == kCannotBecomeNobody) {
            QSKIP("running as root, and cannot switch to uid 65534 to lose root's rights");
        }
        QVERIFY2(run.exitCode == 0, run.errors.constData());
        QCOMPARE(run.firstStatus, QStringLiteral("Success"));
        const QString status = run.report.value("status").toString();
        QCOMPARE(status, WithReason(QStringLiteral("Err -1 in OpenZip"), EACCES));
        QVERIFY(!MessagesOf(run).contains(QStringLiteral("Success!")));
        QVERIFY(!QFile::exists(out + QStringLiteral("/Second.dzp")));
        QCOMPARE(ReadAll(out + QStringLiteral("/First.dzp")), first);
        QCOMPARE(SnapshotOf(frames), before);
    }

    // Gone before the build: the folder check names it. Gone while the build
    // writes its templates (it yields to the event loop there): opening the
    // archive fails and says so.
    void removedDestinationIsReported() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("frames"));
        QCOMPARE(PrepareBuild(form, seam, mVideo, frames), QString());
        const QString out = NewFolder(QStringLiteral("gone"));
        seam.fileAnswers << out + QStringLiteral("/First.dzp");
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        const Snapshot before = SnapshotOf(frames);

        QVERIFY(QDir(out).removeRecursively());
        seam.shown.clear();
        seam.fileAnswers << out + QStringLiteral("/Second.dzp");
        Click(form, "cmdDZP");
        QCOMPARE(seam.Messages().size(), 1);
        QVERIFY2(seam.Messages()[0].contains(out) &&
                     seam.Messages()[0].contains(QStringLiteral("does not exist")),
                 qPrintable(seam.Messages()[0]));
        QCOMPARE(seam.shown.last().icon, MessageIcon::Warning);
        QVERIFY(!form.ArchiveBuilder().Zipping());
        QVERIFY(!QFileInfo::exists(out));

        const QString late = NewFolder(QStringLiteral("late"));
        seam.shown.clear();
        seam.fileAnswers << late + QStringLiteral("/Third.dzp");
        QTimer::singleShot(0, this, [late] { QDir(late).removeRecursively(); });
        Click(form, "cmdDZP");
        QVERIFY(!QFileInfo::exists(late));
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), WithReason(QStringLiteral("Err -1 in OpenZip"), ENOENT));
        QVERIFY(!seam.Messages().contains(QStringLiteral("Success!")));
        QVERIFY(!QFileInfo::exists(late));
        QCOMPARE(SnapshotOf(frames), before);

        // The window goes on working.
        const QString again = NewFolder(QStringLiteral("again"));
        seam.fileAnswers << again + QStringLiteral("/Fourth.dzp");
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        QList<ArchiveEntry> entries;
        QVERIFY(ReadArchive(again + QStringLiteral("/Fourth.dzp"), entries));
        QCOMPARE(EntriesMatchSources(entries, before), QString());
        QCOMPARE(entries.size(), before.size());
    }

    // Removed, or moved away, while packing: what was written went to a file
    // nobody can reach any more. That is no package, and no "Success".
    void destinationGoneWhilePacking_data() {
        QTest::addColumn<bool>("moved");
        QTest::newRow("folder removed") << false;
        QTest::newRow("package moved away") << true;
    }
    void destinationGoneWhilePacking() {
        QFETCH(bool, moved);
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("frames"));
        QCOMPARE(PrepareBuild(form, seam, mVideo, frames), QString());
        Zipper& zipper = form.ArchiveBuilder();
        zipper.SetTickInterval(3600 * 1000);  // ticks by hand
        const QString out = NewFolder(QStringLiteral("vanishing"));
        seam.fileAnswers << out + QStringLiteral("/Fire.dzp");
        Click(form, "cmdDZP");
        zipper.Tick();
        zipper.Tick();
        if (moved) {
            // The archive is written under a hidden name until it is whole.
            const QStringList written = QDir(out).entryList(QDir::Files | QDir::Hidden);
            QCOMPARE(written.size(), 1);
            QVERIFY(QFile::rename(out + u'/' + written[0], out + QStringLiteral("/Elsewhere.dzp")));
        } else {
            QVERIFY(QDir(out).removeRecursively());
        }
        for (int i = 0; i < 1000 && zipper.Zipping(); ++i) {
            zipper.Tick();
        }
        QVERIFY(!zipper.Zipping());
        QCOMPARE(Status(form), QStringLiteral("Err -1 in CloseZip"));
        QVERIFY(!seam.Messages().contains(QStringLiteral("Success!")));
        QVERIFY(!QFileInfo::exists(out + QStringLiteral("/Fire.dzp")));
    }

    // The package's folder is the save path less "/" + the file's name, every
    // time it occurs; a package named like the frames folder, saved inside it,
    // so hides the frames folder from the check meant to keep it out of there.
    void packageInsideTheFramesFolderUnderItsNameIsRefused() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("frames"));
        QCOMPARE(PrepareBuild(form, seam, mVideo, frames), QString());
        const QString name = QFileInfo(frames).fileName();
        const QString package = frames + u'/' + name + QStringLiteral(".dzp");
        seam.fileAnswers << frames + u'/' + name;  // typed without extension
        Click(form, "cmdDZP");
        WaitUntilIdle(form);
        QCOMPARE(seam.Messages(),
                 QStringList{QStringLiteral(
                     "You cannot create the Installation File in the Project Folder!\r\n"
                     "Please Choose Another Destination Folder")});
        QVERIFY(!QFileInfo::exists(package));
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestFaultDestination)
#include "test_fault_destination.moc"
