// Files of the frames folder that change after "Build Particle" queued them and
// before their turn: the run ends with Error, never "Success", and no entry of
// the package holds bytes other than its source's.
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

#include "fault/FaultSupport.h"
#include "support/GuiTestMain.h"

using namespace sparkloom;
using namespace sparkloom::test;

class TestFaultSources : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mVideo;
    int mCase = 0;

    QString NewFolder(const QString& name) {
        const QString path = mRoot.path() + QStringLiteral("/%1-%2").arg(name).arg(++mCase);
        QDir().mkpath(path);
        return path;
    }

    // Runs the builder's ticks by hand until the run ends, so a test decides
    // exactly what happens between two of them.
    static bool TickToEnd(Zipper& zipper) {
        for (int i = 0; i < 10000 && zipper.Zipping(); ++i) {
            zipper.Tick();
        }
        return !zipper.Zipping();
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        mVideo = NewFolder(QStringLiteral("clips")) + QStringLiteral("/My Clip.mp4");
        QVERIFY(MakeClip(mVideo));
    }

    // "reason": the system's error whose words follow the status, 0 when the
    // file opened and only its length had changed.
    void changedBeforeItsTurn_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("status");
        QTest::addColumn<int>("reason");
        QTest::newRow("deleted") << "delete"
                                 << "Err 0 in OpenFile" << ENOENT;
        QTest::newRow("truncated") << "truncate"
                                   << "Err 0 in ReadFile" << 0;
        QTest::newRow("emptied") << "empty"
                                 << "Err 0 in ReadFile" << 0;
        QTest::newRow("grown") << "grow"
                               << "Err 0 in ReadFile" << 0;
        QTest::newRow("made unreadable") << "unreadable"
                                         << "Err 0 in OpenFile" << EACCES;
        QTest::newRow("replaced by a folder") << "folder"
                                              << "Err 0 in OpenFile" << EISDIR;
    }
    void changedBeforeItsTurn() {
        QFETCH(QString, change);
        QFETCH(QString, status);
        QFETCH(int, reason);
        if (change == "unreadable" && geteuid() == 0) {
            QSKIP("root reads any file");
        }
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("frames"));
        QCOMPARE(PrepareBuild(form, seam, mVideo, frames), QString());
        Zipper& zipper = form.ArchiveBuilder();
        zipper.SetTickInterval(3600 * 1000);  // this test ticks by hand
        ZipperEventLog events(zipper);

        const QString out = NewFolder(QStringLiteral("out"));
        const QString package = out + QStringLiteral("/Fire.dzp");
        // The failed run's archive, kept aside before it is removed.
        const QString failed = out + QStringLiteral("/failed.zip");
        events.beforeWindowError = [&] { QFile::copy(ToQt(zipper.ArchivePath()), failed); };
        seam.fileAnswers << package;
        Click(form, "cmdDZP");
        QVERIFY(zipper.Zipping());
        const Snapshot queued = SnapshotOf(frames);
        QCOMPARE(queued.size(), 34);  // 30 frames, 2 thumbnails, 2 templates

        zipper.Tick();  // the first frame is packed
        const QString victim = frames + QStringLiteral("/My_Clip_00010.jpg");
        QFile file(victim);
        if (change == "delete") {
            QVERIFY(file.remove());
        } else if (change == "truncate") {
            QVERIFY(file.resize(file.size() / 2));
        } else if (change == "empty") {
            QVERIFY(file.resize(0));
        } else if (change == "grow") {
            QVERIFY(file.open(QIODevice::Append) && file.write("more") == 4);
            file.close();
        } else if (change == "unreadable") {
            QVERIFY(file.setPermissions(QFileDevice::WriteOwner));
        } else if (change == "folder") {
            QVERIFY(file.remove());
            QVERIFY(QDir().mkdir(victim));
        }
        QVERIFY(TickToEnd(zipper));

        QCOMPARE(events.errors, 1);
        QCOMPARE(events.completes.size(), size_t(0));
        QCOMPARE(Status(form), WithReason(status, reason));
        QVERIFY(!seam.Messages().contains(QStringLiteral("Success!")));
        // Nothing under the package's name; the run stopped at the changed
        // file: frames 1 to 9, each whole, and nothing with its name.
        QVERIFY(!QFile::exists(package));
        QList<ArchiveEntry> entries;
        QVERIFY(ReadArchive(failed, entries));
        QVERIFY(UnzipTestsClean(failed));
        QCOMPARE(EntriesMatchSources(entries, queued), QString());
        QCOMPARE(entries.size(), 9);
        QCOMPARE(entries.last().rawName, QByteArray(".\\My_Clip_00009.jpg"));

        // The window is ready for the next build, which packs what is there now.
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QDir().rmdir(victim);
        seam.shown.clear();
        seam.fileAnswers << out + QStringLiteral("/Again.dzp");
        Click(form, "cmdDZP");
        QVERIFY(TickToEnd(zipper));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        QCOMPARE(events.completes.size(), size_t(1));
        QVERIFY(ReadArchive(out + QStringLiteral("/Again.dzp"), entries));
        const Snapshot now = SnapshotOf(frames);
        QCOMPARE(EntriesMatchSources(entries, now), QString());
        QCOMPARE(entries.size(), now.size());
    }

    // A file of the user's beside the frames that takes the queue past the
    // builder's 2 GiB total: nothing is packed, and the status line names the
    // file and the limit (a sparse file: no disk space is needed for it).
    void hugeFileBesideTheFramesSaysWhy() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("frames"));
        QCOMPARE(PrepareBuild(form, seam, mVideo, frames), QString());
        QFile huge(frames + QStringLiteral("/huge.bin"));
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(2200) << 20));
        huge.close();
        const QString package = NewFolder(QStringLiteral("out")) + QStringLiteral("/Fire.dzp");
        seam.fileAnswers << package;
        Click(form, "cmdDZP");
        QVERIFY(!form.ArchiveBuilder().Zipping());
        QCOMPARE(form.ArchiveBuilder().QueuedCount(), 0);
        const QString status = Status(form);
        qInfo("too much to pack: %s", qPrintable(status));
        QVERIFY2(status.startsWith(QStringLiteral("AddFile failed on huge.bin: ")) &&
                     status.contains(QStringLiteral("2 GiB")),
                 qPrintable(status));
        QCOMPARE(seam.Messages(), QStringList{});
        QVERIFY(!QFile::exists(package));
    }

    // A file cut short while it is being read: Error, and every entry before it whole.
    void truncatedWhileReadIsAnError() {
        ScriptedSeam seam;
        Form1 form(seam);
        const QString frames = NewFolder(QStringLiteral("frames"));
        QVERIFY(WriteNoise(frames + QStringLiteral("/Big.bin"), 3 << 20, 2));
        QCOMPARE(PrepareBuild(form, seam, mVideo, frames), QString());
        Zipper& zipper = form.ArchiveBuilder();
        zipper.SetTickInterval(3600 * 1000);
        const QString package = NewFolder(QStringLiteral("out")) + QStringLiteral("/Fire.dzp");
        const QString failed = package + QStringLiteral(".failed");
        ZipperEventLog events(zipper);
        events.beforeWindowError = [&] { QFile::copy(ToQt(zipper.ArchivePath()), failed); };
        seam.fileAnswers << package;
        Click(form, "cmdDZP");
        const Snapshot queued = SnapshotOf(frames);
        zipper.Tick();  // Big.bin comes first and is read a tick's worth
        QCOMPARE(ToQt(zipper.CurrentFile()->AsFile), QStringLiteral(".\\Big.bin"));
        QVERIFY(QFile::resize(frames + QStringLiteral("/Big.bin"), 1 << 20));
        QVERIFY(TickToEnd(zipper));
        QCOMPARE(Status(form), QStringLiteral("Err 0 in ReadFile"));
        QVERIFY(!seam.Messages().contains(QStringLiteral("Success!")));
        QVERIFY(!QFile::exists(package));
        QList<ArchiveEntry> entries;
        QVERIFY(ReadArchive(failed, entries));
        QVERIFY(entries.size() <= 1);
        for (const ArchiveEntry& entry : entries) {
            QVERIFY(queued.value(QStringLiteral("Big.bin")).startsWith(entry.data));
        }
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestFaultSources)
#include "test_fault_sources.moc"
