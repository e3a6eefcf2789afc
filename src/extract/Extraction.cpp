#include "extract/Extraction.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <limits>
#include <optional>

#include "common/Files.h"
#include "extract/ExecAndCapture.h"
#include "extract/FrameCount.h"
#include "extract/VideoNames.h"

namespace sparkloom {

namespace {

bool IsProgram(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

// Keeps the end of ffmpeg's output: its last line says why a run failed.
class OutputTail {
public:
    void Feed(QByteArrayView bytes) {
        mTail.append(bytes);
        if (mTail.size() > kKeep) {
            mTail.remove(0, mTail.size() - kKeep);
        }
    }
    const QByteArray& Text() const { return mTail; }

private:
    static constexpr qsizetype kKeep = 4096;
    QByteArray mTail;
};

QString NotFoundText() {
    return QStringLiteral(
        "ffmpeg was not found beside Sparkloom nor on the PATH. Please install ffmpeg.");
}

QString WithReason(const QString& what, const ExecResult& run, const OutputTail& tail,
                   const QString& video) {
    if (!run.started) {
        return run.error;  // about ffmpeg, not the video
    }
    QString reason;
    if (!run.error.isEmpty()) {
        reason = run.error;  // lost
    } else if (!run.exited && run.termSignal != 0) {
        // Killed: its last line is only the progress it had made, no reason.
        reason = QStringLiteral("ffmpeg was stopped by signal %1 (%2).")
                     .arg(run.termSignal)
                     .arg(QString::fromLocal8Bit(strsignal(run.termSignal)));
    } else {
        reason = FfmpegFailureReason(tail.Text(), video);
        if (reason.isEmpty()) {
            reason = QStringLiteral("ffmpeg ended with code %1").arg(run.exitCode);
        }
    }
    return QStringLiteral("%1\n%2").arg(what, reason);
}

bool EndedWell(const ExecResult& run) {
    return run.started && run.exited && run.exitCode == 0;
}

// An absolute path never starts with a "name:" that ffmpeg would take for a protocol.
QString AbsolutePath(const QString& path) {
    return QFileInfo(path).absoluteFilePath();
}

// ffmpeg reads the whole output path as a pattern, so a "%" in the folder is doubled too.
QString OutputPattern(const QString& folder, const QString& framePrefix) {
    return QString(folder).replace(QStringLiteral("%"), QStringLiteral("%%")) + u'/' +
           FramePattern(framePrefix);
}

// Runs ffmpeg to its end, reading its progress lines and keeping its last words.
ExecResult RunFfmpeg(const QString& ffmpeg, const QStringList& arguments,
                     FfmpegOutputParser& parser, OutputTail& tail,
                     const std::function<bool()>& stop, bool serveEvents) {
    const ExecResult run = ExecAndCapture(
        ffmpeg, arguments, QString(),
        [&](QByteArrayView bytes) {
            parser.Feed(bytes);
            tail.Feed(bytes);
        },
        stop, serveEvents);
    parser.Finish();
    return run;
}

// A JPEG ends with its end-of-image marker; one that ffmpeg was writing when it
// was stopped hard does not.
bool IsWholeJpeg(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 4 || !file.seek(file.size() - 2)) {
        return false;
    }
    return file.read(2) == QByteArray("\xFF\xD9", 2);
}

// After a stop only the last frames can be unfinished.
void RemoveUnfinishedFrames(const QString& folder, const QString& framePrefix) {
    const FrameFiles frames = FindFrameFiles(folder, framePrefix);
    for (qsizetype i = frames.names.size() - 1; i >= 0 && i >= frames.names.size() - 2; --i) {
        const QString path = folder + u'/' + frames.names[i];
        if (!IsWholeJpeg(path)) {
            QFile::remove(path);
        }
    }
}

QString Shown(const QString& path) {
    return QDir::toNativeSeparators(path);
}

}  // namespace

// SPARKLOOM_FFMPEG, when set, names the only ffmpeg to use (tests point it at a missing file).
QString FindFfmpeg() {
    const QString forced = qEnvironmentVariable("SPARKLOOM_FFMPEG");
    if (!forced.isEmpty()) {
        return IsProgram(forced) ? forced : QString();
    }
    const QString folder = ProgramFolder();
    if (!folder.isEmpty() && IsProgram(folder + QStringLiteral("/ffmpeg"))) {
        return folder + QStringLiteral("/ffmpeg");
    }
    return QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
}

CountOutcome CountFrames(const QString& videoFile, const std::function<bool()>& stop,
                         bool serveEvents) {
    CountOutcome outcome;
    const QString ffmpeg = FindFfmpeg();
    if (ffmpeg.isEmpty()) {
        outcome.error = NotFoundText();
        return outcome;
    }
    FfmpegOutputParser parser;
    OutputTail tail;
    // "0:V:0" is the first video stream that is not cover art. ffmpeg 7 prints
    // its last "frame=" line after a bare LF, or none on a short copy, so the
    // verbose end summary of packets muxed gives the count, with the last
    // "frame=" line as a fallback.
    const ExecResult run = RunFfmpeg(ffmpeg,
                                     {"-nostdin", "-v", "verbose", "-i", AbsolutePath(videoFile),
                                      "-map", "0:V:0", "-c", "copy", "-f", "null", "-"},
                                     parser, tail, stop, serveEvents);
    if (run.stopped) {
        outcome.stopped = true;
        return outcome;
    }
    if (!EndedWell(run)) {
        outcome.error = WithReason(QStringLiteral("The video could not be read."), run, tail,
                                   AbsolutePath(videoFile));
        return outcome;
    }
    outcome.ok = true;
    outcome.frames = parser.Found() ? parser.Packets() : parser.LastFrame();
    return outcome;
}

namespace {

struct FfmpegExtraction {
    ExecResult run;
    int32_t reportedFrames = -1;  // -1: no "frame=" line
    QString error;
};

FfmpegExtraction RunExtraction(const QString& ffmpeg, const QString& video, const QString& folder,
                               const QString& framePrefix, int32_t frameCap,
                               const std::function<void(int32_t)>& onFrame,
                               const std::function<bool()>& stop) {
    FfmpegExtraction result;
    FfmpegOutputParser parser;
    parser.onFrame = [&](int32_t frame) {
        if (onFrame) {
            onFrame(frame);
        }
    };
    OutputTail tail;
    QStringList arguments{"-nostdin",          "-v",   "verbose", "-y", "-i",
                          AbsolutePath(video), "-map", "0:V:0"};
    if (frameCap > 0) {
        arguments << "-frames:v" << QString::number(frameCap);
    }
    arguments << OutputPattern(folder, framePrefix);
    result.run = RunFfmpeg(ffmpeg, arguments, parser, tail, stop, true);
    if (!result.run.stopped && !EndedWell(result.run)) {
        result.error = WithReason(QStringLiteral("The frames could not be extracted."), result.run,
                                  tail, AbsolutePath(video));
    }
    // The summary counts every frame file written.
    if (parser.Found()) {
        result.reportedFrames = parser.Packets();
    } else if (parser.FrameFound()) {
        result.reportedFrames = parser.LastFrame();
    }
    return result;
}

}  // namespace

int32_t FramesPerPackage(int32_t maxFiles) {
    return std::max(maxFiles - 6, 0);
}

FrameFiles FindFrameFiles(const QString& folder, const QString& framePrefix) {
    FrameFiles found;
    const QRegularExpression frameName(
        QStringLiteral("^%1_([0-9]{5,})\\.jpg$").arg(QRegularExpression::escape(framePrefix)));
    std::vector<std::pair<int32_t, QString>> frames;
    const QStringList entries = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : entries) {
        const QRegularExpressionMatch match = frameName.match(name);
        bool fits = false;
        const int32_t number = match.hasMatch() ? match.captured(1).toInt(&fits) : 0;
        if (fits && QFileInfo(folder + u'/' + name).isFile()) {
            frames.emplace_back(number, name);
        } else {
            found.others << name;
        }
    }
    std::sort(frames.begin(), frames.end());
    for (auto& [number, name] : frames) {
        found.numbers.push_back(number);
        found.names << name;
    }
    return found;
}

