// ffmpeg's progress output as it arrives through the pipe: any bytes, cut into
// any pieces, must give the same frame numbers as one simple reading of the
// whole, and never a number the line does not hold.
#include <QByteArray>
#include <QList>

#include "FuzzInput.h"
#include "extract/FrameCount.h"

using namespace sparkloom;

namespace {

// Lines end at CR; CR LF is one end; a bare LF stays inside the line; the text
// after the last end is a line when it is not empty.
QList<QByteArray> LinesOf(const QByteArray& text) {
    QList<QByteArray> lines;
    QByteArray line;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            lines << line;
            line.clear();
            if (i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
        } else {
            line += text[i];
        }
    }
    if (!line.isEmpty()) {
        lines << line;
    }
    return lines;
}

void CheckLine(const QByteArray& line) {
    int32_t number = -1;
    if (FrameNumberOfLine(line, number)) {
        FUZZ_CHECK(number >= 0);
        FUZZ_CHECK(line.toLower().contains("frame="));
        FUZZ_CHECK(line.contains(QByteArray::number(number)));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses how the rest is cut into pieces.
    const uint8_t seed = data[0];
    const QByteArray text(reinterpret_cast<const char*>(data + 1),
                          static_cast<qsizetype>(size - 1));

    QList<int32_t> expected;
    for (const QByteArray& line : LinesOf(text)) {
        CheckLine(line);
        int32_t number = 0;
        if (FrameNumberOfLine(line, number)) {
            expected << number;
        }
    }

    FrameLineParser pieces;
    QList<int32_t> seen;
    pieces.onFrame = [&seen](int32_t number) { seen << number; };
    uint32_t state = seed * 2654435761u + 1;
    for (qsizetype at = 0; at < text.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype piece = std::min<qsizetype>(1 + (state >> 16) % 97, text.size() - at);
        pieces.Feed(QByteArrayView(text.constData() + at, piece));
        at += piece;
    }
    pieces.Finish();

    FUZZ_CHECK(seen == expected);
    FUZZ_CHECK(pieces.Found() == !expected.isEmpty());
    FUZZ_CHECK(pieces.Count() == (expected.isEmpty() ? 0 : expected.last()));
    FUZZ_CHECK(ParseFrameCount(text) == pieces.Count());

    // A progress line as ffmpeg writes it reads back its own number.
    const int32_t frames = static_cast<int32_t>(state & 0x7fffffff);
    const QByteArray progress = QByteArray("frame=") +
                                QByteArray::number(frames).rightJustified(5, ' ') +
                                " fps=0.0 q=-0.0";
    int32_t number = -1;
    FUZZ_CHECK(FrameNumberOfLine(progress, number) && number == frames);
    return 0;
}
