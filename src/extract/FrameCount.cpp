#include "extract/FrameCount.h"

#include <QList>
#include <limits>

namespace sparkloom {

namespace {

// A bare LF stays inside a line, so it separates a number from what follows like a blank.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

}  // namespace

bool FrameNumberOfLine(QByteArrayView line, int32_t& number) {
    if (!line.toByteArray().toLower().contains("frame=")) {
        return false;
    }
    // The number must follow the lower-case tag (repeated tags and blanks may
    // stand between them); any other case leaves junk in front. Cutting every tag
    // out of the whole line instead would join digits written before the tag, or
    // between two tags, into a number the line does not hold.
    const QByteArrayView tag("frame=");
    qsizetype at = 0;
    const auto skipBlanks = [&] {
        while (at < line.size() && IsBlank(line[at])) {
            ++at;
        }
    };
    skipBlanks();
    bool tagged = false;
    while (line.sliced(at).startsWith(tag)) {
        at += tag.size();
        tagged = true;
        skipBlanks();
    }
    if (!tagged) {
        return false;
    }
    const qsizetype first = at;
    int64_t value = 0;
    for (; at < line.size() && line[at] >= '0' && line[at] <= '9'; ++at) {
        value = value * 10 + (line[at] - '0');
        if (value > std::numeric_limits<int32_t>::max()) {
            return false;
        }
    }
    if (at == first || (at < line.size() && !IsBlank(line[at]))) {
        return false;
    }
    number = static_cast<int32_t>(value);
    return true;
}

void FrameLineParser::Feed(QByteArrayView bytes) {
    for (const char c : bytes) {
        const bool lfOfCrLf = mPendingCr && c == '\n';
        mPendingCr = false;
        if (lfOfCrLf) {
            continue;
        }
        if (c == '\r') {
            TakeLine(mPending);
            mPending.resize(0);
            mPendingCr = true;
        } else {
            mPending.append(c);
        }
    }
}

void FrameLineParser::Finish() {
    if (!mPending.isEmpty()) {
        TakeLine(mPending);
        mPending.resize(0);
    }
    mPendingCr = false;
}

void FrameLineParser::TakeLine(QByteArrayView line) {
    int32_t number = 0;
    if (!FrameNumberOfLine(line, number)) {
        return;
    }
    mCount = number;
    mFound = true;
    if (onFrame) {
        onFrame(number);
    }
}

bool PacketsMuxedOfLine(QByteArrayView line, int32_t& packets) {
    const QByteArrayView tag("Output stream #0:0 (video): ");
    const qsizetype at = line.indexOf(tag);
    if (at < 0) {
        return false;
    }
    qsizetype cursor = at + tag.size();
    const auto readNumber = [&](int64_t& value) {
        const qsizetype first = cursor;
        value = 0;
        for (; cursor < line.size() && line[cursor] >= '0' && line[cursor] <= '9'; ++cursor) {
            value = value * 10 + (line[cursor] - '0');
            if (value > std::numeric_limits<int32_t>::max()) {
                return false;
            }
        }
        return cursor > first;
    };
    int64_t value = 0;
    if (!readNumber(value)) {
        return false;
    }
    // An encoding run says "N frames encoded; " first; each packet is one frame file.
    const QByteArrayView encoded(" frames encoded; ");
    if (line.sliced(cursor).startsWith(encoded)) {
        cursor += encoded.size();
        if (!readNumber(value)) {
            return false;
        }
    }
    if (!line.sliced(cursor).startsWith(QByteArrayView(" packets muxed"))) {
        return false;
    }
    packets = static_cast<int32_t>(value);
    return true;
}

void FfmpegOutputParser::Feed(QByteArrayView bytes) {
    for (const char c : bytes) {
        if (c == '\r' || c == '\n') {
            TakeLine(mPending);
            mPending.resize(0);
        } else if (mPending.size() < 4096) {  // a summary line is short; the rest is noise
            mPending.append(c);
        }
    }
}

void FfmpegOutputParser::Finish() {
    TakeLine(mPending);
    mPending.resize(0);
}

void FfmpegOutputParser::TakeLine(QByteArrayView line) {
    int32_t number = 0;
    if (PacketsMuxedOfLine(line, number)) {
        mPackets = number;
        mFound = true;
    } else if (FrameNumberOfLine(line, number)) {
        mLastFrame = number;
        mFrameFound = true;
        if (onFrame) {
            onFrame(number);
        }
    }
}

QString FfmpegFailureReason(QByteArrayView outputTail, const QString& videoPath) {
    if (outputTail.indexOf(QByteArrayView("matches no streams")) >= 0) {
        return QStringLiteral("%1: the file holds no video stream.").arg(videoPath);
    }
    QByteArray text = outputTail.toByteArray();
    const QList<QByteArray> lines = text.replace('\r', '\n').split('\n');
    QString last;
    for (auto line = lines.crbegin(); line != lines.crend() && last.isEmpty(); ++line) {
        last = QString::fromLocal8Bit(line->trimmed());
    }
    // ffmpeg 7 names the step, not the file; say which file, as ffmpeg 5 did.
    const QString inputStep = QStringLiteral("Error opening input files: ");
    if (last.startsWith(inputStep)) {
        return videoPath + QStringLiteral(": ") + last.mid(inputStep.size());
    }
    return last;
}

int32_t ParseFrameCount(QByteArrayView output) {
    FrameLineParser parser;
    parser.Feed(output);
    parser.Finish();
    return parser.Count();
}

}  // namespace sparkloom
