#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace sparkloom::cli {

// Everything the converter tells its user goes through here, on one stream
// (stderr): a redrawn bar on a terminal, one line per step otherwise, only
// errors and warnings when quiet. Text is UTF-8.
class TerminalProgress {
public:
    enum class Mode { Bar, Lines, Quiet };
    enum class Unit { Count, Bytes };

    // Without escapes (a classic Windows console) the bar is redrawn over
    // itself with "\r" and blanks instead of clearing the line's end.
    explicit TerminalProgress(Mode mode, std::FILE* out = stderr, bool escapes = true);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Bar on a terminal, lines when the stream goes to a file or a pipe.
    static Mode ModeFor(bool quiet, std::FILE* out = stderr);
    Mode GetMode() const { return mMode; }

    void Note(const std::string& text);   // a step's line; not shown when quiet
    void Warn(const std::string& text);   // shown even when quiet: something was left out
    void Error(const std::string& text);  // always shown

    // A bar of done / total and, once it can be told, the time left; a total
    // of 0 shows the count alone. In line mode the label is printed, then a
    // line of the state now and then on a long step.
    void StartBar(const std::string& label, int64_t total, Unit unit);
    void UpdateBar(int64_t done);
    void SetTotal(int64_t total);  // when an estimated total turns out otherwise
    void EndBar();                 // draws the final state and ends the line

private:
    using Clock = std::chrono::steady_clock;

    void Print(const std::string& text);
    void Draw(bool force);
    std::string State() const;  // "50% 15/30, 0:12 left" or the count alone
    void PrintStateLine();
    void BreakBarLine();
    std::string Amount(int64_t value) const;
    int TerminalWidth() const;

    Mode mMode;
    std::FILE* mOut;
    bool mBarOpen = false;
    bool mBarDrawn = false;
    std::string mLabel;
    int64_t mTotal = 0;
    int64_t mDone = 0;
    Unit mUnit = Unit::Count;
    bool mEscapes;
    std::string mLastDrawn;
    std::size_t mDrawnColumns = 0;
    // When the bar was last drawn, the step started, the last state line was printed.
    std::optional<Clock::time_point> mDrawnAt;
    std::optional<Clock::time_point> mStartedAt;
    std::optional<Clock::time_point> mLineAt;
};

// "0:42", "1:02:03": the time left of a step as a clock reads it.
std::string TimeLeftText(int64_t milliseconds);

}  // namespace sparkloom::cli
