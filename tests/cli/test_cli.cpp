// sparkloom-cli as a user runs it: a child process on a real clip, its package
// read back by Python's zipfile and unzip, its refusals with their exact texts.
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>
#include <csignal>

#include "support/Processes.h"
#include "support/TestSupport.h"

using sparkloom::test::ArchiveEntry;
using sparkloom::test::AttributeOf;
using sparkloom::test::WriteFile;

namespace {

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QStringList NamesOf(const QList<ArchiveEntry>& entries) {
    QStringList names;
    for (const ArchiveEntry& entry : entries) {
        names << QString::fromLatin1(entry.rawName);
    }
    return names;
}

// A lavfi test pattern of the given length, size and rate.
bool MakeClipAt(const QString& path, const QString& seconds, const QString& size, int rate) {
    int code = -1;
    sparkloom::test::RunTool(
        "ffmpeg",
        {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
         QStringLiteral("testsrc=duration=%1:size=%2:rate=%3").arg(seconds, size).arg(rate),
         "-pix_fmt", "yuv420p", path},
        &code);
    return code == 0;
}

// What ffprobe reads of a numbered sequence: "width,height,frames".
QByteArray ProbeFrames(const QString& folder, const QString& prefix) {
    return sparkloom::test::RunTool(
               "ffprobe", {"-v", "error", "-f", "image2", "-i",
                           folder + u'/' + prefix + "_%05d.jpg", "-count_frames", "-show_entries",
                           "stream=width,height,nb_read_frames", "-of", "csv=p=0"})
        .trimmed();
}

qint64 BytesOfFrames(const QString& folder) {
    qint64 bytes = 0;
    for (const QFileInfo& frame : QDir(folder).entryInfoList({"*_?????.jpg"}, QDir::Files)) {
        bytes += frame.size();
    }
    return bytes;
}

}  // namespace

class TestCli : public QObject {
    Q_OBJECT

    QTemporaryDir mRoot;
    QString mClips;  // holds the clips: the video's folder
    QString mOut;    // where packages go
    QString mClip;   // 1 s, 30 frames, 64×48
    int mCase = 0;

    Run RunCli(const QStringList& arguments, const QStringList& environment = {}) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& setting : environment) {
            env.insert(setting.section(u'=', 0, 0), setting.section(u'=', 1));
        }
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(mRoot.path());
        process.start(QStringLiteral(SPARKLOOM_CLI), arguments);
        Run run;
        if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit) {
            run.exitCode = process.exitCode();
        }
        run.out = process.readAllStandardOutput();
        run.err = process.readAllStandardError();
        return run;
    }

    // A fresh, not yet existing path under the output folder.
    QString Fresh(const QString& name) {
        return mOut + QStringLiteral("/%1-%2").arg(++mCase).arg(name);
    }

    // Every argument the window would want, so a row changes only what it tests.
    QStringList Complete(const QString& package) const {
        return {mClip,
                QStringLiteral("-o"),
                package,
                QStringLiteral("--type"),
                QStringLiteral("CUSTOM"),
                QStringLiteral("--category"),
                QStringLiteral("General")};
    }

    static void CompareWithFolder(const QList<ArchiveEntry>& entries, const QString& folder) {
        for (const ArchiveEntry& entry : entries) {
            const QString file = folder + u'/' + QString::fromLatin1(entry.rawName.mid(2));
            QVERIFY2(entry.data == ReadAll(file), qPrintable(file));
            QCOMPARE(entry.method, 8);
        }
    }

