#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <limits>
#include <stdexcept>

#include "zip/ZipInspect.h"
#include "zip/ZipLibrary.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

constexpr int32_t kChunk = Zipper::kChunkSize;

// Every event in the order raised, with BytesZipped at Progress.
struct EventLog {
    QStringList events;
    explicit EventLog(Zipper& zipper) {
        QObject::connect(&zipper, &Zipper::StartFile, [this, &zipper] {
            events << "StartFile " + zipper.CurrentFile()->AsFile;
        });
        QObject::connect(&zipper, &Zipper::Progress, [this, &zipper] {
            events << "Progress " + QString::number(zipper.BytesZipped());
        });
        QObject::connect(&zipper, &Zipper::EndFile, [this] { events << "EndFile"; });
        QObject::connect(&zipper, &Zipper::Error, [this, &zipper] {
            events << "Error " + zipper.Failed() + " " + QString::number(zipper.Result());
        });
        QObject::connect(&zipper, &Zipper::Complete, [this](bool canceled) {
            events << QStringLiteral("Complete ") + (canceled ? "true" : "false");
        });
    }
    QStringList Take() { return std::exchange(events, {}); }
};

// Drives the run tick by tick; the number of ticks it took, or -1.
int RunToEnd(Zipper& zipper) {
    for (int ticks = 1; ticks < 100000; ++ticks) {
        zipper.Tick();
        if (!zipper.Zipping()) {
            return ticks;
        }
    }
    return -1;
}

qint64 StatusKiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(int(qstrlen(field))).trimmed().split(' ').first().toLongLong();
        }
    }
    return -1;
}

}  // namespace

class TestZipper : public QObject {
    Q_OBJECT

    QTemporaryDir mDir;
    QString Path(const QString& name) const { return mDir.filePath(name); }
    QString NewFile(const QString& name, qint64 size, char seed = 1) {
        const QString path = Path(name);
        return WriteFile(path, size, seed) ? path : QString();
    }

private slots:
    void addFileQueuesOrRefuses() {
        Zipper zipper;
        QCOMPARE(zipper.TickInterval(), 16);
        QVERIFY(zipper.AddFile(Path("missing.jpg")));
        QVERIFY(zipper.AddFile(mDir.path()));  // a folder has no bytes to pack
        QCOMPARE(zipper.QueuedCount(), 0);
        QCOMPARE(zipper.BytesToZip(), 0);

        QVERIFY(!zipper.AddFile(NewFile("b.jpg", 100)));
        QVERIFY(!zipper.AddFile(NewFile("c.jpg", 50), QStringLiteral("x\\c.jpg"), 8, -1, 0x01));
        QCOMPARE(zipper.QueuedCount(), 2);
        QCOMPARE(zipper.BytesToZip(), 150);
        EventLog log(zipper);
        QVERIFY(!zipper.Zip(Path("add.zip")));
        QCOMPARE(RunToEnd(zipper), 3);
        QCOMPARE(log.Take(),
                 (QStringList{"StartFile b.jpg", "Progress 100", "EndFile", "StartFile x\\c.jpg",
                              "Progress 150", "EndFile", "Complete false"}));
        const ReadArchive read = ReadWithPython(Path("add.zip"));
        QCOMPARE(read.error, QString());
        QCOMPARE(read.entries[0].external, 0x20u);  // the file's own attributes
        QCOMPARE(read.entries[1].external, 0x01u);  // the caller's
        QCOMPARE(read.entries[0].sha256, FileSha256Hex(Path("b.jpg")));
    }

