#include "cli/TerminalProgress.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>

namespace sparkloom::cli {

namespace {

// Redrawing more often than this only costs time; nobody reads that fast.
constexpr qint64 kRedrawMilliseconds = 80;
constexpr int kDefaultWidth = 80;
constexpr int kMaxBarCells = 40;
// A first guess at the time left swings too much to be worth showing.
constexpr qint64 kTimeLeftAfterMilliseconds = 1000;
// A log read later needs a line now and then, not one per frame.
constexpr qint64 kLineMilliseconds = 10000;

}  // namespace

TerminalProgress::TerminalProgress(Mode mode, std::FILE* out) : mMode(mode), mOut(out) {}

TerminalProgress::~TerminalProgress() {
    BreakBarLine();
}

TerminalProgress::Mode TerminalProgress::ModeFor(bool quiet, std::FILE* out) {
    if (quiet) {
        return Mode::Quiet;
    }
    return ::isatty(::fileno(out)) ? Mode::Bar : Mode::Lines;
}

void TerminalProgress::Print(const QString& text) {
    BreakBarLine();
    // The window's two-line messages carry CR LF; a terminal wants a newline.
    QString lines = text;
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    const QByteArray bytes = lines.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), mOut);
    std::fflush(mOut);
}

void TerminalProgress::Note(const QString& text) {
    if (mMode != Mode::Quiet) {
        Print(text);
    }
}

void TerminalProgress::Warn(const QString& text) {
    Print(text);
}

void TerminalProgress::Error(const QString& text) {
    Print(text);
}

void TerminalProgress::StartBar(const QString& label, int64_t total, Unit unit) {
    BreakBarLine();
    mLabel = label;
    mTotal = total;
    mDone = 0;
    mUnit = unit;
    mLastDrawn.clear();
    mSinceStart.start();
    if (mMode == Mode::Lines) {
        Print(label);
        mSinceLine.start();
        return;
    }
    if (mMode == Mode::Bar) {
        mBarOpen = true;
        Draw(true);
    }
}

void TerminalProgress::UpdateBar(int64_t done) {
    mDone = done;
    if (mBarOpen) {
        Draw(false);
    } else if (mMode == Mode::Lines && mSinceLine.isValid() &&
               mSinceLine.elapsed() >= kLineMilliseconds) {
        PrintStateLine();
    }
}

void TerminalProgress::SetTotal(int64_t total) {
    mTotal = total;
}

void TerminalProgress::PrintStateLine() {
    mSinceLine.start();
    Print(QStringLiteral("  ") + State());
}

QString TerminalProgress::State() const {
    const QString unit = mUnit == Unit::Bytes ? QStringLiteral(" MiB") : QString();
    if (mTotal <= 0) {
        return Amount(mDone) + unit;
    }
    const int64_t done = std::clamp<int64_t>(mDone, 0, mTotal);
    QString state = QStringLiteral("%1% %2/%3%4")
                        .arg(done * 100 / mTotal, 3)
                        .arg(Amount(done), static_cast<int>(Amount(mTotal).size()))
                        .arg(Amount(mTotal), unit);
    const qint64 elapsed = mSinceStart.isValid() ? mSinceStart.elapsed() : 0;
    if (done > 0 && done < mTotal && elapsed >= kTimeLeftAfterMilliseconds) {
        state += QStringLiteral(", %1 left").arg(TimeLeftText(elapsed * (mTotal - done) / done));
    }
    return state;
}

QString TimeLeftText(int64_t milliseconds) {
    const int64_t seconds = (std::max<int64_t>(milliseconds, 0) + 999) / 1000;
    const int64_t hours = seconds / 3600;
    const QString minutesAndSeconds =
        QStringLiteral("%1:%2")
            .arg(hours > 0 ? (seconds / 60 % 60) : seconds / 60, hours > 0 ? 2 : 1, 10, QChar(u'0'))
            .arg(seconds % 60, 2, 10, QChar(u'0'));
    return hours > 0 ? QString::number(hours) + u':' + minutesAndSeconds : minutesAndSeconds;
}

void TerminalProgress::EndBar() {
    if (mBarOpen) {
        Draw(true);
        BreakBarLine();
    }
}

// Ends a bar that is on screen, so the next text starts on a line of its own.
void TerminalProgress::BreakBarLine() {
    if (mBarOpen && mBarDrawn) {
        std::fputc('\n', mOut);
        std::fflush(mOut);
    }
    mBarOpen = false;
    mBarDrawn = false;
}

QString TerminalProgress::Amount(int64_t value) const {
    if (mUnit == Unit::Bytes) {
        return QString::number(static_cast<double>(value) / (1024.0 * 1024.0), 'f', 1);
    }
    return QString::number(value);
}

int TerminalProgress::TerminalWidth() const {
    winsize size{};
    if (::ioctl(::fileno(mOut), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return kDefaultWidth;
}

void TerminalProgress::Draw(bool force) {
    if (!force && mBarDrawn && mSinceDraw.isValid() && mSinceDraw.elapsed() < kRedrawMilliseconds) {
        return;
    }
    const QString stats = u' ' + State();
    QString line = mLabel + stats;
    if (mTotal > 0) {
        const int64_t done = std::clamp<int64_t>(mDone, 0, mTotal);
        // Room for the time left from the start, so the bar does not shrink when it appears.
        const int timeLeft = stats.contains(u',') ? 0 : static_cast<int>(qstrlen(", 0:00 left"));
        const int room =
            TerminalWidth() - 1 - static_cast<int>(mLabel.size() + stats.size()) - 3 - timeLeft;
        const int cells = std::min(kMaxBarCells, room);
        if (cells >= 5) {
            const int full = static_cast<int>(done * cells / mTotal);
            line = mLabel + QStringLiteral(" [") + QString(full, u'#') +
                   QString(cells - full, u'.') + u']' + stats;
        }
    }
    if (line == mLastDrawn) {
        return;
    }
    mLastDrawn = line;
    mSinceDraw.start();
    mBarDrawn = true;
    // "\r" goes back over the previous state; clearing to the end of the line
    // removes what a longer earlier state left.
    const QByteArray bytes = '\r' + line.toLocal8Bit() + "\x1b[K";
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), mOut);
    std::fflush(mOut);
}

}  // namespace sparkloom::cli
