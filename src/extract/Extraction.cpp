#include "extract/Extraction.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "app/Files.h"
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
    QString LastLine() const {
        QByteArray text = mTail;
        const QList<QByteArray> lines = text.replace('\r', '\n').split('\n');
        for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
            if (!line->trimmed().isEmpty()) {
                return QString::fromLocal8Bit(line->trimmed());
            }
        }
        return QString();
    }

private:
    static constexpr qsizetype kKeep = 4096;
    QByteArray mTail;
};

QString NotFoundText() {
    return QStringLiteral(
        "ffmpeg was not found beside Sparkloom nor on the PATH. Please install ffmpeg.");
}

QString WithReason(const QString& what, const ExecResult& run, const OutputTail& tail) {
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
        reason = tail.LastLine();
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
ExecResult RunFfmpeg(const QString& ffmpeg, const QStringList& arguments, FrameLineParser& parser,
                     OutputTail& tail) {
    const ExecResult run = ExecAndCapture(ffmpeg, arguments, QString(), [&](QByteArrayView bytes) {
        parser.Feed(bytes);
        tail.Feed(bytes);
    });
    parser.Finish();
    return run;
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

CountOutcome CountFrames(const QString& videoFile) {
    CountOutcome outcome;
    const QString ffmpeg = FindFfmpeg();
    if (ffmpeg.isEmpty()) {
        outcome.error = NotFoundText();
        return outcome;
    }
    FrameLineParser parser;
    OutputTail tail;
    // Copies the first stream into nothing: ffmpeg counts its frames without decoding them.
    const ExecResult run = RunFfmpeg(ffmpeg,
                                     {"-nostdin", "-i", AbsolutePath(videoFile), "-map", "0:0",
                                      "-vcodec", "copy", "-f", "null", "-"},
                                     parser, tail);
    if (!EndedWell(run)) {
        outcome.error = WithReason(QStringLiteral("The video could not be read."), run, tail);
        return outcome;
    }
    outcome.ok = true;
    outcome.frames = parser.Count();
    return outcome;
}

ExtractOutcome ExtractFrames(const QString& videoFile, const QString& targetFolder,
                             const QString& framePrefix,
                             const std::function<void(int32_t frame)>& onFrame) {
    ExtractOutcome outcome;
    const QString folder = AbsolutePath(targetFolder);
    if (targetFolder.isEmpty() || !QFileInfo(folder).isDir()) {
        outcome.error =
            QStringLiteral("The folder to extract to does not exist: \"%1\"").arg(targetFolder);
        return outcome;
    }
    const QString ffmpeg = FindFfmpeg();
    if (ffmpeg.isEmpty()) {
        outcome.error = NotFoundText();
        return outcome;
    }
    FrameLineParser parser;
    parser.onFrame = [&](int32_t frame) {
        outcome.lastFrame = std::max(outcome.lastFrame, frame);
        if (onFrame) {
            onFrame(frame);
        }
    };
    OutputTail tail;
    // -y replaces the frames of an earlier extraction into the same folder.
    const ExecResult run = RunFfmpeg(
        ffmpeg,
        {"-nostdin", "-y", "-i", AbsolutePath(videoFile), OutputPattern(folder, framePrefix)},
        parser, tail);
    if (!EndedWell(run)) {
        outcome.error = WithReason(QStringLiteral("The frames could not be extracted."), run, tail);
        return outcome;
    }
    const QString firstFrame = folder + u'/' + framePrefix + QStringLiteral("_00001.jpg");
    if (!QFileInfo(firstFrame).isFile()) {
        outcome.error = QStringLiteral("ffmpeg wrote no frames (%1 is missing).").arg(firstFrame);
        return outcome;
    }
    outcome.ok = true;
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