    void tickExamples() {
        Zipper zipper;
        EventLog log(zipper);

        QVERIFY(!zipper.AddFile(NewFile("300000.bin", 300000)));
        QVERIFY(!zipper.Zip(Path("300000.zip")));
        zipper.Tick();
        QCOMPARE(log.Take(), (QStringList{"StartFile 300000.bin", "Progress 131072",
                                          "Progress 262144", "Progress 300000", "EndFile"}));
        zipper.Tick();
        QCOMPARE(log.Take(), QStringList{"Complete false"});
        QCOMPARE(zipper.BytesZipped(), 300000);
        QCOMPARE(zipper.BytesToZip(), 0);
        QCOMPARE(zipper.CurrentFile()->AsFile, QStringLiteral("300000.bin"));
        QCOMPARE(ReadWithPython(Path("300000.zip")).entries.value(0).sha256,
                 FileSha256Hex(Path("300000.bin")));

        // The end of a file is seen at the top of the loop, so a file of exactly
        // ten chunks ends on the next tick.
        QVERIFY(!zipper.AddFile(NewFile("ten.bin", 10 * kChunk)));
        QVERIFY(!zipper.Zip(Path("ten.zip")));
        zipper.Tick();
        QStringList first = log.Take();
        QCOMPARE(first.size(), 11);
        QCOMPARE(first.last(), QStringLiteral("Progress 1310720"));
        zipper.Tick();
        QCOMPARE(log.Take(), QStringList{"EndFile"});
        zipper.Tick();
        QCOMPARE(log.Take(), QStringList{"Complete false"});
        QCOMPARE(zipper.BytesZipped(), 10 * kChunk);  // each run counts from 0

        QVERIFY(!zipper.AddFile(NewFile("a.txt", 10)));
        QVERIFY(!zipper.AddFile(NewFile("b.txt", 10)));
        QVERIFY(!zipper.Zip(Path("two.zip")));
        zipper.Tick();
        QCOMPARE(log.Take(), (QStringList{"StartFile a.txt", "Progress 10", "EndFile"}));
        zipper.Tick();
        QCOMPARE(log.Take(), (QStringList{"StartFile b.txt", "Progress 20", "EndFile"}));
        zipper.Tick();
        QCOMPARE(log.Take(), QStringList{"Complete false"});

        QVERIFY(!zipper.Zip(Path("empty.zip")));
        zipper.Tick();
        QCOMPARE(log.Take(), QStringList{"Complete false"});
        const ReadArchive empty = ReadWithPython(Path("empty.zip"));
        QCOMPARE(empty.error, QString());
        QCOMPARE(empty.entries.size(), 0);

        // A file of 0 bytes is an entry without data, closed at once.
        QVERIFY(!zipper.AddFile(NewFile("zero.bin", 0)));
        QVERIFY(!zipper.Zip(Path("zero.zip")));
        zipper.Tick();
        QCOMPARE(log.Take(), (QStringList{"StartFile zero.bin", "EndFile"}));
        QCOMPARE(RunToEnd(zipper), 1);
        const ReadArchive zero = ReadWithPython(Path("zero.zip"));
        QCOMPARE(zero.error, QString());
        QCOMPARE(zero.entries.value(0).size, 0);
    }

    void zipDuringRunIsRefused() {
        Zipper zipper;
        QVERIFY(!zipper.AddFile(NewFile("run.bin", 3 * kChunk)));
        QVERIFY(!zipper.Zip(Path("run.zip")));
        zipper.Tick();
        QVERIFY(zipper.Zip(Path("other.zip")));
        QCOMPARE(zipper.Failed(), QStringLiteral("Already mZipping"));
        QCOMPARE(zipper.Result(), 0);
        QVERIFY(!QFile::exists(Path("other.zip")));
        QVERIFY(RunToEnd(zipper) > 0);
        QCOMPARE(ReadWithPython(Path("run.zip")).entries.value(0).sha256,
                 FileSha256Hex(Path("run.bin")));
        // A completed run leaves the last failure as it was.
        QCOMPARE(zipper.Failed(), QStringLiteral("Already mZipping"));
    }

    void cancelling() {
        Zipper zipper;
        EventLog log(zipper);
        zipper.Cancel();  // idle: no effect on the next run
        QVERIFY(!zipper.AddFile(NewFile("long.bin", 25 * kChunk)));
        QVERIFY(!zipper.AddFile(NewFile("next.bin", 10)));
        QVERIFY(!zipper.Zip(Path("cut.zip")));
        zipper.Tick();
        zipper.Cancel();
        log.Take();
        zipper.Tick();
        QCOMPARE(log.Take(), QStringList{"EndFile"});
        QCOMPARE(zipper.QueuedCount(), 0);
        zipper.Tick();
        QCOMPARE(log.Take(), QStringList{"Complete true"});
        ReadArchive read = ReadWithPython(Path("cut.zip"));
        QCOMPARE(read.error, QString());
        QCOMPARE(read.names(), QList<QByteArray>{"long.bin"});
        QCOMPARE(read.entries[0].size, 10 * kChunk);
        QCOMPARE(read.entries[0].sha256, FileSha256Hex(Path("long.bin"), 10 * kChunk));

        // A request first seen between two files still starts the next one, empty.
        QVERIFY(!zipper.AddFile(Path("next.bin"), QStringLiteral("first")));
        QVERIFY(!zipper.AddFile(Path("next.bin"), QStringLiteral("second")));
        QVERIFY(!zipper.AddFile(Path("next.bin"), QStringLiteral("third")));
        QVERIFY(!zipper.Zip(Path("between.zip")));
        zipper.Tick();
        zipper.Cancel();
        log.Take();
        QCOMPARE(RunToEnd(zipper), 2);
        QCOMPARE(log.Take(), (QStringList{"StartFile second", "EndFile", "Complete true"}));
        read = ReadWithPython(Path("between.zip"));
        QCOMPARE(read.error, QString());
        QCOMPARE(read.names(), (QList<QByteArray>{"first", "second"}));
        QCOMPARE(read.entries[1].size, 0);

        // The request ended with that run.
        QVERIFY(!zipper.AddFile(Path("next.bin")));
        QVERIFY(!zipper.Zip(Path("after.zip")));
        QCOMPARE(RunToEnd(zipper), 2);
        QCOMPARE(log.Take().last(), QStringLiteral("Complete false"));
    }

