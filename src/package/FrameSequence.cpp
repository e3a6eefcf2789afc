#include "package/FrameSequence.h"

#include <QRegularExpression>
#include <algorithm>
#include <vector>

namespace sparkloom {

namespace {

const QString kFrameSuffix = QStringLiteral(".jpg");

}  // namespace

QString FrameName(const QString& prefix, int32_t number) {
    return prefix + u'_' + QString::number(number).rightJustified(5, u'0') + kFrameSuffix;
}

int32_t FrameNumberOf(const QString& name, const QString& prefix) {
    const qsizetype digitsAt = prefix.size() + 1;
    if (name.size() < digitsAt + 5 + kFrameSuffix.size() || !name.startsWith(prefix) ||
        name[prefix.size()] != u'_' || !name.endsWith(kFrameSuffix)) {
        return -1;
    }
    const QStringView digits =
        QStringView(name).mid(digitsAt, name.size() - digitsAt - kFrameSuffix.size());
    if (!std::all_of(digits.begin(), digits.end(),
                     [](QChar c) { return c >= u'0' && c <= u'9'; })) {
        return -1;
    }
    bool ok = false;
    const int number = digits.toInt(&ok);
    // Only the one spelling ffmpeg writes: Fire_0001.jpg or Fire_000001.jpg are other files.
    if (!ok || number < 0 || FrameName(prefix, number) != name) {
        return -1;
    }
    return number;
}

FrameSequence FramesFrom(const QString& firstFrame, const QStringList& fileNames) {
    FrameSequence frames;
    static const QRegularExpression framePattern(QStringLiteral("^(.*)_([0-9]{5,})\\.jpg$"));
    const QRegularExpressionMatch match = framePattern.match(firstFrame);
    if (!match.hasMatch()) {
        return frames;
    }
    frames.prefix = match.captured(1);
    frames.first = FrameNumberOf(firstFrame, frames.prefix);
    if (frames.first < 0) {
        frames.first = 0;
        return frames;
    }
    frames.numbered = true;
    frames.last = frames.first;

    std::vector<int32_t> numbers;
    for (const QString& name : fileNames) {
        const int32_t number = FrameNumberOf(name, frames.prefix);
        if (number < 0) {
            continue;
        }
        if (number < frames.first) {
            ++frames.earlier;
        } else {
            numbers.push_back(number);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    frames.count = static_cast<int32_t>(numbers.size());
    if (numbers.empty()) {
        return frames;
    }
    frames.last = numbers.back();
    int64_t expected = frames.first;
    for (const int32_t number : numbers) {
        for (; expected < number && frames.missing.size() < kMissingFramesKept; ++expected) {
            frames.missing << static_cast<int32_t>(expected);
        }
        expected = int64_t{number} + 1;
    }
    frames.missingCount =
        static_cast<int32_t>(int64_t{frames.last} - frames.first + 1 - frames.count);
    return frames;
}

}  // namespace sparkloom