QString StaleFramesQuestion(const FrameFiles& found, const QString& framePrefix) {
    QString text = QStringLiteral(
                       "This folder already holds %1 frames named %2_#####.jpg from an earlier "
                       "extraction.\r\nThey will be deleted before the new frames are written.")
                       .arg(found.names.size())
                       .arg(framePrefix);
    if (!found.others.isEmpty()) {
        text += QStringLiteral(
                    "\r\nThe %1 other files in the folder are kept and will be packed with the "
                    "new frames.")
                    .arg(found.others.size());
    }
    return text;
}

QString StaleFramesRemovedNotice(int32_t removed, const QString& folder) {
    return QStringLiteral("Deleted %1 frames of an earlier extraction from %2.")
        .arg(removed)
        .arg(Shown(folder));
}

bool RemoveFrameFiles(const QString& folder, const FrameFiles& found, QString& error) {
    for (const QString& name : found.names) {
        QFile file(folder + u'/' + name);
        if (!file.remove()) {
            error = QStringLiteral("Could not delete the old frame %1: %2")
                        .arg(Shown(file.fileName()), file.errorString());
            return false;
        }
    }
    return true;
}

QString TooManyFramesQuestion(int32_t counted, int32_t limit) {
    return QStringLiteral(
               "The video has %1 frames, but a package holds at most %2.\r\n"
               "Extract only the first %2 frames?")
        .arg(counted)
        .arg(limit);
}

