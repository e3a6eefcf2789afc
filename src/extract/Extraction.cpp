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
#include "package/FrameSequence.h"

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
    outcome.seconds = parser.Seconds();
    return outcome;
}

namespace {

struct FfmpegExtraction {
    ExecResult run;
    int32_t reportedFrames = -1;  // -1: no "frame=" line
    double seconds = -1.0;        // the clip's duration from ffmpeg's report of its input
    QString error;
};

FfmpegExtraction RunExtraction(const QString& ffmpeg, const QString& video, const QString& folder,
                               const QString& framePrefix, const FrameOptions& options,
                               int32_t frameCap, const std::function<void(int32_t)>& onFrame,
                               const std::function<bool()>& stop,
                               const std::function<void(double)>& onSeconds = {}) {
    FfmpegExtraction result;
    FfmpegOutputParser parser;
    bool secondsTold = false;
    parser.onFrame = [&](int32_t frame) {
        // ffmpeg describes its input before the first progress line.
        if (!secondsTold && onSeconds) {
            secondsTold = true;
            onSeconds(parser.Seconds());
        }
        if (onFrame) {
            onFrame(frame);
        }
    };
    OutputTail tail;
    const FrameArguments chosen = FfmpegArgumentsFor(options);
    QStringList arguments{"-nostdin", "-v", "verbose", "-y"};
    arguments << chosen.input << "-i" << AbsolutePath(video) << "-map"
              << "0:V:0" << chosen.output;
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
    result.seconds = parser.Seconds();
    return result;
}

}  // namespace

int32_t FramesPerPackage(int32_t maxFiles) {
    return std::max(maxFiles - 6, 0);
}

FrameFiles FindFrameFiles(const QString& folder, const QString& framePrefix) {
    FrameFiles found;
    std::vector<std::pair<int32_t, QString>> frames;
    const QStringList entries = QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QString& name : entries) {
        const int32_t number = FrameNumberOf(name, framePrefix);
        if (number >= 0 && QFileInfo(folder + u'/' + name).isFile()) {
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
    const FrameOptions& options = mRequest.options;
    const auto announceExpected = [&](int32_t expected) {
        if (hooks.onExpected) {
            hooks.onExpected(std::min(expected, outcome.limit), !options.ChangesFrames());
        }
    };
    // ffmpeg writes nothing then, and says only that nothing was encoded.
    const auto startsBeyondEnd = [&](double seconds) {
        return options.start && seconds >= 0 && ParseTime(*options.start).value_or(0) >= seconds;
    };
    double clipSeconds = -1.0;
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
        outcome.expected = ExpectedFrames(options, counted->frames, counted->seconds);
        clipSeconds = counted->seconds;
        if (startsBeyondEnd(clipSeconds)) {
            return fail(StartBeyondEndText(*options.start, counted->seconds));
        }
        if (hooks.onCounted) {
            hooks.onCounted(outcome.counted);
        }
        announceExpected(outcome.expected);
        // With options the count is of the whole clip, not of what is written.
        int32_t cap = options.ChangesFrames() ? outcome.limit : 0;
        if (outcome.expected > outcome.limit) {
            if (hooks.trimToLimit && !hooks.trimToLimit(outcome.expected, outcome.limit)) {
                outcome.end = End::Declined;
                return outcome;
            }
            cap = outcome.limit;
        }
        extraction = RunExtraction(ffmpeg, mRequest.video, folder, mRequest.framePrefix, options,
                                   cap, hooks.onFrame, stop);
    } else if (options.fps) {
        // At a rate of its own the clip's frame count says nothing of what is
        // written: the duration ffmpeg reports of its input gives the total, and
        // the extraction runs alone.
        extraction = RunExtraction(ffmpeg, mRequest.video, folder, mRequest.framePrefix, options,
                                   outcome.limit, hooks.onFrame, stop, [&](double seconds) {
                                       announceExpected(ExpectedFrames(options, 0, seconds));
                                   });
        if (!extraction.run.stopped && !extraction.error.isEmpty()) {
            // A video ffmpeg cannot read: said in the count's words, as without the rate.
            const CountOutcome count = CountFrames(mRequest.video, stop);
            if (count.stopped) {
                outcome.end = End::Stopped;
                return outcome;
            }
            if (!count.ok) {
                return fail(count.error);
            }
        }
        clipSeconds = extraction.seconds;
        outcome.expected = ExpectedFrames(options, 0, clipSeconds);
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
                if (counted->ok) {
                    if (hooks.onCounted) {
                        hooks.onCounted(counted->frames);
                    }
                    announceExpected(ExpectedFrames(options, counted->frames, counted->seconds));
                }
            }
        };
        extraction = RunExtraction(
            ffmpeg, mRequest.video, folder, mRequest.framePrefix, mRequest.options, outcome.limit,
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
        if (counted->ok) {
            outcome.counted = counted->frames;
            outcome.expected = ExpectedFrames(options, counted->frames, counted->seconds);
            clipSeconds = counted->seconds;
        }
    }

    if (extraction.run.stopped) {
        RemoveUnfinishedFrames(folder, mRequest.framePrefix);
        outcome.end = End::Stopped;
        return outcome;
    }
    // A start past the end writes nothing: ffmpeg 5 then ends well, ffmpeg 7 fails.
    // Either way the user is told why, not that ffmpeg failed.
    const FrameFiles written = FindFrameFiles(folder, mRequest.framePrefix);
    if (written.names.isEmpty() && startsBeyondEnd(clipSeconds)) {
        return fail(StartBeyondEndText(*options.start, clipSeconds));
    }
    if (!extraction.error.isEmpty()) {
        return fail(extraction.error);
    }

    // What the package is built from is what is on disk: frames 1 to N with
    // nothing missing, N being what ffmpeg says it wrote.
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
    // An estimate can be off by a frame; only a cut at the limit means frames were left out.
    outcome.trimmed = options.ChangesFrames()
                          ? outcome.expected > outcome.limit && onDisk == outcome.limit
                          : outcome.counted > outcome.limit;
    outcome.end = End::Done;
    return outcome;
}

