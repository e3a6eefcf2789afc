#include "cli/Converter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <thread>

#include "cli/TerminalProgress.h"
#include "common/Files.h"
#include "extract/Extraction.h"
#include "extract/VideoNames.h"
#include "package/FolderWalk.h"
#include "package/PackageCheck.h"
#include "package/PackageQueue.h"
#include "package/SavePath.h"
#include "package/Templates.h"
#include "package/Thumbnail.h"
#include "platform/StopSignals.h"
#include "zip/ZipLibrary.h"
#include "zip/Zipper.h"

namespace sparkloom::cli {

namespace {

// The window's limit on the entries taken from one folder.
constexpr int32_t kMaxFiles = 2000;

const QString kSelect = QStringLiteral("Select");

QString Absolute(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// The window compares folder texts from its dialogs; here one folder can be
// typed many ways (relative, with "..", through a link), so compare where they lead.
QString FolderKey(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? Absolute(folder) : canonical;
}

bool HoldsEntries(const QString& folder) {
    return !QDir(folder)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .isEmpty();
}

QString FfmpegMissingText() {
    const QString forced = qEnvironmentVariable("SPARKLOOM_FFMPEG");
    if (!forced.isEmpty()) {
        return QStringLiteral(
                   "ffmpeg was not found: SPARKLOOM_FFMPEG names %1, which is not a "
                   "program that can be run.")
            .arg(Shown(forced));
    }
    return QStringLiteral(
        "ffmpeg was not found beside sparkloom-cli nor on the PATH. Please install ffmpeg.");
}

QString Seconds(qint64 milliseconds) {
    return QString::number(static_cast<double>(milliseconds) / 1000.0, 'f', 3) + u's';
}

QString LeftOutRefusal(int leftOut) {
    return QStringLiteral(
               "%1 entries were left out because a folder holds more "
               "than %2 entries.\r\nUse --force to build the package "
               "without them.")
        .arg(leftOut)
        .arg(kMaxFiles);
}

}  // namespace

bool IsKnownType(const QString& type) {
    return type == QStringLiteral("CUSTOM") || type == QStringLiteral("PRESET");
}

bool MakePlan(const ConvertOptions& options, Plan& plan, QString& error) {
    const QFileInfo video(options.video);
    if (!video.isFile()) {
        error = QStringLiteral("The video %1 does not exist.").arg(Shown(options.video));
        return false;
    }
    plan.video = Absolute(options.video);
    plan.projectFolder = QFileInfo(plan.video).absolutePath();
    plan.packagePath = Absolute(WithPackageExtension(options.package));
    plan.packageFolder = QFileInfo(plan.packagePath).absolutePath();
    plan.framesFolder = options.framesDir.isEmpty()
                            ? plan.packageFolder + u'/' +
                                  QFileInfo(plan.packagePath).completeBaseName() +
                                  QStringLiteral("_frames")
                            : Absolute(options.framesDir);

    // The Extract command's refusal comes first, as on the window's road.
    if (FolderKey(plan.framesFolder) == FolderKey(plan.projectFolder)) {
        error = QStringLiteral(
            "You cannot Extract in the Project Folder!\r\n"
            "Please Choose Another Destination Folder");
        return false;
    }

    plan.particleName =
        options.name ? *options.name : ParticleNameFromFile(video.fileName()).value_or(QString());
    plan.framePrefix = FramePrefixOf(plan.particleName);
    // The Extract command's checks of the name the frame files are called by.
    if (const QString refusal = FramePrefixRefusal(plan.framePrefix); !refusal.isEmpty()) {
        error = refusal;
        return false;
    }
    plan.firstFrame = options.first ? QFileInfo(*options.first).fileName()
                                    : plan.framePrefix + QStringLiteral("_00001.jpg");
    if (options.thumb) {
        plan.thumbSource = options.thumb->isEmpty() ? QString() : Absolute(*options.thumb);
    } else if (!plan.firstFrame.isEmpty()) {
        plan.thumbSource = plan.framesFolder + u'/' + plan.firstFrame;
    }
    plan.type = options.type.value_or(QString());
    plan.category = options.category.value_or(QString());

    if (plan.particleName.isEmpty()) {
        error = QStringLiteral("Please Enter A Particle Name!");
        return false;
    }
    if (plan.thumbSource.isEmpty()) {
        error = QStringLiteral("Please Select A Thumbnail!");
        return false;
    }
    if (plan.type.isEmpty() || plan.type == kSelect) {
        error = QStringLiteral("You must select the Type of Project!");
        return false;
    }
    if (plan.category.isEmpty() || plan.category == kSelect) {
        error = QStringLiteral("You must select a Category!");
        return false;
    }
    const QString packageKey = FolderKey(plan.packageFolder);
    if (packageKey == FolderKey(plan.projectFolder) || packageKey == FolderKey(plan.framesFolder)) {
        error = QStringLiteral(
            "You cannot create the Installation File in the Project Folder!\r\n"
            "Please Choose Another Destination Folder");
        return false;
    }

    // Beyond the window's checks: what a dialog cannot produce but a command line can.
    if (!QFileInfo(plan.packageFolder).isDir()) {
        error = QStringLiteral("The folder %1 does not exist.").arg(Shown(plan.packageFolder));
        return false;
    }
    if (QFileInfo(plan.packagePath).isDir()) {
        error = QStringLiteral("%1 is a folder; please name the package file.")
                    .arg(Shown(plan.packagePath));
        return false;
    }
    const QFileInfo frames(plan.framesFolder);
    if (frames.exists() && !frames.isDir()) {
        error = QStringLiteral("The frames folder %1 is a file.").arg(Shown(plan.framesFolder));
        return false;
    }
    if (frames.isDir() && HoldsEntries(plan.framesFolder) && !options.force) {
        error = QStringLiteral(
                    "The frames folder %1 is not empty; everything in it would be "
                    "packed.\r\nUse --force to extract into it anyway.")
                    .arg(Shown(plan.framesFolder));
        return false;
    }
    if (options.thumb && !QFileInfo(plan.thumbSource).isFile()) {
        error =
            QStringLiteral("The thumbnail picture %1 does not exist.").arg(Shown(plan.thumbSource));
        return false;
    }
    if (const QString refusal =
            UnstorableNamesRefusal({plan.particleName, plan.firstFrame}, plan.framesFolder);
        !refusal.isEmpty()) {
        error = refusal;
        return false;
    }
    // Asked here already, so a refusal never comes after minutes of extraction.
    if (FileExists(plan.packagePath) && !options.force) {
        error = QStringLiteral("The package %1 already exists.\r\nUse --force to overwrite it.")
                    .arg(Shown(plan.packagePath));
        return false;
    }
    if (FindFfmpeg().isEmpty()) {
        error = FfmpegMissingText();
        return false;
    }
    return true;
}

namespace {

// With no window's ticks to keep, every core deflates. SPARKLOOM_DEFLATE_THREADS
// sets how many (0: each file is streamed in its turn, as the window packs).
int DeflateThreads() {
    bool set = false;
    const int forced = qEnvironmentVariableIntValue("SPARKLOOM_DEFLATE_THREADS", &set);
    if (set) {
        return std::clamp(forced, 0, 16);
    }
    return static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
}

}  // namespace

PackOutcome DriveZipper(Zipper& zipper, const QString& packagePath, int tickInterval,
                        const std::function<void(int64_t done, int64_t total)>& onProgress,
                        const StopCheck& stop) {
    PackOutcome outcome;
    zipper.SetTickInterval(tickInterval);
    if (tickInterval == 0) {
        zipper.SetDeflateThreads(DeflateThreads());
    }
    const int64_t total = zipper.BytesToZip();
    if (onProgress) {
        onProgress(0, total);
    }
    QEventLoop loop;
    bool failed = false;
    bool canceled = false;
    QObject::connect(&zipper, &Zipper::Progress, &loop, [&] {
        if (onProgress) {
            onProgress(zipper.BytesZipped(), total);
        }
    });
    QObject::connect(&zipper, &Zipper::Error, &loop, [&] {
        failed = true;
        loop.quit();
    });
    QObject::connect(&zipper, &Zipper::Complete, &loop, [&](bool wasCanceled) {
        canceled = wasCanceled;
        loop.quit();
    });
    if (platform::StopSignals* watcher = platform::StopSignals::Installed()) {
        QObject::connect(watcher, &platform::StopSignals::Arrived, &loop, [&] { zipper.Cancel(); });
    }

    if (zipper.Zip(packagePath)) {
        outcome.error = QStringLiteral("Err %1 in %2").arg(zipper.Result()).arg(zipper.Failed());
        return outcome;
    }
    if (stop && stop()) {
        zipper.Cancel();  // a signal that came before the loop could hear it
    }
    loop.exec();
    if (failed || canceled) {
        outcome.stopped = canceled;
        if (failed) {
            outcome.error =
                QStringLiteral("Err %1 in %2").arg(zipper.Result()).arg(zipper.Failed());
        }
        // A cut archive left behind would pass for a package in a script's eyes.
        QFile::remove(packagePath);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

PackOutcome PackFolder(const QString& folder, const QString& packagePath, int tickInterval,
                       bool allowLeftOut,
                       const std::function<void(int64_t done, int64_t total)>& onProgress) {
    PackOutcome outcome;
    Zipper zipper;
    WalkReport walk;
    if (!AddFolderToZip(zipper, folder + u'/', QString(), kMaxFiles, walk)) {
        zipper.ClearFiles();
        outcome.error = walk.statusMessage;
        return outcome;
    }
    if (walk.leftOut > 0 && !allowLeftOut) {
        zipper.ClearFiles();
        outcome.error = LeftOutRefusal(walk.leftOut);
        return outcome;
    }
    outcome = DriveZipper(zipper, packagePath, tickInterval, onProgress, {});
    outcome.leftOut = walk.leftOut;
    return outcome;
}

int Convert(const ConvertOptions& options, TerminalProgress& progress, QString* failure) {
    QElapsedTimer clock;
    clock.start();
    QStringList timings;
    auto lap = [&, last = qint64{0}](const QString& step) mutable {
        const qint64 now = clock.elapsed();
        timings << step + u' ' + Seconds(now - last);
        last = now;
    };
    auto fail = [&](const QString& text) {
        progress.Error(text);
        if (failure) {
            *failure = text;
        }
        return static_cast<int>(kExitFailure);
    };
    const StopCheck stopRequested = [] { return platform::StopSignals::Received() != 0; };

    Plan plan;
    QString error;
    if (!MakePlan(options, plan, error)) {
        return fail(error);
    }
    lap(QStringLiteral("checks"));

    // What a stop leaves: never a package, always the frames written so far.
    auto stopped = [&](const QString& during) {
        const int signalNumber = platform::StopSignals::Received();
        progress.Error(
            QStringLiteral("Stopped by %1 while %2; no package was written; the frames folder %3 "
                           "is kept.")
                .arg(platform::StopSignals::NameOf(signalNumber), during,
                     Shown(plan.framesFolder)));
        return platform::StopSignals::ExitStatusFor(signalNumber);
    };
    if (stopRequested()) {
        return stopped(QStringLiteral("checking"));
    }

    const bool framesFolderIsNew = !QFileInfo::exists(plan.framesFolder);
    if (!QDir().mkpath(plan.framesFolder)) {
        return fail(
            QStringLiteral("Could not create the frames folder %1.").arg(Shown(plan.framesFolder)));
    }

    // Counting only copies the stream, so it runs beside the extraction instead
    // of before it; the extraction's progress waits for its result.
    progress.Note(QStringLiteral("Counting frames…"));
    ExtractionRequest request;
    request.video = plan.video;
    request.folder = plan.framesFolder;
    request.framePrefix = plan.framePrefix;
    request.maxFiles = kMaxFiles;
    request.countBeside = true;
    request.options = options.frameOptions;
    ExtractionHooks hooks;
    hooks.stopRequested = stopRequested;
    bool estimated = false;
    hooks.onExpected = [&](int32_t expected, bool exact) {
        estimated = !exact;
        const QString label = expected <= 0 ? QStringLiteral("Extracting frames…")
                              : exact ? QStringLiteral("Extracting %1 frames…").arg(expected)
                                      : QStringLiteral("Extracting about %1 frames…").arg(expected);
        progress.StartBar(label, std::max(expected, 0), TerminalProgress::Unit::Count);
    };
    int32_t lastFrame = 0;
    hooks.onFrame = [&](int32_t frame) {
        lastFrame = frame;
        progress.UpdateBar(frame);
    };
    ExtractionJob job(request);
    const ExtractionOutcome extracted = job.Run(hooks);
    using End = ExtractionOutcome::End;
    if (extracted.end != End::Done) {
        if (framesFolderIsNew) {
            QDir().rmdir(plan.framesFolder);  // only when nothing was written into it
        }
        if (extracted.end == End::Stopped) {
            progress.EndBar();
            return stopped(QStringLiteral("extracting frames"));
        }
        return fail(extracted.error);
    }
    if (extracted.removedStale > 0) {
        progress.Warn(StaleFramesRemovedNotice(extracted.removedStale, plan.framesFolder));
    }
    if (estimated) {
        progress.SetTotal(extracted.written);  // the bar ends where the frames did
    }
    progress.UpdateBar(std::max(lastFrame, extracted.written));
    progress.EndBar();
    if (extracted.trimmed) {
        progress.Warn(options.frameOptions.ChangesFrames()
                          ? TooManyFramesAboutWarning(extracted.expected, extracted.limit)
                          : TooManyFramesWarning(extracted.counted, extracted.limit));
    }
    // The duration describes the frames that were written, whatever the clip's timing.
    const int32_t frameCount = extracted.written;
    const int32_t animationDuration = AnimationDurationFor(frameCount);
    lap(QStringLiteral("count+extract"));
    if (stopRequested()) {
        return stopped(QStringLiteral("extracting frames"));
    }

    if (!QFileInfo(plan.thumbSource).isFile()) {
        return fail(QStringLiteral("The thumbnail picture %1 does not exist.")
                        .arg(Shown(plan.thumbSource)));
    }
    if (!CopyThumbnail(plan.thumbSource, plan.framesFolder, error)) {
        return fail(error);
    }

    ProvideZipLibrary(plan.packageFolder);
    const TemplateWrite xml = WriteTemplateXml(
        plan.framesFolder, TemplateXmlValues{plan.type, plan.category, plan.particleName});
    if (!xml.ok) {
        return fail(xml.error);
    }
    const TemplateWrite clt =
        WriteTemplateClt(plan.framesFolder, plan.firstFrame, animationDuration);
    if (!clt.ok) {
        return fail(clt.error);
    }
    lap(QStringLiteral("thumbnail+templates"));
    if (stopRequested()) {
        return stopped(QStringLiteral("writing the templates"));
    }

    // The package may have appeared while the frames were extracted.
    if (FileExists(plan.packagePath)) {
        if (!options.force) {
            return fail(QStringLiteral("The package %1 already exists.\r\n"
                                       "Use --force to overwrite it.")
                            .arg(Shown(plan.packagePath)));
        }
        QFile existing(plan.packagePath);
        if (!existing.remove()) {
            return fail(QStringLiteral("Could not delete the existing package %1: %2")
                            .arg(Shown(plan.packagePath), existing.errorString()));
        }
    }

    Zipper zipper;
    PackageSource source;
    source.folder = plan.framesFolder;
    source.firstFrame = plan.firstFrame;
    source.framePrefix = plan.framePrefix;
    source.extractedFrames = frameCount;
    source.maxFiles = kMaxFiles;
    const QueueOutcome queued = QueuePackage(zipper, source, [&](int) { return options.force; });
    if (!queued.ok) {
        if (queued.declined) {
            return fail(LeftOutRefusal(queued.leftOut));
        }
        return fail(queued.statusMessage.isEmpty() ? queued.refusal : queued.statusMessage);
    }
    bool packing = false;
    const PackOutcome packed = DriveZipper(
        zipper, plan.packagePath, 0,
        [&](int64_t done, int64_t total) {
            if (!packing) {
                packing = true;
                progress.StartBar(QStringLiteral("Packing…"), total, TerminalProgress::Unit::Bytes);
            }
            progress.UpdateBar(done);
        },
        stopRequested);
    if (packed.stopped) {
        progress.EndBar();
        return stopped(QStringLiteral("packing"));
    }
    if (!packed.ok) {
        return fail(packed.error);
    }
    progress.EndBar();
    ReleaseZipLibrary(plan.packageFolder);
    lap(QStringLiteral("walk+pack"));

    if (queued.leftOut > 0) {
        progress.Warn(QStringLiteral("Warning: %1 entries were left out because a folder holds "
                                     "more than %2 entries.")
                          .arg(queued.leftOut)
                          .arg(kMaxFiles));
    }
    // A package that does not read back is no package, whatever the writing said.
    if (const PackageCheck readBack = ReadBackPackage(plan.packagePath, false);
        !readBack.IsWhole()) {
        QFile::remove(plan.packagePath);
        return fail(ReadBackFailureText(plan.packagePath, readBack));
    }
    lap(QStringLiteral("read-back"));
    progress.Note(QStringLiteral("Success"));
    if (options.timings) {
        timings << QStringLiteral("total %1").arg(Seconds(clock.elapsed()));
        progress.Warn(QStringLiteral("Timings: ") + timings.join(QStringLiteral(", ")));
    }
    return kExitSuccess;
}

QString BatchPackagePath(const QString& folder, const QString& video) {
    return Absolute(folder) + u'/' + QFileInfo(video).completeBaseName() + QStringLiteral(".dzp");
}

QString BatchRefusal(const QStringList& videos, const QString& folder) {
    QHash<QString, QString> clipOf;
    for (const QString& video : videos) {
        const QString package = BatchPackagePath(folder, video);
        if (const auto taken = clipOf.constFind(package); taken != clipOf.cend()) {
            return QStringLiteral("%1 and %2 would both make %3.")
                .arg(Shown(*taken), Shown(video), Shown(package));
        }
        clipOf.insert(package, video);
    }
    return QString();
}

int ConvertMany(const ConvertOptions& options, const QStringList& videos, const QString& folder,
                TerminalProgress& progress) {
    if (!QFileInfo(folder).isDir()) {
        progress.Error(QStringLiteral("The folder %1 does not exist.").arg(Shown(folder)));
        return kExitFailure;
    }
    QStringList summary;
    int failed = 0;
    for (qsizetype i = 0; i < videos.size(); ++i) {
        progress.Note(
            QStringLiteral("[%1/%2] %3").arg(i + 1).arg(videos.size()).arg(Shown(videos[i])));
        ConvertOptions clip = options;
        clip.video = videos[i];
        clip.package = BatchPackagePath(folder, videos[i]);
        QString failure;
        const int status = Convert(clip, progress, &failure);
        if (const int signalNumber = platform::StopSignals::Received(); signalNumber != 0) {
            return platform::StopSignals::ExitStatusFor(signalNumber);
        }
        if (status == kExitSuccess) {
            summary << QStringLiteral("  %1: %2").arg(Shown(videos[i]), Shown(clip.package));
        } else {
            ++failed;
            const QString reason = QString(failure).replace(
                QRegularExpression(QStringLiteral("[\\r\\n]+")), QStringLiteral(" "));
            summary << QStringLiteral("  %1: FAILED: %2").arg(Shown(videos[i]), reason);
        }
    }
    const QString heading =
        QStringLiteral("%1 of %2 clips converted:").arg(videos.size() - failed).arg(videos.size());
    if (failed > 0) {
        progress.Warn(heading + u'\n' + summary.join(u'\n'));
        return kExitFailure;
    }
    progress.Note(heading + u'\n' + summary.join(u'\n'));
    return kExitSuccess;
}

}  // namespace sparkloom::cli
