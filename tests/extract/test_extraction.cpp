#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

#include "extract/Extraction.h"
#include "extract/VideoNames.h"

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