QString TooManyFramesWarning(int32_t counted, int32_t limit) {
    return QStringLiteral(
               "Warning: the video has %1 frames, but a package holds at most %2; only the "
               "first %2 were extracted.")
        .arg(counted)
        .arg(limit);
}

bool ExtractionJob::ShouldStop(const ExtractionHooks& hooks) const {
    return mStop || (hooks.stopRequested && hooks.stopRequested());
}

ExtractionOutcome ExtractionJob::Run(const ExtractionHooks& hooks) {
    using End = ExtractionOutcome::End;
    ExtractionOutcome outcome;
    outcome.limit = FramesPerPackage(mRequest.maxFiles);
    const QString folder = AbsolutePath(mRequest.folder);
    auto fail = [&](const QString& error) {
        outcome.end = End::Failed;
        outcome.error = error;
        return outcome;
    };
    if (mRequest.folder.isEmpty() || !QFileInfo(folder).isDir()) {
        return fail(
            QStringLiteral("The folder to extract to does not exist: \"%1\"").arg(mRequest.folder));
    }
    const QString ffmpeg = FindFfmpeg();
    if (ffmpeg.isEmpty()) {
        return fail(NotFoundText());
    }

    // Frames of an earlier, longer extraction would otherwise follow the new ones
    // into the package.
    const FrameFiles stale = FindFrameFiles(folder, mRequest.framePrefix);
    if (!stale.names.isEmpty()) {
        if (hooks.replaceStale && !hooks.replaceStale(stale)) {
            outcome.end = End::Declined;
            return outcome;
        }
        QString error;
        if (!RemoveFrameFiles(folder, stale, error)) {
            return fail(error);
        }
        outcome.removedStale = static_cast<int32_t>(stale.names.size());
    }
    if (hooks.beforeCount) {
        hooks.beforeCount();
    }
    const auto stop = [this, &hooks] { return ShouldStop(hooks); };
    if (ShouldStop(hooks)) {
        outcome.end = End::Stopped;
        return outcome;
    }

    FfmpegExtraction extraction;
    std::optional<CountOutcome> counted;
    if (!mRequest.countBeside) {
        counted = CountFrames(mRequest.video, stop);
        if (counted->stopped) {
            outcome.end = End::Stopped;
            return outcome;
        }
        if (!counted->ok) {
            return fail(counted->error);
        }
        outcome.counted = counted->frames;
        if (hooks.onCounted) {
            hooks.onCounted(outcome.counted);
        }
        int32_t cap = 0;
        if (outcome.counted > outcome.limit) {
            if (hooks.trimToLimit && !hooks.trimToLimit(outcome.counted, outcome.limit)) {
                outcome.end = End::Declined;
                return outcome;
            }
            cap = outcome.limit;
            outcome.trimmed = true;
        }
        extraction = RunExtraction(ffmpeg, mRequest.video, folder, mRequest.framePrefix, cap,
                                   hooks.onFrame, stop);
    } else {
        // The count thread serves no events: they belong to the thread that owns them.
        std::atomic<bool> abandon = false;
        std::future<CountOutcome> counting = std::async(std::launch::async, [&] {
            return CountFrames(
                mRequest.video, [&] { return abandon || ShouldStop(hooks); }, false);
        });
        const auto takeCount = [&](bool wait) {
            if (!counted &&
                (wait || counting.wait_for(std::chrono::seconds(0)) == std::future_status::ready)) {
                counted = counting.get();
                if (counted->ok && hooks.onCounted) {
                    hooks.onCounted(counted->frames);
                }
            }
        };
        extraction = RunExtraction(
            ffmpeg, mRequest.video, folder, mRequest.framePrefix, outcome.limit,
            [&](int32_t frame) {
                takeCount(false);
                if (hooks.onFrame) {
                    hooks.onFrame(frame);
                }
            },
            stop);
        abandon = extraction.run.stopped;
        takeCount(true);
        // A video ffmpeg cannot read fails both runs; the count says so first.
        if (!extraction.run.stopped) {
            if (counted->stopped) {
                outcome.end = End::Stopped;
                return outcome;
            }
            if (!counted->ok) {
                return fail(counted->error);
            }
        }
        outcome.counted = counted->ok ? counted->frames : 0;
        outcome.trimmed = outcome.counted > outcome.limit;
    }

    if (extraction.run.stopped) {
        RemoveUnfinishedFrames(folder, mRequest.framePrefix);
        outcome.end = End::Stopped;
        return outcome;
    }
    if (!extraction.error.isEmpty()) {
        return fail(extraction.error);
    }

    // What the package is built from is what is on disk: frames 1 to N with
    // nothing missing, N being what ffmpeg says it wrote.
    const FrameFiles written = FindFrameFiles(folder, mRequest.framePrefix);
    if (written.names.isEmpty()) {
        return fail(QStringLiteral("ffmpeg wrote no frames (%1 is missing).")
                        .arg(folder + u'/' + mRequest.framePrefix + QStringLiteral("_00001.jpg")));
    }
    const int32_t onDisk = static_cast<int32_t>(written.numbers.size());
    const bool numberedFromOne = written.numbers.front() == 1 && written.numbers.back() == onDisk;
    if (!numberedFromOne ||
        (extraction.reportedFrames >= 0 && extraction.reportedFrames != onDisk)) {
        return fail(QStringLiteral("ffmpeg reported %1 frames, but %2 frames numbered %3 to %4 "
                                   "are in %5.")
                        .arg(extraction.reportedFrames)
                        .arg(onDisk)
                        .arg(written.numbers.front())
                        .arg(written.numbers.back())
                        .arg(Shown(folder)));
    }
    outcome.written = onDisk;
    outcome.end = End::Done;
    return outcome;
}

int32_t AnimationDurationFor(int32_t frameCount) {
    if (frameCount < 0) {
        return static_cast<int32_t>(std::lround(frameCount / 30.0 * 1000.0));
    }
    // frames / 30 * 1000 rounded, exactly; past 64424509 frames it no longer fits.
    const int64_t milliseconds = (int64_t{100} * frameCount + 1) / 3;
    return static_cast<int32_t>(
        std::min<int64_t>(milliseconds, std::numeric_limits<int32_t>::max()));
}

}  // namespace sparkloom