    void countersAcrossRuns() {
        Zipper zipper;
        QVERIFY(!zipper.AddFile(NewFile("one.bin", 1000)));
        QVERIFY(zipper.Zip(Path("no/such/folder.zip")));
        QCOMPARE(zipper.Failed(), QStringLiteral("OpenZip"));
        QCOMPARE(zipper.Result(), ZipWriter::kCannotOpenArchive);
        QCOMPARE(zipper.QueuedCount(), 0);
        QCOMPARE(zipper.BytesToZip(), 1000);  // dropped entries stay counted
        QVERIFY(!zipper.AddFile(NewFile("two.bin", 24)));
        QCOMPARE(zipper.BytesToZip(), 1024);

        QVERIFY(!zipper.Zip(Path("first.zip")));
        QCOMPARE(zipper.BytesZipped(), 0);
        QCOMPARE(RunToEnd(zipper), 2);
        QCOMPARE(zipper.BytesZipped(), 24);
        QCOMPARE(zipper.BytesToZip(), 0);
        QVERIFY(!zipper.AddFile(Path("one.bin")));
        QCOMPARE(zipper.BytesToZip(), 1000);
        QVERIFY(!zipper.Zip(Path("second.zip")));
        QCOMPARE(zipper.BytesZipped(), 0);
        QCOMPARE(RunToEnd(zipper), 2);
        QCOMPARE(zipper.BytesZipped(), 1000);
    }

