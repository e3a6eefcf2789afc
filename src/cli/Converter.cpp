#include "cli/Converter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <future>

#include "app/Files.h"
#include "cli/TerminalProgress.h"
#include "extract/Extraction.h"
#include "extract/VideoNames.h"
#include "package/FolderWalk.h"
#include "package/PackageCheck.h"
#include "package/SavePath.h"
#include "package/Templates.h"
#include "package/Thumbnail.h"
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

QString Shown(const QString& path) {
    return QDir::toNativeSeparators(path);
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

// Names that end up in entry names must survive the host editor's 8-bit code page.
QString Seconds(qint64 milliseconds) {
    return QString::number(static_cast<double>(milliseconds) / 1000.0, 'f', 3) + u's';
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

PackOutcome PackFolder(const QString& folder, const QString& packagePath, int tickInterval,
                       bool allowLeftOut,
                       const std::function<void(int64_t done, int64_t total)>& onProgress) {
    PackOutcome outcome;
    Zipper zipper;
    zipper.SetTickInterval(tickInterval);

    WalkReport walk;
    if (!AddFolderToZip(zipper, folder + u'/', QString(), kMaxFiles, walk)) {
        zipper.ClearFiles();
        outcome.error = walk.statusMessage;
        return outcome;
    }
    outcome.leftOut = walk.leftOut;
    if (walk.leftOut > 0 && !allowLeftOut) {
        zipper.ClearFiles();
        outcome.error = QStringLiteral(
                            "%1 entries were left out because a folder holds more "
                            "than %2 entries.\r\nUse --force to build the package "
                            "without them.")
                            .arg(walk.leftOut)
                            .arg(kMaxFiles);
        return outcome;
    }

    const int64_t total = zipper.BytesToZip();
    if (onProgress) {
        onProgress(0, total);
    }
    QEventLoop loop;
    bool failed = false;
    QObject::connect(&zipper, &Zipper::Progress, &loop, [&] {
        if (onProgress) {
            onProgress(zipper.BytesZipped(), total);
        }
    });
    QObject::connect(&zipper, &Zipper::Error, &loop, [&] {
        failed = true;
        loop.quit();
    });
    QObject::connect(&zipper, &Zipper::Complete, &loop, [&] { loop.quit(); });

    if (zipper.Zip(packagePath)) {
        outcome.error = QStringLiteral("Err %1 in %2").arg(zipper.Result()).arg(zipper.Failed());
        return outcome;
    }
    loop.exec();
    if (failed) {
        outcome.error = QStringLiteral("Err %1 in %2").arg(zipper.Result()).arg(zipper.Failed());
        // A cut archive left behind would pass for a package in a script's eyes.
        QFile::remove(packagePath);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

int Convert(const ConvertOptions& options, TerminalProgress& progress) {
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
        return static_cast<int>(kExitFailure);
    };

    Plan plan;
    QString error;
    if (!MakePlan(options, plan, error)) {
        return fail(error);
    }
    lap(QStringLiteral("checks"));

    const bool framesFolderIsNew = !QFileInfo::exists(plan.framesFolder);
    if (!QDir().mkpath(plan.framesFolder)) {
        return fail(
            QStringLiteral("Could not create the frames folder %1.").arg(Shown(plan.framesFolder)));
    }

    // Counting only copies the stream, so it runs beside the extraction instead
    // of before it; the extraction's progress waits for its result.
    progress.Note(QStringLiteral("Counting frames…"));
    qint64 countMilliseconds = 0;
    std::future<CountOutcome> counting =
        std::async(std::launch::async, [video = plan.video, &countMilliseconds] {
            QElapsedTimer countClock;
            countClock.start();
            CountOutcome outcome = CountFrames(video);
            countMilliseconds = countClock.elapsed();
            return outcome;
        });
    std::optional<CountOutcome> counted;
    auto takeCount = [&](bool wait) {
        if (!counted &&
            (wait || counting.wait_for(std::chrono::seconds(0)) == std::future_status::ready)) {
            counted = counting.get();
            if (counted->ok) {
                progress.StartBar(QStringLiteral("Extracting %1 frames…").arg(counted->frames),
                                  counted->frames, TerminalProgress::Unit::Count);
            }
        }
        return counted.has_value();
    };
    const ExtractOutcome extracted =
        ExtractFrames(plan.video, plan.framesFolder, plan.framePrefix, [&](int32_t frame) {
            if (takeCount(false) && counted->ok) {
                progress.UpdateBar(frame);
            }
        });
    takeCount(true);
    if (!counted->ok || !extracted.ok) {
        if (framesFolderIsNew) {
            QDir().rmdir(plan.framesFolder);  // only when nothing was written into it
        }
        return fail(!counted->ok ? counted->error : extracted.error);
    }
    progress.UpdateBar(extracted.lastFrame);
    progress.EndBar();
    const int32_t frameCount = counted->frames;
    const int32_t animationDuration = AnimationDurationFor(frameCount);
    lap(QStringLiteral("count+extract"));
    timings << QStringLiteral("(count alone %1)").arg(Seconds(countMilliseconds));

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

    bool packing = false;
    const PackOutcome packed = PackFolder(
        plan.framesFolder, plan.packagePath, 0, options.force, [&](int64_t done, int64_t total) {
            if (!packing) {
                packing = true;
                progress.StartBar(QStringLiteral("Packing…"), total, TerminalProgress::Unit::Bytes);
            }
            progress.UpdateBar(done);
        });
    if (!packed.ok) {
        return fail(packed.error);
    }
    progress.EndBar();
    ReleaseZipLibrary(plan.packageFolder);
    lap(QStringLiteral("walk+pack"));

    if (packed.leftOut > 0) {
        progress.Warn(QStringLiteral("Warning: %1 entries were left out because a folder holds "
                                     "more than %2 entries.")
                          .arg(packed.leftOut)
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

}  // namespace sparkloom::cli
