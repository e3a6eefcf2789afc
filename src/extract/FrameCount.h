#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstdint>
#include <functional>

namespace sparkloom {

// Splits ffmpeg's error output into lines (a line ends at CR; CR LF is one end;
// a bare LF does not end a line) and keeps the number of the last line that
// contains "frame=" in any letter case. Fed in pieces as the output arrives.
class FrameLineParser {
public:
    void Feed(QByteArrayView bytes);
    void Finish();  // the text after the last line end is a line too
    int32_t Count() const { return mCount; }
    bool Found() const { return mFound; }
    // Called for every matching line with its number, as it is read.
    std::function<void(int32_t)> onFrame;

private:
    void TakeLine(QByteArrayView line);
    QByteArray mPending;
    bool mPendingCr = false;
    int32_t mCount = 0;
    bool mFound = false;
};

// The number after the line's leading "frame=" tag (blanks allowed before and
// after it), when the line contains "frame=" and the number reads whole.
bool FrameNumberOfLine(QByteArrayView line, int32_t& number);
int32_t ParseFrameCount(QByteArrayView output);

}  // namespace sparkloom
