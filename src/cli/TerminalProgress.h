#pragma once

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <cstdio>

namespace sparkloom::cli {

// Everything the converter tells its user goes through here, on one stream
// (stderr): a redrawn bar on a terminal, one line per step otherwise, only
// errors and warnings when quiet.
class TerminalProgress {
public:
    enum class Mode { Bar, Lines, Quiet };
    enum class Unit { Count, Bytes };

    explicit TerminalProgress(Mode mode, std::FILE* out = stderr);
    ~TerminalProgress();
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    // Bar on a terminal, lines when the stream goes to a file or a pipe.
    static Mode ModeFor(bool quiet, std::FILE* out = stderr);
    Mode GetMode() const { return mMode; }

    void Note(const QString& text);   // a step's line; not shown when quiet
    void Warn(const QString& text);   // shown even when quiet: something was left out
    void Error(const QString& text);  // always shown

    // A bar of done / total and, once it can be told, the time left; a total
    // of 0 shows the count alone. In line mode the label is printed, then a
    // line of the state now and then on a long step.
    void StartBar(const QString& label, int64_t total, Unit unit);
    void UpdateBar(int64_t done);
    void SetTotal(int64_t total);  // when an estimated total turns out otherwise
    void EndBar();                 // draws the final state and ends the line

private:
    void Print(const QString& text);
    void Draw(bool force);
    QString State() const;  // "50% 15/30, 0:12 left" or the count alone
    void PrintStateLine();
    void BreakBarLine();
    QString Amount(int64_t value) const;
    int TerminalWidth() const;

    Mode mMode;
    std::FILE* mOut;
    bool mBarOpen = false;
    bool mBarDrawn = false;
    QString mLabel;
    int64_t mTotal = 0;
    int64_t mDone = 0;
    Unit mUnit = Unit::Count;
    QString mLastDrawn;
    QElapsedTimer mSinceDraw;
    QElapsedTimer mSinceStart;
    QElapsedTimer mSinceLine;
};

// "0:42", "1:02:03": the time left of a step as a clock reads it.
QString TimeLeftText(int64_t milliseconds);

}  // namespace sparkloom::cli