    // A source gone or changed since it was queued ends the run with Error and
    // never becomes an entry with other bytes; the next run works.
    void changedSourcesFail_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("failed");
        QTest::addColumn<int>("threads");
        // Deflated ahead, a file is read long before its turn: a change while
        // it is read cannot be timed from here.
        for (const int threads : {0, 2}) {
            const QByteArray road = threads == 0 ? "" : ", deflated ahead";
            QTest::newRow("vanished" + road) << "remove"
                                             << "OpenFile" << threads;
            QTest::newRow("truncated" + road) << "shrink"
                                              << "ReadFile" << threads;
            QTest::newRow("grown" + road) << "grow"
                                          << "ReadFile" << threads;
            QTest::newRow("no cp1252 name" + road) << "name"
                                                   << "OpenFileInZip" << threads;
        }
        QTest::newRow("shrunk while read") << "shrink later"
                                           << "ReadFile" << 0;
    }
    void changedSourcesFail() {
        QFETCH(QString, change);
        QFETCH(QString, failed);
        QFETCH(int, threads);
        Zipper zipper;
        zipper.SetDeflateThreads(threads);
        EventLog log(zipper);
        const QString good = NewFile("good.bin", 5000);
        const QString bad = NewFile("bad.bin", 15 * kChunk);
        QVERIFY(!zipper.AddFile(good));
        QVERIFY(!zipper.AddFile(bad, change == "name" ? QStringLiteral("名.bin") : QString()));
        QVERIFY(!zipper.AddFile(good, QStringLiteral("never")));
        QFile file(bad);
        if (change == "remove") {
            QVERIFY(file.remove());
        } else if (change == "shrink") {
            QVERIFY(file.resize(kChunk));
        } else if (change == "grow") {
            QVERIFY(file.resize(16 * kChunk));
        }
        const QString archive = Path("changed.zip");
        QVERIFY(!zipper.Zip(archive));
        zipper.Tick();
        if (change == "shrink later") {
            zipper.Tick();
            QVERIFY(file.resize(3 * kChunk));
        } else {
            zipper.Cancel();  // a request pending when the run fails must not outlive it
        }
        QCOMPARE(RunToEnd(zipper), 1);
        const QStringList events = log.Take();
        QCOMPARE(events.last(), "Error " + failed + (failed == "OpenFileInZip" ? " -668" : " 0"));
        QCOMPARE(events.filter("Complete").size(), 0);
        QCOMPARE(zipper.QueuedCount(), 0);
        QCOMPARE(zipper.BytesToZip(), 0);

        const ReadArchive read = ReadWithPython(archive);
        QCOMPARE(read.error, QString());
        QCOMPARE(read.entries.value(0).name, QByteArray("good.bin"));
        QVERIFY(!read.names().contains("never"));
        if (change != "shrink later") {
            QCOMPARE(read.entries.size(), 1);  // the source was checked before its entry opened
        }

        // No stale cancel, no archive left open in the writer.
        QVERIFY(!zipper.AddFile(good));
        QVERIFY(!zipper.Zip(Path("next.zip")));
        QCOMPARE(RunToEnd(zipper), 2);
        QCOMPARE(log.Take().last(), QStringLiteral("Complete false"));
        QCOMPARE(ReadWithPython(Path("next.zip")).entries.value(0).sha256, FileSha256Hex(good));
    }

    // Deflated ahead on worker threads or streamed in chunks, an archive holds
    // the same entries, byte for byte as stored; files above the ahead road's
    // size and stored entries take the streaming road within the same run, and
    // more files than the memory budget holds at once never stall it.
    void deflatedAheadMatchesStreaming() {
        const QString folder = Path("ahead");
        QVERIFY(QDir().mkpath(folder));
        Zipper zippers[3];
        for (int threads = 0; threads < 3; ++threads) {
            zippers[threads].SetDeflateThreads(threads);
        }
        int32_t total = 0;
        const auto queue = [&](const QString& name, qint64 size, int32_t method, int32_t level) {
            total += static_cast<int32_t>(size);
            const QString path = folder + u'/' + name;
            if (!QFileInfo::exists(path)) {
                QFile text(path);
                const bool ok = name.endsWith(".txt")
                                    ? text.open(QIODevice::WriteOnly) &&
                                          text.write(QByteArray(size, 'x')) == size
                                    : WriteFile(path, size, static_cast<char>(size % 97));
                QVERIFY(ok);
            }
            for (Zipper& zipper : zippers) {
                QVERIFY(!zipper.AddFile(path, name, method, level));
            }
        };
        queue("zero.bin", 0, 8, -1);
        queue("text.txt", 100000, 8, -1);
        queue("best.txt", 50000, 8, 9);
        queue("stored.bin", 70000, 0, 0);
        queue("over.bin", DeflateAhead::kLargestFile + 1, 8, -1);
        for (int i = 0; i < 40; ++i) {  // 12 MB: more than the budget
            queue(QStringLiteral("frame_%1.jpg").arg(i, 5, 10, QChar(u'0')), 300000 + i, 8, -1);
        }
        queue("last.txt", 10, 8, -1);

        QList<ReadEntry> streamed;
        for (int threads = 0; threads < 3; ++threads) {
            const QString archive = Path(QStringLiteral("ahead%1.zip").arg(threads));
            QSignalSpy progress(&zippers[threads], &Zipper::Progress);
            QVERIFY(!zippers[threads].Zip(archive));
            QVERIFY(RunToEnd(zippers[threads]) > 0);
            QCOMPARE(zippers[threads].BytesZipped(), total);
            // Written whole, a file ahead raises one Progress; streamed, one a chunk.
            QCOMPARE(progress.size(), threads == 0 ? 141 : 61);
            QString unzip;
            QVERIFY2(UnzipTestsOk(archive, &unzip), qPrintable(unzip));
            const ReadArchive read = ReadWithPython(archive);
            QCOMPARE(read.error, QString());
            QCOMPARE(read.entries.size(), 46);
            if (threads == 0) {
                streamed = read.entries;
                continue;
            }
            for (qsizetype i = 0; i < read.entries.size(); ++i) {
                const ReadEntry& ahead = read.entries[i];
                const ReadEntry& expected = streamed[i];
                QCOMPARE(ahead.name, expected.name);
                QCOMPARE(ahead.method, expected.method);
                QCOMPARE(ahead.flags, expected.flags);
                QCOMPARE(ahead.external, expected.external);
                QCOMPARE(ahead.size, expected.size);
                QCOMPARE(ahead.crc, expected.crc);
                QCOMPARE(ahead.sha256, expected.sha256);
                QVERIFY(!ahead.rawSha256.isEmpty());
                QCOMPARE(ahead.rawSha256, expected.rawSha256);
            }
        }
    }

    void writerFailureEndsRun() {
        if (!QFileInfo(QStringLiteral("/dev/full")).isWritable()) {
            QSKIP("needs /dev/full");
        }
        Zipper zipper;
        EventLog log(zipper);
        QVERIFY(!zipper.AddFile(NewFile("full.bin", 10)));
        QVERIFY(!zipper.Zip(QStringLiteral("/dev/full")));
        QVERIFY(RunToEnd(zipper) > 0);
        QVERIFY(log.Take().last().startsWith("Error CloseFileInZip"));
        QVERIFY(zipper.Result() != 0);
        QVERIFY(!zipper.AddFile(Path("full.bin")));
        QVERIFY(!zipper.Zip(Path("after-full.zip")));  // not refused with -667
        QCOMPARE(RunToEnd(zipper), 2);
        QCOMPARE(log.Take().last(), QStringLiteral("Complete false"));
    }

    void byteTotalOverflow() {
        Zipper zipper;
        QFile big(Path("big.bin"));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(std::numeric_limits<int32_t>::max()));  // sparse
        big.close();
        QVERIFY(!zipper.AddFile(big.fileName()));
        QCOMPARE(zipper.BytesToZip(), std::numeric_limits<int32_t>::max());
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, zipper.AddFile(NewFile("one.bin", 1)));
        QCOMPARE(zipper.QueuedCount(), 1);
        QCOMPARE(zipper.BytesToZip(), std::numeric_limits<int32_t>::max());
        zipper.ClearFiles();
        QVERIFY(big.resize(qint64{1} << 31));
        QVERIFY_THROWS_EXCEPTION(std::overflow_error, Zipper().AddFile(big.fileName()));
        QVERIFY(big.remove());
    }

    // The window's way: the timer drives the run, 16 ms apart, and a build never
    // leaves a library file beside the package.
    void timerDrivenBuild() {
        const QString folder = Path("package");
        QVERIFY(QDir().mkpath(folder));
        ProvideZipLibrary(folder);
        QVERIFY(!QFile::exists(folder + "/zpk.dll"));
        Zipper zipper;
        QSignalSpy complete(&zipper, &Zipper::Complete);
        QSignalSpy progress(&zipper, &Zipper::Progress);
        QVERIFY(!zipper.AddFile(NewFile("timed.bin", 25 * kChunk)));
        QVERIFY(!zipper.Zip(folder + "/timed.dzp"));
        QVERIFY(complete.wait(10000));
        QCOMPARE(complete.first().first().toBool(), false);
        QCOMPARE(progress.size(), 25);
        QVERIFY(!QFile::exists(folder + "/zpk.dll"));
        ReleaseZipLibrary(folder);
        UnloadZipLibrary();
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"timed.dzp"});
        QString unzip;
        QVERIFY2(UnzipTestsOk(folder + "/timed.dzp", &unzip), qPrintable(unzip));
    }

    // One reused chunk buffer: packing hundreds of MB keeps the peak flat.
    void memoryStaysFlat() {
        QFile huge(Path("huge.bin"));
        QVERIFY(huge.open(QIODevice::WriteOnly));
        const qint64 size = 300 * 1024 * 1024;
        QVERIFY(huge.resize(size));  // sparse zeros, with some data at the ends
        QVERIFY(huge.write(QByteArray(70000, 'a')) == 70000);
        QVERIFY(huge.seek(size - 70000) && huge.write(QByteArray(70000, 'z')) == 70000);
        huge.close();

        Zipper zipper;
        zipper.SetTickInterval(0);
        QVERIFY(!zipper.AddFile(huge.fileName()));
        const qint64 before = StatusKiB("VmRSS:");
        QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
        // Resets the peak to the current size, so earlier tests do not hide growth.
        QVERIFY(clearRefs.open(QIODevice::WriteOnly) && clearRefs.write("5") == 1);
        clearRefs.close();
        QVERIFY(!zipper.Zip(Path("huge.zip")));
        QVERIFY(RunToEnd(zipper) > 0);
        const qint64 peak = StatusKiB("VmHWM:");
        QVERIFY(before > 0 && peak > 0);
        const qint64 growth = peak - before;
        qInfo("peak growth while packing %lld MiB: %lld KiB", size >> 20, growth);
        QVERIFY2(growth < 8 * 1024, qPrintable(QString::number(growth)));
        QCOMPARE(zipper.BytesZipped(), size);
        const ReadArchive read = ReadWithPython(Path("huge.zip"));
        QCOMPARE(read.error, QString());
        QCOMPARE(read.entries.value(0).sha256, FileSha256Hex(huge.fileName()));
    }
};

QTEST_GUILESS_MAIN(TestZipper)
#include "test_zipper.moc"