std::optional<double> ParseTime(const QString& text) {
    static const QRegularExpression seconds(QStringLiteral("^[0-9]+(\\.[0-9]+)?$"));
    static const QRegularExpression clock(
        QStringLiteral("^(?:([0-9]+):)?([0-9]{1,2}):([0-9]{2}(?:\\.[0-9]+)?)$"));
    if (seconds.match(text).hasMatch()) {
        return text.toDouble();
    }
    const QRegularExpressionMatch match = clock.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const double hours = match.captured(1).isEmpty() ? 0 : match.captured(1).toDouble();
    const double minutes = match.captured(2).toDouble();
    const double secondsPart = match.captured(3).toDouble();
    if (minutes >= 60 || secondsPart >= 60) {
        return std::nullopt;
    }
    return hours * 3600 + minutes * 60 + secondsPart;
}

QString FrameOptionsRefusal(const FrameOptions& options) {
    if (options.fps && !(*options.fps > 0 && *options.fps <= kMaxFps)) {
        return QStringLiteral("--fps %1 is out of range: above 0 and at most %2 frames a second.")
            .arg(*options.fps)
            .arg(kMaxFps);
    }
    if (options.quality && (*options.quality < kBestQuality || *options.quality > kWorstQuality)) {
        return QStringLiteral("--quality %1 is out of range: %2 (best) to %3.")
            .arg(*options.quality)
            .arg(kBestQuality)
            .arg(kWorstQuality);
    }
    if (options.width && (*options.width < kMinWidth || *options.width > kMaxWidth)) {
        return QStringLiteral("--width %1 is out of range: %2 to %3 pixels.")
            .arg(*options.width)
            .arg(kMinWidth)
            .arg(kMaxWidth);
    }
    const QString timeForms =
        QStringLiteral("seconds (90, 1.5) or [HH:]MM:SS[.fff] (01:30, 00:01:30.250)");
    if (options.start && !ParseTime(*options.start)) {
        return QStringLiteral("--start \"%1\" is no TIME: %2.").arg(*options.start, timeForms);
    }
    if (options.duration) {
        const std::optional<double> duration = ParseTime(*options.duration);
        if (!duration) {
            return QStringLiteral("--duration \"%1\" is no TIME: %2.")
                .arg(*options.duration, timeForms);
        }
        if (*duration <= 0) {
            return QStringLiteral("--duration must be longer than 0.");
        }
    }
    return QString();
}

// Times go to ffmpeg in seconds, a form every version reads the same.
FrameArguments FfmpegArgumentsFor(const FrameOptions& options) {
    FrameArguments arguments;
    const auto inSeconds = [](const QString& time) {
        return QString::number(ParseTime(time).value_or(0), 'f', 6);
    };
    if (options.start) {
        arguments.input << QStringLiteral("-ss") << inSeconds(*options.start);
    }
    if (options.duration) {
        arguments.input << QStringLiteral("-t") << inSeconds(*options.duration);
    }
    // The rate first, so only the frames kept are scaled.
    QStringList filters;
    if (options.fps) {
        filters << QStringLiteral("fps=") + QString::number(*options.fps, 'g', 12);
    }
    if (options.width) {
        // -2: the height that keeps the aspect ratio, rounded to an even number.
        filters << QStringLiteral("scale=%1:-2").arg(*options.width);
    }
    if (!filters.isEmpty()) {
        arguments.output << QStringLiteral("-vf") << filters.join(u',');
    }
    if (options.quality) {
        arguments.output << QStringLiteral("-q:v") << QString::number(*options.quality);
    }
    return arguments;
}

int32_t ExpectedFrames(const FrameOptions& options, int32_t counted, double seconds) {
    if (!options.ChangesFrames()) {
        return counted;
    }
    if (seconds <= 0) {
        return 0;
    }
    const double start = options.start ? ParseTime(*options.start).value_or(0) : 0;
    double window = std::max(seconds - start, 0.0);
    if (options.duration) {
        window = std::min(window, ParseTime(*options.duration).value_or(window));
    }
    const double rate = options.fps ? *options.fps : counted / seconds;
    return static_cast<int32_t>(std::lround(std::min(window * rate, 1e9)));
}

QString StartBeyondEndText(const QString& start, double seconds) {
    return QStringLiteral(
               "The start %1 lies beyond the clip's end: the clip lasts %2 s. No frames were "
               "written.")
        .arg(start)
        .arg(QString::number(seconds, 'f', 3));
}

QString TooManyFramesAboutWarning(int32_t expected, int32_t limit) {
    return QStringLiteral(
               "Warning: the chosen part of the video gives about %1 frames, but a package holds "
               "at most %2; only the first %2 were extracted.")
        .arg(expected)
        .arg(limit);
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
