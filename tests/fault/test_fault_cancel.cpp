// "&Cancel Process" pressed after every single tick of a run: before the first,
// between two files, in the middle of a file and after the last entry. Each
// cancel must leave a readable package of whole entries (the one being written
// cut short, never wrong), end with Complete(true) and "Canceled", and leave
// the window ready: each run here follows a cancelled one.
#include <QTemporaryDir>
#include <QtTest>

#include "fault/FaultSupport.h"
#include "support/GuiTestMain.h"

using namespace sparkloom;
using namespace sparkloom::test;

class TestFaultCancel : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;

private slots:
    void initTestCase() { QVERIFY(mRoot.isValid()); }

    void cancelAtEveryPoint() {
        const QString video = mRoot.path() + QStringLiteral("/My Clip.mp4");
        QVERIFY(MakeClip(video));
        const QString frames = mRoot.path() + QStringLiteral("/frames");
        const QString out = mRoot.path() + QStringLiteral("/out");
        QVERIFY(QDir().mkpath(frames) && QDir().mkpath(out));
        // 12 chunks: two ticks, so there is a middle of a file to cancel in.
        QVERIFY(WriteNoise(frames + QStringLiteral("/Big.bin"), 12 * Zipper::kChunkSize, 3));

        ScriptedSeam seam;
        Form1 form(seam);
        QCOMPARE(PrepareBuild(form, seam, video, frames), QString());
        // Three frames are enough files to cancel between; fewer runs to check.
        for (int frame = 4; frame <= 30; ++frame) {
            QVERIFY(QFile::remove(
                frames + QStringLiteral("/My_Clip_%1.jpg").arg(frame, 5, 10, QChar(u'0'))));
        }
        Zipper& zipper = form.ArchiveBuilder();
        zipper.SetTickInterval(3600 * 1000);  // ticks by hand, one at a time
        ZipperEventLog events(zipper);

        // An uncancelled run first: how many ticks a whole run takes, and the sources.
        seam.fileAnswers << out + QStringLiteral("/whole.dzp");
        Click(form, "cmdDZP");
        int ticks = 0;
        for (; zipper.Zipping() && ticks < 1000; ++ticks) {
            zipper.Tick();
        }
        QCOMPARE(Status(form), QStringLiteral("Success"));
        const Snapshot sources = SnapshotOf(frames);
        QStringList queue = sources.keys();  // the walk's order: by upper-cased name
        std::sort(queue.begin(), queue.end(),
                  [](const QString& a, const QString& b) { return a.toUpper() < b.toUpper(); });
        QCOMPARE(queue.first(), QStringLiteral("Big.bin"));
        QCOMPARE(queue.size(), 8);
        QCOMPARE(ticks, 2 + (queue.size() - 1) + 1);  // Big.bin, one per small file, the close

        QSet<QString> pointsSeen;
        for (int before = 0; before < ticks; ++before) {
            const QString package = out + QStringLiteral("/cancel-%1.dzp").arg(before);
            seam.shown.clear();
            events.starts = 0;
            events.ends = 0;
            events.completes.clear();
            seam.fileAnswers << package;
            Click(form, "cmdDZP");
            QVERIFY(zipper.Zipping());
            for (int i = 0; i < before; ++i) {
                zipper.Tick();
            }
            QVERIFY(zipper.Zipping());
            const qsizetype done = events.ends;
            const bool midFile = events.starts > events.ends;
            const QString point = before == 0 ? QStringLiteral("before the first tick")
                                  : midFile   ? QStringLiteral("in the middle of a file")
                                  : zipper.QueuedCount() > 0
                                      ? QStringLiteral("between files")
                                      : QStringLiteral("after the last entry");
            pointsSeen.insert(point);
            const QByteArray where =
                QStringLiteral("cancel after %1 ticks, %2").arg(before).arg(point).toUtf8();

            QVERIFY2(Control<QPushButton>(form, "Command3")->isEnabled(), where);
            Click(form, "Command3");
            for (int i = 0; i < 1000 && zipper.Zipping(); ++i) {
                zipper.Tick();
            }
            QVERIFY2(!zipper.Zipping(), where);
            QCOMPARE(events.errors, 0);
            QCOMPARE(events.completes.size(), size_t(1));
            QCOMPARE(bool(events.completes[0]), true);
            QCOMPARE(Status(form), QStringLiteral("Canceled"));
            QVERIFY2(seam.Messages().isEmpty(), where);
            QVERIFY(!Control<QPushButton>(form, "Command3")->isEnabled());
            QVERIFY(Control<QPushButton>(form, "cmdDZP")->isEnabled());

            // The finished entries whole, then the one being written when the
            // cancel came (cut, or empty when it had not started), in queue order.
            QList<ArchiveEntry> entries;
            QVERIFY2(ReadArchive(package, entries), where);
            QVERIFY2(UnzipTestsClean(package), where);
            const bool allDone = point == QStringLiteral("after the last entry");
            QCOMPARE(entries.size(), allDone ? queue.size() : done + 1);
            for (qsizetype i = 0; i < entries.size(); ++i) {
                QCOMPARE(entries[i].rawName, EntryNameOf(queue[i]));
                const QByteArray& source = sources[queue[i]];
                if (i < done) {
                    QVERIFY2(entries[i].data == source, where);
                } else {
                    QVERIFY2(source.startsWith(entries[i].data), where);
                    QVERIFY2(entries[i].data.size() < source.size(), where);
                    QVERIFY2(midFile == !entries[i].data.isEmpty(), where);
                }
            }
        }
        QCOMPARE(pointsSeen.size(), 4);

        // After all those cancels, a build on the real timer goes through whole.
        zipper.SetTickInterval(Zipper::kDefaultTickInterval);
        seam.shown.clear();
        seam.fileAnswers << out + QStringLiteral("/after.dzp");
        Click(form, "cmdDZP");
        QVERIFY(WaitUntilIdle(form));
        QCOMPARE(Status(form), QStringLiteral("Success"));
        QCOMPARE(seam.Messages(), QStringList{QStringLiteral("Success!")});
        QList<ArchiveEntry> entries;
        QVERIFY(ReadArchive(out + QStringLiteral("/after.dzp"), entries));
        QCOMPARE(entries.size(), queue.size());
        QCOMPARE(EntriesMatchSources(entries, sources), QString());
    }
};

SPARKLOOM_GUI_TEST_MAIN(TestFaultCancel)
#include "test_fault_cancel.moc"
