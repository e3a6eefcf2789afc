#include <QFile>
#include <QtTest>

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

QByteArray Sample(const char* name) {
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
};

QTEST_GUILESS_MAIN(FrameCountTest)
#include "test_framecount.moc"