private slots:
    void initTestCase() {
        QVERIFY(mRoot.isValid());
        mClips = mRoot.filePath(QStringLiteral("clips"));
        mOut = mRoot.filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(mClips) && QDir().mkpath(mOut));
        mClip = mClips + QStringLiteral("/clip.mp4");
        QVERIFY(sparkloom::test::MakeClip(mClip));
    }

    void convertsWithTheDefaults() {
        const QString base = Fresh(QStringLiteral("Fire"));  // no ".": ".dzp" is added
        const Run run = RunCli(Complete(base));
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(run.out, QByteArray());
        QCOMPARE(run.err,
                 QByteArray("Counting frames…\nExtracting 30 frames…\nPacking…\nSuccess\n"));

        const QString package = base + QStringLiteral(".dzp");
        const QString frames = base + QStringLiteral("_frames");
        QVERIFY(sparkloom::test::UnzipTestsClean(package));
        QList<ArchiveEntry> entries;
        QVERIFY(sparkloom::test::ReadArchive(package, entries));  // CRCs checked there

        QStringList expected;
        for (int frame = 1; frame <= 30; ++frame) {
            expected << QStringLiteral(".\\clip_%1.jpg").arg(frame, 5, 10, QLatin1Char('0'));
        }
        expected << ".\\Thumb.jpg"
                 << ".\\Thumb.png"
                 << ".\\TitleTemplate.clt"
                 << ".\\TitleTemplate.xml";
        QCOMPARE(NamesOf(entries), expected);
        CompareWithFolder(entries, frames);
        QCOMPARE(QDir(frames).entryList(QDir::Files).size(), expected.size());

        // The thumbnail defaults to the first frame.
        const QByteArray first = entries.first().data;
        QCOMPARE(entries[30].data, first);
        QCOMPARE(entries[31].data, first);

        const QByteArray clt = entries[32].data;
        const QByteArray xml = entries[33].data;
        QVERIFY(clt.startsWith("\xff\xfe") && xml.startsWith("\xff\xfe"));
        QCOMPARE(AttributeOf(clt, "ParticleAttribExt", "AnimationImage"),
                 QStringLiteral("clip_00001.jpg"));
        QCOMPARE(AttributeOf(clt, "ParticleAttribExt", "AnimationDuration"),
                 QStringLiteral("1000"));  // 30 frames at 30 per second
        QCOMPARE(AttributeOf(clt, "Extension", "ReferencePath"), frames + u'/');
        QCOMPARE(AttributeOf(xml, "TEMPLATE", "TYPE"), QStringLiteral("CUSTOM"));
        QCOMPARE(AttributeOf(xml, "TEMPLATE", "CATEGORY"), QStringLiteral("General"));
        QCOMPARE(AttributeOf(xml, "TEMPLATE", "ALIAS"), QStringLiteral("clip"));
    }

    void convertsWithEveryOptionGiven() {
        const QString picture = mRoot.filePath(QStringLiteral("picture.png"));
        QVERIFY(WriteFile(picture, QByteArray("not converted, only copied")));
        const QString frames = Fresh(QStringLiteral("frames here"));
        const QString package = Fresh(QStringLiteral("Fire.zip"));  // a "." keeps the path
        const Run run = RunCli(
            {QStringLiteral("--quiet"), mClip, QStringLiteral("--output"), package,
             QStringLiteral("--name"), QStringLiteral("My Fire"), QStringLiteral("--type"),
             QStringLiteral("PRESET"), QStringLiteral("--category"), QStringLiteral("Sports"),
             QStringLiteral("--thumb"), picture, QStringLiteral("--first"),
             QStringLiteral("My_Fire_00007.jpg"), QStringLiteral("--frames-dir"), frames});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(run.err, QByteArray());  // quiet

        QList<ArchiveEntry> entries;
        QVERIFY(sparkloom::test::ReadArchive(package, entries));
        QCOMPARE(entries.size(), 34);
        QCOMPARE(entries.first().rawName, QByteArray(".\\My_Fire_00001.jpg"));
        CompareWithFolder(entries, frames);
        QCOMPARE(entries[30].rawName, QByteArray(".\\Thumb.jpg"));
        QCOMPARE(entries[30].data, ReadAll(picture));
        QCOMPARE(entries[31].data, ReadAll(picture));
        QCOMPARE(AttributeOf(entries[32].data, "ParticleAttribExt", "AnimationImage"),
                 QStringLiteral("My_Fire_00007.jpg"));
        QCOMPARE(AttributeOf(entries[33].data, "TEMPLATE", "TYPE"), QStringLiteral("PRESET"));
        QCOMPARE(AttributeOf(entries[33].data, "TEMPLATE", "CATEGORY"), QStringLiteral("Sports"));
        QCOMPARE(AttributeOf(entries[33].data, "TEMPLATE", "ALIAS"), QStringLiteral("My Fire"));
    }

    // The frames the options give, as ffprobe reads them, and a duration that
    // follows them.
    void frameOptions_data() {
        QTest::addColumn<QString>("clip");  // seconds:size:rate
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("probed");  // width,height,frames
        QTest::addColumn<QString>("duration");
        QTest::newRow("--fps 30 on 60 fps")
            << "2:64x48:60" << QStringList{"--fps", "30"} << QByteArray("64,48,60") << "2000";
        QTest::newRow("--start 1 --duration 1")
            << "3:64x48:30" << QStringList{"--start", "1", "--duration", "1"}
            << QByteArray("64,48,30") << "1000";
        QTest::newRow("--start as a clock, to the end")
            << "3:64x48:30" << QStringList{"--start", "00:00:01.5"} << QByteArray("64,48,45")
            << "1500";
        QTest::newRow("--width 320 on 1280x720") << "1:1280x720:30" << QStringList{"--width", "320"}
                                                 << QByteArray("320,180,30") << "1000";
        QTest::newRow("all at once")
            << "2:1280x720:60"
            << QStringList{"--fps", "30", "--duration", "1", "--width", "160", "--quality", "4"}
            << QByteArray("160,90,30") << "1000";
    }
    void frameOptions() {
        QFETCH(QString, clip);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, probed);
        QFETCH(QString, duration);
        const QStringList parts = clip.split(u':');
        const QString video =
            mClips + QStringLiteral("/options-%1.mp4").arg(QString(clip).replace(u':', u'-'));
        if (!QFileInfo::exists(video)) {
            QVERIFY(MakeClipAt(video, parts[0], parts[1], parts[2].toInt()));
        }
        const QString package = Fresh(QStringLiteral("options.dzp"));
        QStringList arguments = Complete(package) << options;
        arguments[0] = video;
        const Run run = RunCli(arguments);
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const QString frames = package.chopped(4) + QStringLiteral("_frames");
        const QString prefix = QFileInfo(video).completeBaseName();
        QCOMPARE(ProbeFrames(frames, prefix), probed);
        QVERIFY(sparkloom::test::UnzipTestsClean(package));
        QList<ArchiveEntry> entries;
        QVERIFY(sparkloom::test::ReadArchive(package, entries));
        QCOMPARE(entries.size(), probed.split(',').last().toInt() + 4);
        QCOMPARE(AttributeOf(ReadAll(frames + "/TitleTemplate.clt"), "ParticleAttribExt",
                             "AnimationDuration"),
                 duration);
    }

    // The seek is frame-accurate: the first frame written is the clip's frame
    // 31, as ffmpeg itself picks it out of the whole clip.
    void startTakesTheExactFrame() {
        const QString video = mClips + QStringLiteral("/options-3-64x48-30.mp4");
        if (!QFileInfo::exists(video)) {
            QVERIFY(MakeClipAt(video, "3", "64x48", 30));
        }
        const QString byHand = Fresh(QStringLiteral("frame31.jpg"));
        int code = -1;
        sparkloom::test::RunTool("ffmpeg",
                                 {"-nostdin", "-v", "error", "-i", video, "-vf",
                                  "select=eq(n\\,30)", "-frames:v", "1", byHand},
                                 &code);
        QCOMPARE(code, 0);
        const QString package = Fresh(QStringLiteral("start.dzp"));
        QStringList arguments = Complete(package) << "--start"
                                                  << "1"
                                                  << "--duration"
                                                  << "1";
        arguments[0] = video;
        const Run run = RunCli(arguments);
        QVERIFY2(run.exitCode == 0, run.err.constData());
        const QString frames = package.chopped(4) + QStringLiteral("_frames");
        const QByteArray first = ReadAll(frames + "/options-3-64x48-30_00001.jpg");
        QCOMPARE(first, ReadAll(byHand));
        QVERIFY(first != ReadAll(frames + "/options-3-64x48-30_00002.jpg"));
    }

    void qualityTwoIsLarger() {
        const QString video = mClips + QStringLiteral("/quality.mp4");
        QVERIFY(MakeClipAt(video, "1", "320x240", 30));
        qint64 bytes[2] = {};
        for (const bool best : {false, true}) {
            const QString package = Fresh(QStringLiteral("quality.dzp"));
            QStringList arguments = Complete(package);
            arguments[0] = video;
            if (best) {
                arguments << "--quality"
                          << "2";
            }
            const Run run = RunCli(arguments);
            QVERIFY2(run.exitCode == 0, run.err.constData());
            bytes[best] = BytesOfFrames(package.chopped(4) + QStringLiteral("_frames"));
        }
        QVERIFY2(bytes[1] > bytes[0] * 3 / 2,
                 qPrintable(QStringLiteral("%1 against %2").arg(bytes[1]).arg(bytes[0])));
    }

    // With --fps no count runs, and the extraction's own report gives the end.
    void startBeyondTheEnd_data() {
        QTest::addColumn<QStringList>("more");
        QTest::newRow("every frame") << QStringList{};
        QTest::newRow("--fps 30") << QStringList{"--fps", "30"};
    }
    void startBeyondTheEnd() {
        QFETCH(QStringList, more);
        const QString package = Fresh(QStringLiteral("late.dzp"));
        const Run run = RunCli(Complete(package) << "--start"
                                                 << "00:05" << more);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("The start 00:05 lies beyond the clip's end: the clip lasts "
                                  "1.000 s. No frames were written."),
                 run.err.constData());
        QVERIFY(!run.err.contains("Success"));
        QVERIFY(!QFileInfo::exists(package));
        QVERIFY(!QFileInfo::exists(package.chopped(4) + QStringLiteral("_frames")));
    }

    // Several clips into one folder: one that is no video fails alone, and the
    // summary says which.
    void batchGoesOnAfterAFailure() {
        const QString folder = Fresh(QStringLiteral("batch"));
        QVERIFY(QDir().mkpath(folder));
        const QString second = mClips + QStringLiteral("/Second Clip.mov");
        QVERIFY(QFile::exists(second) || QFile::copy(mClip, second));
        const QString broken = mClips + QStringLiteral("/broken.mkv");
        QVERIFY(WriteFile(broken, "plain text, no video"));
        const Run run = RunCli({mClip, broken, second, "-o", folder, "--type", "PRESET",
                                "--category", "General", "--fps", "15"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.endsWith(QStringLiteral("2 of 3 clips converted:\n"
                                                 "  %1: %2/clip.dzp\n"
                                                 "  %3: FAILED: The video could not be read. %3: "
                                                 "Invalid data found when processing input\n"
                                                 "  %4: %2/Second Clip.dzp\n")
                                      .arg(mClip, folder, broken, second)
                                      .toUtf8()),
                 run.err.constData());
        QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name),
                 QStringList({"Second Clip.dzp", "Second Clip_frames", "clip.dzp", "clip_frames"}));
        for (const auto& [package, alias] :
             {std::pair{"clip", "clip"}, std::pair{"Second Clip", "Second Clip"}}) {
            const QString path = folder + u'/' + package + ".dzp";
            QVERIFY(sparkloom::test::UnzipTestsClean(path));
            QList<ArchiveEntry> entries;
            QVERIFY(sparkloom::test::ReadArchive(path, entries));
            QCOMPARE(entries.size(), 15 + 4);
            QCOMPARE(AttributeOf(entries.last().data, "TEMPLATE", "ALIAS"), QString(alias));
        }
    }

    void batchOfGoodClipsSucceeds() {
        const QString folder = Fresh(QStringLiteral("batch-ok"));
        QVERIFY(QDir().mkpath(folder));
        const QString second = mClips + QStringLiteral("/Second Clip.mov");
        QVERIFY(QFile::exists(second) || QFile::copy(mClip, second));
        const Run run =
            RunCli({mClip, second, "-o", folder, "--type", "CUSTOM", "--category", "General"});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY2(run.err.startsWith(QStringLiteral("[1/2] %1\n").arg(mClip).toUtf8()),
                 run.err.constData());
        QVERIFY(run.err.contains("2 of 2 clips converted:"));
        QVERIFY(sparkloom::test::UnzipTestsClean(folder + "/clip.dzp"));
        QVERIFY(sparkloom::test::UnzipTestsClean(folder + "/Second Clip.dzp"));
    }

    void helpAndVersion() {
        const Run version = RunCli({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QCOMPARE(version.out, QByteArray("sparkloom-cli 1.0.1\n"));
        const Run help = RunCli({QStringLiteral("--help")});
        QCOMPARE(help.exitCode, 0);
        for (const char* option : {"--output", "--name", "--type", "--category", "--thumb",
                                   "--first", "--frames-dir", "--force", "--fps", "--quality",
                                   "--start", "--duration", "--width", "--quiet", "--check"}) {
            QVERIFY2(help.out.contains(option), option);
        }
    }

    void refusesUsageErrors_data() {
        QTest::addColumn<QStringList>("arguments");
        const QString clip = QStringLiteral("clips/clip.mp4");
        const QString o = QStringLiteral("-o");
        const QString package = QStringLiteral("out/usage.dzp");
        QTest::newRow("nothing") << QStringList{};
        QTest::newRow("no package") << QStringList{clip, "--type", "CUSTOM"};
        QTest::newRow("empty package") << QStringList{clip, o, ""};
        QTest::newRow("-o without value") << QStringList{clip, o};
        QTest::newRow("no video") << QStringList{o, package};
        QTest::newRow("the same clip twice") << QStringList{clip, clip, o, "out"};
        QTest::newRow("two clips, one package name")
            << QStringList{clip, "clips/clip.mov", o, "out"};
        const QString other = QStringLiteral("clips/other.mp4");
        QTest::newRow("several with --name") << QStringList{clip, other, o, "out", "--name", "x"};
        QTest::newRow("several with --thumb") << QStringList{clip, other, o, "out", "--thumb", "x"};
        QTest::newRow("several with --first") << QStringList{clip, other, o, "out", "--first", "x"};
        QTest::newRow("several with --frames-dir")
            << QStringList{clip, other, o, "out", "--frames-dir", "out/usage_frames"};
        QTest::newRow("several without -o") << QStringList{clip, other};
        const auto option = [&](const char* tag, const QString& name, const QString& value) {
            QTest::newRow(tag) << QStringList{clip, o, package, name, value};
        };
        option("--fps 0", "--fps", "0");
        option("--fps -30", "--fps", "-30");
        option("--fps 1001", "--fps", "1001");
        option("--fps not a number", "--fps", "thirty");
        option("--quality 1", "--quality", "1");
        option("--quality 32", "--quality", "32");
        option("--quality 2.5", "--quality", "2.5");
        option("--width 15", "--width", "15");
        option("--width 8193", "--width", "8193");
        option("--width empty", "--width", "");
        option("--start 1:5", "--start", "1:5");
        option("--start -1", "--start", "-1");
        option("--start empty", "--start", "");
        option("--duration 0", "--duration", "0");
        option("--duration 00:00:00.000", "--duration", "00:00:00.000");
        option("--duration 1:60", "--duration", "1:60");
        QTest::newRow("unknown option") << QStringList{clip, o, package, "--colour", "red"};
        QTest::newRow("unknown type") << QStringList{clip, o, package, "--type", "custom"};
        QTest::newRow("--check without package") << QStringList{"--check"};
        QTest::newRow("--check with -o") << QStringList{"--check", package, o, package};
        QTest::newRow("--check with --type") << QStringList{"--check", package, "--type", "CUSTOM"};
        QTest::newRow("--check with --force") << QStringList{"--check", package, "--force"};
        QTest::newRow("--check with --fps") << QStringList{"--check", package, "--fps", "30"};
    }
    void refusesUsageErrors() {
        QFETCH(QStringList, arguments);
        const Run run = RunCli(arguments);
        QCOMPARE(run.exitCode, 2);
        QVERIFY2(run.err.startsWith("sparkloom-cli: "), run.err.constData());
        QVERIFY(run.err.contains("--help"));
        QVERIFY(!QFileInfo::exists(mOut + QStringLiteral("/usage.dzp")));
        QVERIFY(!QFileInfo::exists(mOut + QStringLiteral("/usage_frames")));
    }

    // The window's checks, in the window's order, with its texts; nothing is touched.
    void refusesWhatTheWindowRefuses_data() {
        // Option and value pairs, replacing the option's value or added; "<absent>" drops it.
        QTest::addColumn<QStringList>("change");
        QTest::addColumn<QString>("video");
        QTest::addColumn<QByteArray>("text");
        const QString clip = QStringLiteral("clip.mp4");
        QTest::newRow("type missing") << QStringList{"--type", "<absent>"} << clip
                                      << QByteArray("You must select the Type of Project!");
        QTest::newRow("no type") << QStringList{"--type", ""} << clip
                                 << QByteArray("You must select the Type of Project!");
        QTest::newRow("type Select") << QStringList{"--type", "Select"} << clip
                                     << QByteArray("You must select the Type of Project!");
        QTest::newRow("category missing") << QStringList{"--category", "<absent>"} << clip
                                          << QByteArray("You must select a Category!");
        QTest::newRow("no category")
            << QStringList{"--category", ""} << clip << QByteArray("You must select a Category!");
        QTest::newRow("category Select") << QStringList{"--category", "Select"} << clip
                                         << QByteArray("You must select a Category!");
        QTest::newRow("empty name")
            << QStringList{"--name", ""} << clip << QByteArray("Please Enter A Particle Name!");
        // "abc" is too short to give a name: the window's box would stay empty.
        QTest::newRow("no name from the file") << QStringList{} << QStringLiteral("abc")
                                               << QByteArray("Please Enter A Particle Name!");
        QTest::newRow("empty thumbnail")
            << QStringList{"--thumb", ""} << clip << QByteArray("Please Select A Thumbnail!");
        QTest::newRow("no first frame, so no thumbnail")
            << QStringList{"--first", ""} << clip << QByteArray("Please Select A Thumbnail!");
        QTest::newRow("name with a slash")
            << QStringList{"--name", "a/b"} << clip
            << QByteArray("The particle name names the frame files and cannot contain \"/\".");
        QTest::newRow("name beyond the code page")
            << QStringList{"--name", "Fire \u03a9"} << clip
            << QByteArray(
                   "The particle name names the frame files and can only hold Western "
                   "European letters:\nFire_\u03a9");
        QTest::newRow("name before type") << QStringList{"--name", "", "--type", ""} << clip
                                          << QByteArray("Please Enter A Particle Name!");
        QTest::newRow("frames in the video's folder")
            << QStringList{"--frames-dir", "clips/"} << clip
            << QByteArray(
                   "You cannot Extract in the Project Folder!\n"
                   "Please Choose Another Destination Folder");
        QTest::newRow("package in the video's folder")
            << QStringList{"-o", "clips/check.dzp"} << clip
            << QByteArray(
                   "You cannot create the Installation File in the Project Folder!\n"
                   "Please Choose Another Destination Folder");
        QTest::newRow("package in the frames folder")
            << QStringList{"--frames-dir", "out/../out"} << clip
            << QByteArray(
                   "You cannot create the Installation File in the Project Folder!\n"
                   "Please Choose Another Destination Folder");
    }
    void refusesWhatTheWindowRefuses() {
        QFETCH(QStringList, change);
        QFETCH(QString, video);
        QFETCH(QByteArray, text);
        const QString videoPath = mClips + u'/' + video;
        if (!QFileInfo::exists(videoPath)) {
            QVERIFY(QFile::copy(mClip, videoPath));
        }
        QStringList arguments{videoPath, "-o",         "out/check.dzp", "--type",
                              "CUSTOM",  "--category", "General"};
        for (qsizetype i = 0; i + 1 < change.size(); i += 2) {
            const qsizetype at = arguments.indexOf(change[i]);
            if (change[i + 1] == QStringLiteral("<absent>")) {
                arguments.remove(at, 2);
            } else if (at >= 0) {
                arguments[at + 1] = change[i + 1];
            } else {
                arguments << change[i] << change[i + 1];
            }
        }
        const Run run = RunCli(arguments);
        QCOMPARE(run.exitCode, 1);
        QCOMPARE(run.err, text + '\n');
        QVERIFY(!QFileInfo::exists(mOut + QStringLiteral("/check.dzp")));
        QVERIFY(!QFileInfo::exists(mOut + QStringLiteral("/check_frames")));
    }

    void overwritesOnlyWithForce() {
        const QString package = Fresh(QStringLiteral("again.dzp"));
        QVERIFY(WriteFile(package, "an older package"));
        QStringList arguments = Complete(package);
        arguments << "--frames-dir" << Fresh(QStringLiteral("frames"));

        const Run refused = RunCli(arguments);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(QFile::encodeName(package)), refused.err.constData());
        QVERIFY(refused.err.contains("--force"));
        QCOMPARE(ReadAll(package), QByteArray("an older package"));
        QVERIFY(!QFileInfo::exists(arguments.last()));  // refused before any work

        const Run forced = RunCli(arguments << QStringLiteral("--force"));
        QVERIFY2(forced.exitCode == 0, forced.err.constData());
        QVERIFY(sparkloom::test::UnzipTestsClean(package));
    }

    void takesAFilledFramesFolderOnlyWithForce() {
        const QString frames = Fresh(QStringLiteral("filled"));
        QVERIFY(QDir().mkpath(frames));
        QVERIFY(WriteFile(frames + QStringLiteral("/notes.txt"), "left by the user"));
        const QString package = Fresh(QStringLiteral("filled.dzp"));
        QStringList arguments = Complete(package) << "--frames-dir" << frames;

        const Run refused = RunCli(arguments);
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains("--force"), refused.err.constData());
        QVERIFY(!QFileInfo::exists(package));

        const Run forced = RunCli(arguments << QStringLiteral("--force"));
        QVERIFY2(forced.exitCode == 0, forced.err.constData());
        QList<ArchiveEntry> entries;
        QVERIFY(sparkloom::test::ReadArchive(package, entries));
        QVERIFY(NamesOf(entries).contains(QStringLiteral(".\\notes.txt")));  // as the window does
    }

    // More than 2000 entries in the frames folder: the walk leaves some out,
    // which is refused, or with --force done and said.
    // 2010 frames: only the first 1994 fit beside ".", "..", the thumbnails and
    // the templates. A file beside them that sorts first would push a template
    // out, which refuses the build; one that sorts last is left out with --force.
    void longClipsKeepThePackageWhole_data() {
        QTest::addColumn<QString>("extraFile");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        QTest::addColumn<int>("entries");
        QTest::newRow("frames only") << QString() << 0
                                     << "the video has 2010 frames, but a package holds at most "
                                        "1994; only the first 1994 were extracted."
                                     << 1998;
        QTest::newRow("a file before the templates")
            << "aa.txt" << 1 << "The package would lack TitleTemplate.xml" << 0;
        QTest::newRow("a file after them") << "zz.txt" << 0 << "1 entries were left out" << 1998;
    }
    void longClipsKeepThePackageWhole() {
        QFETCH(QString, extraFile);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QFETCH(int, entries);
        const QString longClip = mClips + QStringLiteral("/long.mp4");
        if (!QFileInfo::exists(longClip)) {
            int code = -1;
            sparkloom::test::RunTool(
                "ffmpeg",
                {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                 "testsrc=duration=20.1:size=16x16:rate=100", "-pix_fmt", "yuv420p", longClip},
                &code);
            QCOMPARE(code, 0);
        }
        const QString package = Fresh(QStringLiteral("long.dzp"));
        const QString frames = Fresh(QStringLiteral("long-frames"));
        QStringList arguments = Complete(package) << "--frames-dir" << frames;
        arguments[0] = longClip;
        if (!extraFile.isEmpty()) {
            QVERIFY(QDir().mkpath(frames));
            QVERIFY(sparkloom::test::WriteFile(frames + u'/' + extraFile, "beside"));
            arguments << "--force";
        }
        const Run run = RunCli(arguments);
        QVERIFY2(run.exitCode == exitCode, run.err.constData());
        QVERIFY2(run.err.contains(said.toUtf8()), run.err.constData());
        QCOMPARE(QFileInfo::exists(package), exitCode == 0);
        if (exitCode == 0) {
            QList<ArchiveEntry> read;
            QVERIFY(sparkloom::test::ReadArchive(package, read));
            QCOMPARE(read.size(), entries);
            QCOMPARE(AttributeOf(ReadAll(frames + "/TitleTemplate.clt"),
                                 QStringLiteral("ParticleAttribExt"),
                                 QStringLiteral("AnimationDuration")),
                     QStringLiteral("66467"));
        }
    }

    // A stop signal sent to the converter's process alone, as kill, timeout or a
    // service manager send it: ffmpeg is stopped, no package is left, the frames
    // folder is kept, and the exit status is the shell's for that signal.
    void stopSignals_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<QString>("step");
        QTest::addColumn<bool>("several");  // the first of two clips is stopped
        QTest::newRow("SIGINT while extracting") << int(SIGINT) << "extracting frames" << false;
        QTest::newRow("SIGTERM while extracting") << int(SIGTERM) << "extracting frames" << false;
        QTest::newRow("SIGINT while packing") << int(SIGINT) << "packing" << false;
        QTest::newRow("SIGTERM while packing") << int(SIGTERM) << "packing" << false;
        QTest::newRow("SIGTERM, several clips") << int(SIGTERM) << "extracting frames" << true;
    }
    void stopSignals() {
        QFETCH(int, signalNumber);
        QFETCH(QString, step);
        QFETCH(bool, several);
        const bool packing = step == "packing";
        QString package = Fresh(QStringLiteral("stopped.dzp"));
        QString frames = Fresh(QStringLiteral("stopped-frames"));
        QStringList arguments = Complete(package) << "--frames-dir" << frames;
        const QString folder = Fresh(QStringLiteral("stopped-batch"));
        if (several) {
            QVERIFY(QDir().mkpath(folder));
            package = folder + QStringLiteral("/ten.dzp");
            frames = folder + QStringLiteral("/ten_frames");
            arguments =
                QStringList{mClip, "-o", folder, "--type", "CUSTOM", "--category", "General"};
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (packing) {
            // A large thumbnail, packed twice, makes packing last.
            const QString big = mRoot.filePath(QStringLiteral("big-thumb.jpg"));
            if (!QFileInfo::exists(big)) {
                QVERIFY(sparkloom::test::WriteNoise(big, 200 << 20, 11));
            }
            arguments << "--thumb" << big;
        } else {
            const QString slow = mRoot.filePath(QStringLiteral("slow-ffmpeg"));
            QVERIFY(sparkloom::test::WriteSlowFfmpeg(slow));
            env.insert("SPARKLOOM_FFMPEG", slow);
            const QString ten = mClips + QStringLiteral("/ten.mp4");
            if (!QFileInfo::exists(ten)) {
                QVERIFY(sparkloom::test::MakeClip(ten, 10));
            }
            if (several) {
                arguments.prepend(ten);
            } else {
                arguments[0] = ten;
            }
        }
        QProcess process;
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(SPARKLOOM_CLI), arguments);
        QVERIFY(process.waitForStarted());
        QByteArray err;
        pid_t ffmpeg = 0;
        const bool reached = QTest::qWaitFor(
            [&] {
                err += process.readAllStandardError();
                if (packing) {
                    return err.contains("Packing…");
                }
                if (ffmpeg == 0) {
                    ffmpeg =
                        sparkloom::test::ExtractingChild(static_cast<pid_t>(process.processId()));
                }
                return ffmpeg != 0 && QDir(frames).count() > 5;
            },
            60000);
        QVERIFY2(reached, err.constData());
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        ::kill(static_cast<pid_t>(process.processId()), signalNumber);
        QVERIFY(process.waitForFinished(10000));
        qInfo("%s: ended %lld ms after the signal", QTest::currentDataTag(), sinceSignal.elapsed());
        err += process.readAllStandardError();
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 128 + signalNumber);
        const QString name = signalNumber == SIGINT ? "SIGINT" : "SIGTERM";
        QVERIFY2(err.endsWith(QStringLiteral("Stopped by %1 while %2; no package was written; the "
                                             "frames folder %3 is kept.\n")
                                  .arg(name, step, frames)
                                  .toUtf8()),
                 err.constData());
        QVERIFY(!QFileInfo::exists(package));
        QVERIFY(QDir(frames).count() > 5);
        QVERIFY(!sparkloom::test::ProcessExists(ffmpeg));
        if (several) {  // the second clip was never started
            QVERIFY2(!err.contains("[2/2]"), err.constData());
            QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/clip_frames")));
        }
    }

    // Scripts and cron run under LANG=C: the converter's output stays its own.
    void plainCLocale() {
        const Run run =
            RunCli(Complete(Fresh(QStringLiteral("c-locale.dzp"))), {"LANG=C", "LC_ALL=C"});
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QCOMPARE(run.err,
                 QByteArray("Counting frames…\nExtracting 30 frames…\nPacking…\nSuccess\n"));
    }

    // With --force, frames of an earlier, longer extraction of the same name go
    // first, and the converter says so; other files stay.
    void staleFramesGoWithForce() {
        const QString frames = Fresh(QStringLiteral("stale-frames"));
        QVERIFY(QDir().mkpath(frames));
        for (int frame = 1; frame <= 90; ++frame) {
            QVERIFY(WriteFile(
                frames + QStringLiteral("/clip_%1.jpg").arg(frame, 5, 10, QChar(u'0')), "old"));
        }
        QVERIFY(WriteFile(frames + "/notes.txt", "mine"));
        const QString package = Fresh(QStringLiteral("stale.dzp"));
        const Run run = RunCli(Complete(package) << "--frames-dir" << frames << "--force");
        QVERIFY2(run.exitCode == 0, run.err.constData());
        QVERIFY2(
            run.err.contains(QStringLiteral("Deleted 90 frames of an earlier extraction from %1.")
                                 .arg(frames)
                                 .toUtf8()),
            run.err.constData());
        QCOMPARE(QDir(frames).entryList({"clip_*.jpg"}).size(), 30);
        QCOMPARE(ReadAll(frames + "/notes.txt"), QByteArray("mine"));
        QList<ArchiveEntry> entries;
        QVERIFY(sparkloom::test::ReadArchive(package, entries));
        QCOMPARE(entries.size(), 35);
    }

    // A package that cannot be created fails in the builder, with the window's status text.
    void reportsAFailedPackingAsTheWindowDoes() {
        const QString package = Fresh(QStringLiteral("nowhere.dzp"));
        QVERIFY(QFile::link(mRoot.filePath(QStringLiteral("no/such/folder/x.dzp")), package));
        QStringList arguments = Complete(package)
                                << "--frames-dir" << Fresh(QStringLiteral("frames"));
        const Run run = RunCli(arguments);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.endsWith("Packing…\nErr -1 in OpenZip\n"), run.err.constData());
    }

    // --check on a package of the road, on damaged ones and on several at once: one
    // line per package when whole, one per fault otherwise, and the exit status.
    void checksPackages_data() {
        QTest::addColumn<QStringList>("packages");  // "made", "cut", "text", "gone", "extra"
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("lines");  // each package's path stands for "%1"
        QTest::newRow("made by the road") << QStringList{"made"} << 0 << QStringList{"%1: OK"};
        QTest::newRow("extra file is a note")
            << QStringList{"extra"} << 0
            << QStringList{"%1: OK",
                           "%1: note: 1 extra file, which the particle does not use: "
                           ".\\ReadMe.txt"};
        QTest::newRow("cut short")
            << QStringList{"cut"} << 1
            << QStringList{
                   "%1: the archive is cut short or damaged: its table of contents at "
                   "the end cannot be found"};
        QTest::newRow("not a ZIP")
            << QStringList{"text"} << 1 << QStringList{"%1: the file is not a ZIP archive"};
        QTest::newRow("one whole, one gone") << QStringList{"made", "gone"} << 1
                                             << QStringList{"%1: OK", "%2: there is no such file"};
    }
    void checksPackages() {
        QFETCH(QStringList, packages);
        QFETCH(int, exitCode);
        QFETCH(QStringList, lines);

        const QString made = Fresh(QStringLiteral("Check.dzp"));
        const Run build = RunCli(Complete(made) << QStringLiteral("--quiet"));
        QVERIFY2(build.exitCode == 0, build.err.constData());
        QStringList paths;
        for (const QString& kind : packages) {
            const QString path = Fresh(kind + QStringLiteral(".dzp"));
            if (kind == u"made") {
                QVERIFY(QFile::copy(made, path));
            } else if (kind == u"cut") {
                QVERIFY(WriteFile(path, ReadAll(made).chopped(200)));
            } else if (kind == u"text") {
                QVERIFY(WriteFile(path, "a text, not an archive\n"));
            } else if (kind == u"extra") {
                QVERIFY(QFile::copy(made, path));
                const QString readMe = mRoot.filePath(QStringLiteral("ReadMe.txt"));
                QVERIFY(WriteFile(readMe, "notes"));
                int code = -1;
                sparkloom::test::RunTool(
                    QStringLiteral("python3"),
                    {QStringLiteral("-c"),
                     QStringLiteral("import sys, zipfile\n"
                                    "zipfile.ZipFile(sys.argv[1], 'a').write(sys.argv[2], "
                                    "'.\\\\ReadMe.txt')"),
                     path, readMe},
                    &code);
                QCOMPARE(code, 0);
            }
            paths << path;
        }
        const Run run = RunCli(QStringList{QStringLiteral("--check")} << paths);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.err, QByteArray());
        QString expected;
        for (const QString& line : lines) {
            QString filled = line;
            for (qsizetype i = 0; i < paths.size(); ++i) {
                filled.replace(QStringLiteral("%%1").arg(i + 1), paths[i]);
            }
            expected += filled + u'\n';
        }
        QCOMPARE(QString::fromLocal8Bit(run.out), expected);
    }

    // A package that does not read back is not reported as made: the script is
    // rewritten (same size, so packing goes on) while a large file is being packed.
    // Files are read in their turn only when none is deflated ahead.
    void removesAPackageThatDoesNotReadBack() {
        const QString frames = Fresh(QStringLiteral("rewritten"));
        QVERIFY(QDir().mkpath(frames));
        QVERIFY(sparkloom::test::WriteNoise(frames + QStringLiteral("/AAA.bin"), 48 << 20, 7));
        const QString package = Fresh(QStringLiteral("Rewritten.dzp"));
        QProcess process;
        process.setWorkingDirectory(mRoot.path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("SPARKLOOM_DEFLATE_THREADS"), QStringLiteral("0"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(SPARKLOOM_CLI), Complete(package)
                                                         << "--frames-dir" << frames << "--force");
        QByteArray err;
        QVERIFY(QTest::qWaitFor(
            [&] {
                process.waitForReadyRead(50);
                err += process.readAllStandardError();
                return err.contains("Packing") || process.state() == QProcess::NotRunning;
            },
            60000));
        const QString clt = frames + QStringLiteral("/TitleTemplate.clt");
        QVERIFY(WriteFile(clt, QByteArray(QFileInfo(clt).size(), 'x')));
        QVERIFY(process.waitForFinished(120000));
        err += process.readAllStandardError();
        QCOMPARE(process.exitCode(), 1);
        QVERIFY2(err.contains("was written but does not read back whole:\n"
                              ".\\TitleTemplate.clt: it is not UTF-16LE text with a byte-order "
                              "mark"),
                 err.constData());
        QVERIFY(!err.contains("Success"));
        QVERIFY(!QFileInfo::exists(package));
    }

    void failsClearlyWithoutFfmpeg() {
        const QString package = Fresh(QStringLiteral("noffmpeg.dzp"));
        const Run run =
            RunCli(Complete(package), {QStringLiteral("SPARKLOOM_FFMPEG=/nonexistent")});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("ffmpeg was not found") && run.err.contains("/nonexistent"),
                 run.err.constData());
        QVERIFY(!QFileInfo::exists(package));
        QVERIFY(!QFileInfo::exists(package.chopped(4) + QStringLiteral("_frames")));
    }

    void failsOnAVideoFfmpegCannotRead() {
        const QString notVideo = mClips + QStringLiteral("/notes.mp4");
        QVERIFY(WriteFile(notVideo, "plain text, no video"));
        const QString package = Fresh(QStringLiteral("unreadable.dzp"));
        QStringList arguments = Complete(package);
        arguments[0] = notVideo;
        const Run run = RunCli(arguments);
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("The video could not be read."), run.err.constData());
        QVERIFY(!run.err.contains("Success"));
        QVERIFY(!QFileInfo::exists(package));
        QVERIFY(!QFileInfo::exists(package.chopped(4) + QStringLiteral("_frames")));

        const Run missing = RunCli(Complete(package).replaceInStrings(mClip, mClips + "/gone.mp4"));
        QCOMPARE(missing.exitCode, 1);
        QVERIFY2(missing.err.contains("gone.mp4"), missing.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
