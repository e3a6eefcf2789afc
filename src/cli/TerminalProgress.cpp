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
    if (mMode == Mode::Lines) {
        Print(label);
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
    }
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
    const QString unit = mUnit == Unit::Bytes ? QStringLiteral(" MiB") : QString();
    QString line;
    if (mTotal > 0) {
        const int64_t done = std::clamp<int64_t>(mDone, 0, mTotal);
        const QString stats = QStringLiteral(" %1% %2/%3%4")
                                  .arg(done * 100 / mTotal, 3)
                                  .arg(Amount(done), Amount(mTotal), unit);
        const int room = TerminalWidth() - 1 - static_cast<int>(mLabel.size() + stats.size()) - 3;
        const int cells = std::min(kMaxBarCells, room);
        if (cells >= 5) {
            const int full = static_cast<int>(done * cells / mTotal);
            line = mLabel + QStringLiteral(" [") + QString(full, u'#') +
                   QString(cells - full, u'.') + u']' + stats;
        } else {
            line = mLabel + stats;
        }
    } else {
        line = mLabel + u' ' + Amount(mDone) + unit;
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
