#include "extract/FrameCount.h"

#include <limits>

namespace sparkloom {

namespace {

// A bare LF stays inside a line, so it separates a number from what follows like a blank.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

}  // namespace

bool FrameNumberOfLine(QByteArrayView line, int32_t& number) {
    QByteArray text = line.toByteArray();
    if (!text.toLower().contains("frame=")) {
        return false;
    }
    text.replace("frame=", "");  // only the lower-case tag; any other case leaves junk behind
    qsizetype at = 0;
    while (at < text.size() && IsBlank(text[at])) {
        ++at;
    }
    const qsizetype first = at;
    int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > std::numeric_limits<int32_t>::max()) {
            return false;
        }
    }
    if (at == first || (at < text.size() && !IsBlank(text[at]))) {
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

int32_t ParseFrameCount(QByteArrayView output) {
    FrameLineParser parser;
    parser.Feed(output);
    parser.Finish();
    return parser.Count();
}

}  // namespace sparkloom
