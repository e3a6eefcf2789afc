#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageReader>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/wait.h>
#include <limits>

#include "extract/Extraction.h"
#include "extract/VideoNames.h"
#include "support/TestSupport.h"

using namespace sparkloom;

namespace {

// Points SPARKLOOM_FFMPEG somewhere for one scope.
struct ForcedFfmpeg {
    explicit ForcedFfmpeg(const QString& path) { qputenv("SPARKLOOM_FFMPEG", path.toLocal8Bit()); }
    ~ForcedFfmpeg() { qunsetenv("SPARKLOOM_FFMPEG"); }
};

QStringList FramesNamed(const QString& prefix, int count) {
    QStringList names;
    for (int n = 1; n <= count; ++n) {
        names << prefix + QStringLiteral("_%1.jpg").arg(n, 5, 10, QChar(u'0'));
    }
    return names;
}

QStringList FilesIn(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

bool IsJpeg(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(3) == QByteArray("\xFF\xD8\xFF");
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// One extraction job with the window's defaults (count first, stale frames replaced).
struct Extracted {
    bool ok = false;
    int32_t lastFrame = 0;
    QString error;
};
Extracted ExtractFrames(const QString& video, const QString& folder, const QString& prefix,
                        const std::function<void(int32_t)>& onFrame = {}) {
    ExtractionJob job({video, folder, prefix});
    ExtractionHooks hooks;
    hooks.onFrame = onFrame;
    const ExtractionOutcome outcome = job.Run(hooks);
    return {outcome.end == ExtractionOutcome::End::Done, outcome.written, outcome.error};
}
using ExtractOutcome = Extracted;

}  // namespace

class ExtractionTest : public QObject {
    Q_OBJECT

    QTemporaryDir mDir;
    QString mClip;

    QString NewFolder(const QString& name) {
        const QString folder = mDir.filePath(name);
        return QDir().mkpath(folder) ? folder : QString();
    }

private slots:
    void initTestCase() {
        QVERIFY(mDir.isValid());
        // Blanks and "%" in the video's path must reach ffmpeg untouched.
        QVERIFY(QDir(mDir.path()).mkdir("clips 100%"));
        mClip = mDir.filePath("clips 100%/My Clip.mp4");
        QProcess ffmpeg;
        ffmpeg.start("ffmpeg",
                     {"-nostdin", "-loglevel", "error", "-f", "lavfi", "-i",
                      "testsrc=duration=1:size=64x48:rate=30", "-pix_fmt", "yuv420p", mClip});
        QVERIFY(ffmpeg.waitForFinished(30000));
        QCOMPARE(ffmpeg.exitCode(), 0);
    }

    void nameRules() {
        QCOMPARE(ProjectFolderOf("/clips/My Clip.mp4", "My Clip.mp4"), "/clips");
        QCOMPARE(ParticleNameFromFile("My Clip.mp4"), "My Clip");
        QCOMPARE(FramePrefixOf("My Clip"), "My_Clip");
        QCOMPARE(ParticleNameFromFile("clip.mpeg"), "clip.");
        QCOMPARE(ParticleNameFromFile(".mp4"), "");
        QCOMPARE(ParticleNameFromFile("a.b"), std::nullopt);
        QCOMPARE(ParticleNameFromFile(""), std::nullopt);
        // Every "/" + name goes, exactly and case-sensitively.
        QCOMPARE(ProjectFolderOf("/a.mp4/a.mp4", "a.mp4"), "");
        QCOMPARE(ProjectFolderOf("/A.MP4/a.mp4", "a.mp4"), "/A.MP4");
        QCOMPARE(ProjectFolderOf("/x/ba.mp4", "a.mp4"), "/x/ba.mp4");
        QCOMPARE(ProjectFolderOf("/x/a.mp4", ""), "/x/a.mp4");
        QCOMPARE(FramePrefixOf(""), "");
        QCOMPARE(FramePrefixOf("a  b\t%c"), "a__b\t%c");
        QCOMPARE(FramePattern(""), "_%05d.jpg");
        QCOMPARE(FramePattern("50%_%d"), "50%%_%%d_%05d.jpg");
    }

    void animationDuration() {
        for (const auto& [frames, ms] : {std::pair{0, 0},
                                         {1, 33},
                                         {2, 67},
                                         {3, 100},
                                         {30, 1000},
                                         {1234567, 41152233},
                                         {64424509, 2147483633},
                                         {-2, -67}}) {
            QCOMPARE(AnimationDurationFor(frames), ms);
        }
        QCOMPARE(AnimationDurationFor(std::numeric_limits<int32_t>::max()),
                 std::numeric_limits<int32_t>::max());
    }

    void countsAndExtracts() {
        const QString onPath = QStandardPaths::findExecutable("ffmpeg");
        QCOMPARE(FindFfmpeg(), onPath);
        const CountOutcome count = CountFrames(mClip);
        QVERIFY2(count.ok, qPrintable(count.error));
        QCOMPARE(count.frames, 30);
        QCOMPARE(AnimationDurationFor(count.frames), 1000);

        const QString folder = NewFolder("Name");
        int32_t reported = 0;
        const ExtractOutcome extract =
            ExtractFrames(mClip, folder, "Name", [&reported](int32_t frame) { reported = frame; });
        QVERIFY2(extract.ok, qPrintable(extract.error));
        QCOMPARE(FilesIn(folder), FramesNamed("Name", 30));
        QVERIFY(IsJpeg(folder + "/Name_00030.jpg"));
        QCOMPARE(extract.lastFrame, 30);
        QCOMPARE(reported, 30);
    }

    void framesNamedLiterally() {
        for (const auto& [particleName, prefix] : {std::pair{"My Clip", "My_Clip"},
                                                   {"50% off", "50%_off"},
                                                   {"x%05d", "x%05d"},
                                                   {"", ""}}) {
            QCOMPARE(FramePrefixOf(particleName), prefix);
            // The folder bears the name too: a "%" there must stay literal as well.
            const QString folder = NewFolder(QStringLiteral("named-%1").arg(particleName));
            const ExtractOutcome extract = ExtractFrames(mClip, folder, prefix);
            QVERIFY2(extract.ok, qPrintable(extract.error));
            QCOMPARE(FilesIn(folder), FramesNamed(prefix, 30));
        }
    }

    void extractingAgainReplacesFrames() {
        const QString folder = NewFolder("again");
        QVERIFY(ExtractFrames(mClip, folder, "A").ok);
        QVERIFY(WriteFile(folder + "/A_00001.jpg", "stale"));
        const ExtractOutcome again = ExtractFrames(mClip, folder, "A");
        QVERIFY2(again.ok, qPrintable(again.error));
        QVERIFY(IsJpeg(folder + "/A_00001.jpg"));
        QCOMPARE(FilesIn(folder), FramesNamed("A", 30));
    }

    // A stand-in ffmpeg shows the exact arguments and what is made of its output.
    void commandLinesAndOutcome() {
        const QString script = mDir.filePath("fake-ffmpeg");
        QVERIFY(WriteFile(script,
                          "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n"
                          "printf 'frame=  999 fps=1\\rframe=1234567 fps=2\\r\\n'\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
        const ForcedFfmpeg forced(script);
        const auto arguments = [&script] {
            QFile file(script + ".args");
            return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()) : "";
        };

        const CountOutcome count = CountFrames(mClip);
        QVERIFY(count.ok);
        QCOMPARE(count.frames, 1234567);
        QCOMPARE(arguments(),
                 "-nostdin\n-v\nverbose\n-i\n" + mClip + "\n-map\n0:V:0\n-c\ncopy\n-f\nnull\n-\n");

        // Far more frames than a package takes: only the first ones are extracted.
        const QString folder = NewFolder("stand-in");
        const ExtractOutcome extract = ExtractFrames(mClip, folder, "50%_off");
        QCOMPARE(arguments(), "-nostdin\n-v\nverbose\n-y\n-i\n" + mClip +
                                  "\n-map\n0:V:0\n-frames:v\n1994\n" + folder +
                                  "/50%%_off_%05d.jpg\n");
        QVERIFY(!extract.ok);  // it ended well, but wrote no frame
        QVERIFY2(extract.error.contains("wrote no frames"), qPrintable(extract.error));
    }

    // The converter's options: seeking before the input, one filter chain, the
    // quality, and the package's limit, with times handed over in seconds.
    void commandLineWithOptions() {
        const QString script = mDir.filePath("fake-ffmpeg-options");
        QVERIFY(WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n"));
        QVERIFY(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
        const ForcedFfmpeg forced(script);
        const QString folder = NewFolder("stand-in-options");
        ExtractionRequest request{mClip, folder, "P"};
        request.options.fps = 29.97;
        request.options.quality = 3;
        request.options.start = "01:02.5";
        request.options.duration = "4";
        request.options.width = 640;
        ExtractionJob job(request);
        QCOMPARE(job.Run({}).end, ExtractionOutcome::End::Failed);  // nothing written
        QFile file(script + ".args");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(file.readAll()),
                 "-nostdin\n-v\nverbose\n-y\n-ss\n62.500000\n-t\n4.000000\n-i\n" + mClip +
                     "\n-map\n0:V:0\n-vf\nfps=29.97,scale=640:-2\n-q:v\n3\n-frames:v\n1994\n" +
                     folder + "/P_%05d.jpg\n");
    }

    void timeTexts_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("seconds");  // < 0: no TIME
        QTest::newRow("seconds") << "90" << 90.0;
        QTest::newRow("fraction") << "1.5" << 1.5;
        QTest::newRow("zero") << "0" << 0.0;
        QTest::newRow("minutes") << "01:30" << 90.0;
        QTest::newRow("one-digit minutes") << "1:30" << 90.0;
        QTest::newRow("hours") << "1:02:03.25" << 3723.25;
        QTest::newRow("many hours") << "100:00:00" << 360000.0;
        QTest::newRow("60 seconds") << "00:60" << -1.0;
        QTest::newRow("60 minutes") << "1:60:00" << -1.0;
        QTest::newRow("one-digit seconds") << "1:5" << -1.0;
        QTest::newRow("negative") << "-1" << -1.0;
        QTest::newRow("empty") << "" << -1.0;
        QTest::newRow("bare point") << "1." << -1.0;
        QTest::newRow("four fields") << "1:00:00:00" << -1.0;
        QTest::newRow("unit") << "5s" << -1.0;
        QTest::newRow("blank") << " 5" << -1.0;
    }
    void timeTexts() {
        QFETCH(QString, text);
        QFETCH(double, seconds);
        const std::optional<double> parsed = ParseTime(text);
        QCOMPARE(parsed.has_value(), seconds >= 0);
        if (parsed) {
            QCOMPARE(*parsed, seconds);
        }
    }

    // Clips as phones and cameras make them: whatever the clip, the job counts
    // its first video stream and reports the frames it wrote, as they lie on disk.
    void realClips_data() {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<int>("counted");
        QTest::addColumn<int>("written");
        QTest::addColumn<QSize>("frameSize");
        QTest::newRow("plain 30 fps") << "plain.mp4" << 30 << 30 << QSize(64, 48);
        QTest::newRow("audio as stream 0") << "audiofirst.mp4" << 30 << 30 << QSize(64, 48);
        // 1 s at 30 fps, then 1 s at 10 fps: the image sequence repeats frames.
        QTest::newRow("variable frame rate") << "vfr.mp4" << 40 << 60 << QSize(64, 48);
        QTest::newRow("cover art 320x240") << "cover.mp4" << 30 << 30 << QSize(64, 48);
        QTest::newRow("portrait (rotated)") << "rotated.mp4" << 30 << 30 << QSize(48, 64);
    }
    void realClips() {
        QFETCH(QString, clip);
        QFETCH(int, counted);
        QFETCH(int, written);
        QFETCH(QSize, frameSize);
        const QString clips = mDir.filePath("made");
        if (!QFileInfo::exists(clips + "/plain.mp4")) {
            QProcess make;
            make.start("sh", {SPARKLOOM_TEST_DATA "/make-clips.sh", clips});
            QVERIFY(make.waitForFinished(120000));
            QVERIFY2(make.exitCode() == 0, make.readAllStandardError().constData());
        }
        const QString folder = NewFolder("real-" + clip);
        ExtractionJob job({clips + u'/' + clip, folder, "F"});
        int32_t lastProgress = 0;
        ExtractionHooks hooks;
        hooks.onFrame = [&lastProgress](int32_t frame) { lastProgress = frame; };
        const ExtractionOutcome outcome = job.Run(hooks);
        QVERIFY2(outcome.end == ExtractionOutcome::End::Done, qPrintable(outcome.error));
        QCOMPARE(outcome.counted, counted);
        QCOMPARE(outcome.written, written);
        QCOMPARE(lastProgress, written);
        QCOMPARE(FilesIn(folder), FramesNamed("F", written));
        QCOMPARE(QImageReader(folder + "/F_00001.jpg").size(), frameSize);
    }

    // Frames of the same name from an earlier, longer run are replaced; nothing
    // else in the folder is touched, and a refusal writes nothing.
    void staleFrames() {
        const QString folder = NewFolder("stale");
        const QStringList names = FramesNamed("A", 45) << "A_1.jpg"
                                                       << "B_00001.jpg"
                                                       << "notes.txt";
        for (const QString& name : names) {
            QVERIFY(WriteFile(folder + u'/' + name, "old"));
        }
        const FrameFiles found = FindFrameFiles(folder, "A");
        QCOMPARE(found.names, FramesNamed("A", 45));
        QCOMPARE(found.others, (QStringList{"A_1.jpg", "B_00001.jpg", "notes.txt"}));
        QVERIFY2(StaleFramesQuestion(found, "A").contains("45 frames named A_#####.jpg"),
                 qPrintable(StaleFramesQuestion(found, "A")));
        QVERIFY(StaleFramesQuestion(found, "A").contains("3 other files"));

        ExtractionJob refused({mClip, folder, "A"});
        ExtractionHooks no;
        no.replaceStale = [](const FrameFiles&) { return false; };
        QCOMPARE(refused.Run(no).end, ExtractionOutcome::End::Declined);
        QCOMPARE(FindFrameFiles(folder, "A").names.size(), 45);

        ExtractionJob replaced({mClip, folder, "A"});
        const ExtractionOutcome outcome = replaced.Run({});
        QCOMPARE(outcome.end, ExtractionOutcome::End::Done);
        QCOMPARE(outcome.removedStale, 45);
        QCOMPARE(outcome.written, 30);
        QCOMPARE(FindFrameFiles(folder, "A").names, FramesNamed("A", 30));
        QCOMPARE(FindFrameFiles(folder, "A").others, found.others);
    }

    // More frames than a package takes: the job asks, and cuts at the limit.
    void packageLimit() {
        for (const bool agree : {false, true}) {
            const QString folder = NewFolder(agree ? "limit-ok" : "limit-cancel");
            ExtractionRequest request{mClip, folder, "L"};
            request.maxFiles = 16;  // 10 frames beside ".", "..", thumbnails and templates
            ExtractionJob job(request);
            ExtractionHooks hooks;
            QList<int32_t> asked;
            hooks.trimToLimit = [&](int32_t counted, int32_t limit) {
                asked << counted << limit;
                return agree;
            };
            const ExtractionOutcome outcome = job.Run(hooks);
            QCOMPARE(asked, (QList<int32_t>{30, 10}));
            QCOMPARE(outcome.end,
                     agree ? ExtractionOutcome::End::Done : ExtractionOutcome::End::Declined);
            QCOMPARE(FilesIn(folder), FramesNamed("L", agree ? 10 : 0));
            QCOMPARE(outcome.trimmed, agree);
        }
        // Counting beside, as the converter does, cuts without asking and says so after.
        const QString folder = NewFolder("limit-beside");
        ExtractionRequest request{mClip, folder, "L"};
        request.maxFiles = 16;
        request.countBeside = true;
        ExtractionJob job(request);
        const ExtractionOutcome outcome = job.Run({});
        QCOMPARE(outcome.end, ExtractionOutcome::End::Done);
        QVERIFY(outcome.trimmed);
        QCOMPARE(outcome.counted, 30);
        QCOMPARE(outcome.written, 10);
    }

    // A stop reaches ffmpeg within a second, also one that ignores SIGTERM; what
    // it wrote stays, but never an unfinished frame, and no child is left.
    void stopMidway_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::newRow("polite ffmpeg") << QByteArray("exec ffmpeg -re \"$@\"\n");
        // A wrapper that ignores SIGTERM and goes on after its ffmpeg has ended.
        QTest::newRow("wrapper ignoring SIGTERM")
            << QByteArray("trap '' TERM; ffmpeg -re \"$@\"; sleep 30\n");
    }
    void stopMidway() {
        QFETCH(QByteArray, script);
        const QString standIn = mDir.filePath("slow-ffmpeg");
        QVERIFY(WriteFile(standIn, "#!/bin/sh\ncase \"$*\" in *.jpg) " + script.trimmed() +
                                       ";; esac\nexec ffmpeg \"$@\"\n"));
        QVERIFY(QFile::setPermissions(standIn, QFile::ReadOwner | QFile::ExeOwner));
        const ForcedFfmpeg forced(standIn);
        const QString folder = NewFolder(QStringLiteral("stop-%1").arg(QTest::currentDataTag()));
        // Ten seconds: ffmpeg 7 reports its progress only twice a second.
        const QString tenSeconds = mDir.filePath("ten.mp4");
        if (!QFileInfo::exists(tenSeconds)) {
            QVERIFY(test::MakeClip(tenSeconds, 10));
        }
        ExtractionJob job({tenSeconds, folder, "S"});
        QElapsedTimer sinceStop;
        ExtractionHooks hooks;
        hooks.onFrame = [&](int32_t frame) {
            if (frame >= 3 && !job.StopRequested()) {
                job.RequestStop();
                sinceStop.start();
            }
        };
        const ExtractionOutcome outcome = job.Run(hooks);
        const qint64 stopMs = sinceStop.elapsed();
        qInfo("stopped %lld ms after the request", stopMs);
        QCOMPARE(outcome.end, ExtractionOutcome::End::Stopped);
        QVERIFY2(stopMs < 2000, "ffmpeg outlived its stop");
        const QStringList left = FilesIn(folder);
        QVERIFY(!left.isEmpty() && left.size() < 300);
        for (const QString& name : left) {
            QVERIFY2(IsJpeg(folder + u'/' + name), qPrintable(name));
            QFile frame(folder + u'/' + name);
            QVERIFY(frame.open(QIODevice::ReadOnly) && frame.seek(frame.size() - 2));
            QCOMPARE(frame.read(2), QByteArray("\xFF\xD9"));
        }
        QCOMPARE(::waitpid(-1, nullptr, WNOHANG), -1);  // no child, not even a zombie
    }

    // A stop that comes as ffmpeg ends by itself gives one ending or the other,
    // each whole: all frames and Done, or Stopped with whole frames only.
    void stopJustAsFfmpegEnds() {
        for (int round = 0; round < 3; ++round) {
            const QString folder = NewFolder(QStringLiteral("race-%1").arg(round));
            ExtractionJob job({mClip, folder, "R"});
            ExtractionHooks hooks;
            hooks.onFrame = [&job](int32_t frame) {
                if (frame >= 30) {
                    job.RequestStop();
                }
            };
            const ExtractionOutcome outcome = job.Run(hooks);
            if (outcome.end == ExtractionOutcome::End::Done) {
                QCOMPARE(FilesIn(folder), FramesNamed("R", 30));
            } else {
                QCOMPARE(outcome.end, ExtractionOutcome::End::Stopped);
                for (const QString& name : FilesIn(folder)) {
                    QVERIFY(test::ReadAll(folder + u'/' + name).endsWith("\xFF\xD9"));
                }
            }
        }
    }

    void failuresAreReported() {
        const QString folder = NewFolder("failures");
        {
            const ForcedFfmpeg forced(mDir.filePath("no-ffmpeg-here"));
            QCOMPARE(FindFfmpeg(), "");
            const CountOutcome count = CountFrames(mClip);
            QVERIFY(!count.ok);
            QVERIFY2(count.error.startsWith("ffmpeg was not found"), qPrintable(count.error));
            const ExtractOutcome extract = ExtractFrames(mClip, folder, "N");
            QVERIFY(!extract.ok);
            QVERIFY2(extract.error.startsWith("ffmpeg was not found"), qPrintable(extract.error));
        }

        const QString noise = mDir.filePath("noise.mp4");
        QByteArray bytes(65536, '\0');
        QRandomGenerator(3).fillRange(reinterpret_cast<quint32*>(bytes.data()), bytes.size() / 4);
        QVERIFY(WriteFile(noise, bytes));
        const CountOutcome count = CountFrames(noise);
        QVERIFY(!count.ok);
        // ffmpeg's own last line tells why.
        QVERIFY2(count.error.contains(noise + ": Invalid data found"), qPrintable(count.error));
        const ExtractOutcome extract = ExtractFrames(noise, folder, "N");
        QVERIFY(!extract.ok);
        QVERIFY2(extract.error.contains(noise + ": Invalid data found"), qPrintable(extract.error));

        const CountOutcome missing = CountFrames(mDir.filePath("missing.mp4"));
        QVERIFY(!missing.ok);
        QVERIFY2(missing.error.contains("No such file or directory"), qPrintable(missing.error));

        const ExtractOutcome noTarget = ExtractFrames(mClip, mDir.filePath("absent"), "N");
        QVERIFY(!noTarget.ok);
        QVERIFY2(noTarget.error.contains("does not exist"), qPrintable(noTarget.error));
        QVERIFY(!ExtractFrames(mClip, "", "N").ok);
        QVERIFY(FilesIn(folder).isEmpty());
        QVERIFY(!QFileInfo::exists(mDir.filePath("absent")));
    }
};

QTEST_GUILESS_MAIN(ExtractionTest)
#include "test_extraction.moc"
