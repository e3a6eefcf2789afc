#include <QFile>
#include <QtTest>
#include <algorithm>
#include <memory>

#include <vector>

#include "extract/FrameCount.h"

using namespace sparkloom;

namespace {

using Frames = std::vector<int32_t>;

// Every number the parser reports, the text fed in pieces of pieceSize bytes as a pipe may
// deliver it. Count() and Found() must agree with the reports.
Frames Parse(QByteArrayView text, qsizetype pieceSize = 1 << 20) {
    Frames frames;
    FrameLineParser parser;
    parser.onFrame = [&frames](int32_t frame) { frames.push_back(frame); };
    for (qsizetype at = 0; at < text.size(); at += pieceSize) {
        parser.Feed(text.sliced(at, std::min(pieceSize, text.size() - at)));
    }
    parser.Finish();
    if (parser.Found() != !frames.empty() ||
        parser.Count() != (frames.empty() ? 0 : frames.back())) {
        return {-2};
    }
    return frames;
}

QByteArray Sample(const QString& name) {
    QFile file(QStringLiteral(SPARKLOOM_TEST_DATA "/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class FrameCountTest : public QObject {
    Q_OBJECT

private slots:
    void lineEnds() {
        // Progress lines between bare CRs are lines of their own.
        QCOMPARE(Parse("frame=    1 fps=0\rframe=   2 fps=0\rframe=   3 fps=0"), (Frames{1, 2, 3}));
        // CR LF is one end, also when the pipe splits it.
        for (qsizetype piece : {1, 2, 11, 100}) {
            QCOMPARE(Parse("frame= 5 a\r\nframe= 6 b\r\n\r\nframe= 7 c\r\n", piece),
                     (Frames{5, 6, 7}));
        }
        // A bare LF does not end a line: the second number hides inside the first line.
        QCOMPARE(Parse("frame= 8 a\nframe= 9 b\n"), (Frames{8}));
        QCOMPARE(ParseFrameCount("frame= 8 a\nframe= 9 b\n"), 8);
    }

    void noMatchGivesZero() {
        QCOMPARE(Parse(""), Frames{});
        QCOMPARE(Parse("Input #0\rfps= 30\r\nframes 12\r"), Frames{});
        QCOMPARE(ParseFrameCount("nothing here"), 0);
    }

    void numberReadWhole() {
        QCOMPARE(ParseFrameCount("frame=1234567 fps=25"), 1234567);
        QCOMPARE(ParseFrameCount("frame=  2147483647"), 2147483647);
        QCOMPARE(ParseFrameCount("frame=\t77\tq=1"), 77);
    }

    void junkLinesKeepThePreviousCount() {
        // "FRAME=" makes a line match, but only the lower-case tag is cut before the number.
        for (const char* line : {"frame=abc", "frame= 12x fps", "frame=", "frame= -3",
                                 "frame= 4.5 fps", "frame=2147483648", "frame=99999999999999999999",
                                 "size=9 frame= 11", "FRAME= 40 fps", "Frame=41"}) {
            QCOMPARE(Parse(QByteArray("frame= 10 fps=1\r") + line + "\r"), (Frames{10}));
            int32_t number = -1;
            QVERIFY2(!FrameNumberOfLine(line, number), line);
            QCOMPARE(number, -1);
        }
        int32_t number = 0;
        QVERIFY(FrameNumberOfLine("frame=  9 FRAME=1", number));
        QCOMPARE(number, 9);
    }

    // Output of ffmpeg 5.1 on testsrc clips. The first report shares its line with the banner
    // (joined by bare LFs) and is not read.
    void capturedRuns() {
        QCOMPARE(Parse(Sample("ffmpeg-count-testsrc30.txt"), 7), (Frames{30}));
        QCOMPARE(Parse(Sample("ffmpeg-extract-testsrc30.txt")), (Frames{30}));
        QCOMPARE(Parse(Sample("ffmpeg-extract-testsrc3000.txt"), 512), (Frames{2241, 3000}));
        const QByteArray failed = Sample("ffmpeg-count-invalid.txt");
        QVERIFY(failed.contains("Invalid data found"));
        QCOMPARE(Parse(failed), Frames{});
    }

    // Real runs of Debian 12's ffmpeg 5.1 and Debian 13's 7.1 (tests/data/make-clips.sh,
    // capture-ffmpeg.sh): the summary gives the frames of the first video stream
    // and the files written, whichever version ran and however the clip is made.
    void summariesOfBothVersions_data() {
        QTest::addColumn<QString>("clip");
        QTest::addColumn<int>("counted");
        QTest::addColumn<int>("written");
        for (const char* version : {"ffmpeg51", "ffmpeg71"}) {
            const auto row = [&](const char* clip, int counted, int written) {
                QTest::addRow("%s %s", version, clip)
                    << QStringLiteral("%1/%2").arg(version, clip) << counted << written;
            };
            row("plain", 30, 30);
            row("audiofirst", 30, 30);  // audio is stream 0
            row("vfr", 40, 60);         // the image sequence repeats frames at a constant rate
            row("cover", 30, 30);       // the attached picture is not counted
            row("rotated", 30, 30);
        }
    }
    void summariesOfBothVersions() {
        QFETCH(QString, clip);
        QFETCH(int, counted);
        QFETCH(int, written);
        const auto read = [](const QString& file) {
            const QByteArray output = Sample(file);
            auto parser = std::make_unique<FfmpegOutputParser>();
            // In pieces, as the pipe delivers it.
            for (qsizetype at = 0; at < output.size(); at += 700) {
                parser->Feed(
                    QByteArrayView(output).sliced(at, qMin<qsizetype>(700, output.size() - at)));
            }
            parser->Finish();
            return parser;
        };
        const auto packets = [&read](const QString& file) {
            const auto parser = read(file);
            return parser->Found() ? parser->Packets() : -1;
        };
        const QString folder = clip.section(u'/', 0, 0);
        const QString name = clip.section(u'/', 1);
        QCOMPARE(packets(QStringLiteral("%1/count-copy-verbose-%2.txt").arg(folder, name)),
                 counted);
        QCOMPARE(packets(QStringLiteral("%1/extract-verbose-%2.txt").arg(folder, name)), written);
        // Without -v verbose there is no summary, but the last progress line
        // counts too, though ffmpeg 7 ends it with a bare LF.
        const auto plain = read(QStringLiteral("%1/count-copy-%2.txt").arg(folder, name));
        QVERIFY(!plain->Found());
        QCOMPARE(plain->LastFrame(), counted);
        // A run long enough for progress reports ends on its true total as well.
        for (const char* run : {"count-copy-realtime-long", "extract-realtime-long"}) {
            QList<int32_t> progress;
            const QByteArray output = Sample(QStringLiteral("%1/%2.txt").arg(folder, run));
            FfmpegOutputParser parser;
            parser.onFrame = [&progress](int32_t frame) { progress << frame; };
            parser.Feed(output);
            parser.Finish();
            QVERIFY2(progress.size() >= 2, run);
            QCOMPARE(progress.last(), 90);
            QVERIFY(std::is_sorted(progress.begin(), progress.end()));
        }
    }

    void summaryLines() {
        int32_t packets = -1;
        QVERIFY(PacketsMuxedOfLine("  Output stream #0:0 (video): 7 packets muxed (9 bytes); ",
                                   packets));
        QCOMPARE(packets, 7);
        QVERIFY(
            PacketsMuxedOfLine("[out#0/image2 @ 0x1]   Output stream #0:0 (video): 60 frames "
                               "encoded; 61 packets muxed (1 bytes); ",
                               packets));
        QCOMPARE(packets, 61);
        for (const char* line : {"  Output stream #0:1 (video): 7 packets muxed",
                                 "  Input stream #0:0 (video): 7 packets read (9 bytes); ",
                                 "  Output stream #0:0 (video): packets muxed",
                                 "  Output stream #0:0 (video): 99999999999 packets muxed",
                                 "  Output stream #0:0 (video): 7 frames encoded; packets muxed"}) {
            QVERIFY2(!PacketsMuxedOfLine(line, packets), line);
        }
    }

    // The reason shown for a failed run names the video in both versions.
    void failureReasons_data() {
        QTest::addColumn<QString>("capture");
        QTest::addColumn<QString>("reason");
        for (const char* version : {"ffmpeg51", "ffmpeg71"}) {
            for (const char* kind : {"count-copy-verbose", "extract-verbose"}) {
                const auto row = [&](const char* clip, const char* video, const char* reason) {
                    QTest::addRow("%s %s %s", version, kind, clip)
                        << QStringLiteral("%1/%2-%3.txt").arg(version, kind, clip)
                        << QStringLiteral("%1: %2").arg(video, reason);
                };
                row("noise", "noise.mp4", "Invalid data found when processing input");
                row("missing", "missing.mp4", "No such file or directory");
                row("audioonly", "audioonly.m4a", "the file holds no video stream.");
            }
        }
    }
    void failureReasons() {
        QFETCH(QString, capture);
        QFETCH(QString, reason);
        const QByteArray output = Sample(capture);
        QVERIFY2(!output.isEmpty(), qPrintable(capture));
        const QString video = reason.section(QStringLiteral(": "), 0, 0);
        QCOMPARE(FfmpegFailureReason(output.right(4096), video), reason);
    }
};

QTEST_GUILESS_MAIN(FrameCountTest)
#include "test_framecount.moc"
