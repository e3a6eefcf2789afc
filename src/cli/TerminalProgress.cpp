#include "cli/TerminalProgress.h"

#include <algorithm>
#include <charconv>

#include "common/Text.h"
#include "platform/Terminal.h"

namespace sparkloom::cli {

namespace {

// Redrawing more often than this only costs time; nobody reads that fast.
constexpr int64_t kRedrawMilliseconds = 80;
constexpr int kDefaultWidth = 80;
constexpr int kMaxBarCells = 40;
// A first guess at the time left swings too much to be worth showing.
constexpr int64_t kTimeLeftAfterMilliseconds = 1000;
// A log read later needs a line now and then, not one per frame.
constexpr int64_t kLineMilliseconds = 10000;

int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// value in at least width characters, filled on the left with fill.
std::string Padded(const std::string& value, std::size_t width, char fill = ' ') {
    return value.size() >= width ? value : std::string(width - value.size(), fill) + value;
}

void Write(std::FILE* out, const std::string& bytes) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
    std::fflush(out);
}

}  // namespace

TerminalProgress::TerminalProgress(Mode mode, std::FILE* out, bool escapes)
    : mMode(mode), mOut(out), mEscapes(escapes) {}

TerminalProgress::~TerminalProgress() {
    BreakBarLine();
}

TerminalProgress::Mode TerminalProgress::ModeFor(bool quiet, std::FILE* out) {
    if (quiet) {
        return Mode::Quiet;
    }
    return platform::IsTerminal(out) ? Mode::Bar : Mode::Lines;
}

void TerminalProgress::Print(const std::string& text) {
    BreakBarLine();
    // The window's two-line messages carry CR LF; a terminal wants a newline.
    Write(mOut, ReplaceAll(text, "\r\n", "\n") + '\n');
}

void TerminalProgress::Note(const std::string& text) {
    if (mMode != Mode::Quiet) {
        Print(text);
    }
}

void TerminalProgress::Warn(const std::string& text) {
    Print(text);
}

void TerminalProgress::Error(const std::string& text) {
    Print(text);
}

void TerminalProgress::StartBar(const std::string& label, int64_t total, Unit unit) {
    BreakBarLine();
    mLabel = label;
    mTotal = total;
    mDone = 0;
    mUnit = unit;
    mLastDrawn.clear();
    mStartedAt = Clock::now();
    if (mMode == Mode::Lines) {
        Print(label);
        mLineAt = Clock::now();
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
    } else if (mMode == Mode::Lines && mLineAt &&
               MillisecondsSince(*mLineAt) >= kLineMilliseconds) {
        PrintStateLine();
    }
}

void TerminalProgress::SetTotal(int64_t total) {
    mTotal = total;
}

void TerminalProgress::PrintStateLine() {
    mLineAt = Clock::now();
    Print("  " + State());
}

std::string TerminalProgress::State() const {
    const std::string unit = mUnit == Unit::Bytes ? " MiB" : "";
    if (mTotal <= 0) {
        return Amount(mDone) + unit;
    }
    const int64_t done = std::clamp<int64_t>(mDone, 0, mTotal);
    const std::string total = Amount(mTotal);
    std::string state = Padded(std::to_string(done * 100 / mTotal), 3) + "% " +
                        Padded(Amount(done), total.size()) + "/" + total + unit;
    const int64_t elapsed = mStartedAt ? MillisecondsSince(*mStartedAt) : 0;
    if (done > 0 && done < mTotal && elapsed >= kTimeLeftAfterMilliseconds) {
        state += ", " + TimeLeftText(elapsed * (mTotal - done) / done) + " left";
    }
    return state;
}

std::string TimeLeftText(int64_t milliseconds) {
    const int64_t seconds = (std::max<int64_t>(milliseconds, 0) + 999) / 1000;
    const int64_t hours = seconds / 3600;
    const std::string minutesAndSeconds =
        (hours > 0 ? Padded(std::to_string(seconds / 60 % 60), 2, '0')
                   : std::to_string(seconds / 60)) +
        ":" + Padded(std::to_string(seconds % 60), 2, '0');
    return hours > 0 ? std::to_string(hours) + ":" + minutesAndSeconds : minutesAndSeconds;
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
        Write(mOut, "\n");
    }
    mBarOpen = false;
    mBarDrawn = false;
}

std::string TerminalProgress::Amount(int64_t value) const {
    if (mUnit == Unit::Bytes) {
        // MiB with one decimal, and a point whatever the locale says.
        char text[32];
        const auto [end, error] =
            std::to_chars(text, text + sizeof text, static_cast<double>(value) / (1024.0 * 1024.0),
                          std::chars_format::fixed, 1);
        return error == std::errc() ? std::string(text, end) : std::string();
    }
    return std::to_string(value);
}

int TerminalProgress::TerminalWidth() const {
    const int columns = platform::TerminalColumns(mOut);
    return columns > 0 ? columns : kDefaultWidth;
}

void TerminalProgress::Draw(bool force) {
    if (!force && mBarDrawn && mDrawnAt && MillisecondsSince(*mDrawnAt) < kRedrawMilliseconds) {
        return;
    }
    const std::string stats = ' ' + State();
    std::string line = mLabel + stats;
    if (mTotal > 0) {
        const int64_t done = std::clamp<int64_t>(mDone, 0, mTotal);
        // Room for the time left from the start, so the bar does not shrink when it appears.
        const int timeLeft = stats.find(',') != std::string::npos
                                 ? 0
                                 : static_cast<int>(std::char_traits<char>::length(", 0:00 left"));
        // The label's "…" is one column: count characters, not bytes.
        const int shown = static_cast<int>(Utf16Length(mLabel) + Utf16Length(stats));
        const int room = TerminalWidth() - 1 - shown - 3 - timeLeft;
        const int cells = std::min(kMaxBarCells, room);
        if (cells >= 5) {
            const int full = static_cast<int>(done * cells / mTotal);
            line = mLabel + " [" + std::string(full, '#') + std::string(cells - full, '.') + "]" +
                   stats;
        }
    }
    if (line == mLastDrawn) {
        return;
    }
    mLastDrawn = line;
    mDrawnAt = Clock::now();
    // "\r" goes back over the previous state; clearing to the end of the line,
    // or blanks where the console knows no escape codes, remove what a longer
    // earlier state left.
    const std::size_t columns = Utf16Length(line);
    const std::size_t left = mBarDrawn && mDrawnColumns > columns ? mDrawnColumns - columns : 0;
    mBarDrawn = true;
    mDrawnColumns = columns;
    Write(mOut, '\r' + line + (mEscapes ? std::string("\x1b[K") : std::string(left, ' ')));
}

}  // namespace sparkloom::cli
