// sparkloom-cli: the window's conversion from video to particle package,
// without the window, for scripts and batches of clips.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstdio>

#include "cli/CheckCommand.h"
#include "cli/Converter.h"
#include "cli/TerminalProgress.h"
#include "platform/Allocator.h"
#include "platform/Locale.h"
#include "platform/StopSignals.h"

using namespace sparkloom::cli;

namespace {

int UsageError(const QString& text) {
    const QByteArray bytes =
        (QStringLiteral("sparkloom-cli: ") + text +
         QStringLiteral("\nTry 'sparkloom-cli --help' for more information.\n"))
            .toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    return kExitUsage;
}

}  // namespace

int main(int argc, char* argv[]) {
    sparkloom::platform::KeepFreedMemoryForReuse();
    sparkloom::platform::PreferUtf8Locale();
    QCoreApplication app(argc, argv);
    // Before any child starts: a stop signal must reach the converter, which stops ffmpeg.
    sparkloom::platform::StopSignals::Install();
    QCoreApplication::setApplicationName(QStringLiteral("sparkloom-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SPARKLOOM_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Turns a video clip into a particle package (.dzp) for the host editor: counts and\n"
        "extracts the frames with ffmpeg, copies the thumbnail, writes the templates and\n"
        "packs the frames folder, the same steps as the Sparkloom window. Every package is\n"
        "read back before it is reported as made.\n"
        "With --check, reads packages and reports per package \"OK\" or its faults.\n"
        "Exit status: 0 success (every package whole), 1 failure (a fault), 2 usage error."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addPositionalArgument(
        QStringLiteral("VIDEO"),
        QStringLiteral("The video clip; several clips make one package each in the folder -o "
                       "names (with --check: the packages)."),
        QStringLiteral("VIDEO..."));

    const QCommandLineOption output(
        {QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("The package to write (required); \".dzp\" is added when PACKAGE holds no "
                       "\".\". It must not lie in the video's folder. With several clips: the "
                       "folder for their packages."),
        QStringLiteral("PACKAGE"));
    const QCommandLineOption name(
        QStringLiteral("name"),
        QStringLiteral("Particle name (default: the video's file name without its last four "
                       "characters). Blanks become \"_\" in the frame names."),
        QStringLiteral("NAME"));
    const QCommandLineOption type(QStringLiteral("type"),
                                  QStringLiteral("Project type: CUSTOM or PRESET (required)."),
                                  QStringLiteral("TYPE"));
    const QCommandLineOption category(
        QStringLiteral("category"),
        QStringLiteral("Category in the host's template manager, e.g. General (required)."),
        QStringLiteral("NAME"));
    const QCommandLineOption thumb(
        QStringLiteral("thumb"),
        QStringLiteral("Picture copied as Thumb.jpg and Thumb.png (default: the first frame)."),
        QStringLiteral("PICTURE"));
    const QCommandLineOption first(
        QStringLiteral("first"),
        QStringLiteral("File name of the animation's first image in the frames folder "
                       "(default: NAME_00001.jpg)."),
        QStringLiteral("FRAME"));
    const QCommandLineOption framesDir(
        QStringLiteral("frames-dir"),
        QStringLiteral("Folder for the frames (default: PACKAGE's base name + \"_frames\" "
                       "beside the package). It must be new or empty unless --force."),
        QStringLiteral("DIR"));
    const QCommandLineOption force(
        QStringLiteral("force"),
        QStringLiteral("Overwrite an existing package, extract into a folder that holds files, "
                       "and pack even when entries are left out (more than 2000 in a folder)."));
    const QCommandLineOption fps(
        QStringLiteral("fps"),
        QStringLiteral("Resample to N frames a second before writing; 30 plays the particle at "
                       "the clip's own speed (default: every frame)."),
        QStringLiteral("N"));
    const QCommandLineOption quality(
        QStringLiteral("quality"),
        QStringLiteral("JPEG quality from 2 (best, largest) to 31 (default: ffmpeg's own)."),
        QStringLiteral("Q"));
    const QCommandLineOption start(
        QStringLiteral("start"),
        QStringLiteral("Take the clip from TIME on: seconds or [HH:]MM:SS[.fff]; the seek is "
                       "frame-accurate."),
        QStringLiteral("TIME"));
    const QCommandLineOption duration(
        QStringLiteral("duration"),
        QStringLiteral("Take only TIME of the clip (seconds or [HH:]MM:SS[.fff])."),
        QStringLiteral("TIME"));
    const QCommandLineOption width(
        QStringLiteral("width"),
        QStringLiteral("Scale the frames to W pixels wide (16 to 8192), keeping the aspect ratio."),
        QStringLiteral("W"));
    const QCommandLineOption quiet(QStringLiteral("quiet"),
                                   QStringLiteral("Print only errors and warnings."));
    const QCommandLineOption timings(QStringLiteral("timings"),
                                     QStringLiteral("Print how long each step took."));
    const QCommandLineOption check(
        QStringLiteral("check"),
        QStringLiteral("Check the packages given instead of converting: the archive reads back "
                       "(CRC and size of every entry), names the host can carry, both "
                       "templates, both thumbnails, the first frame, frames without gaps and "
                       "the duration. Prints \"OK\" or each fault; extra files are notes. "
                       "Usage: --check PACKAGE.dzp [...]"));
    parser.addOptions({output, name, type, category, thumb, first, framesDir, force, fps, quality,
                       start, duration, width, quiet, timings, check});

    if (!parser.parse(QCoreApplication::arguments())) {
        return UsageError(parser.errorText());
    }
    if (parser.isSet(QStringLiteral("help"))) {
        parser.showHelp(kExitSuccess);
    }
    if (parser.isSet(QStringLiteral("version"))) {
        parser.showVersion();
    }

    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(check)) {
        for (const QCommandLineOption* conversion :
             {&output, &name, &type, &category, &thumb, &first, &framesDir, &force, &timings, &fps,
              &quality, &start, &duration, &width}) {
            if (parser.isSet(*conversion)) {
                return UsageError(QStringLiteral("--%1 converts a video; it cannot be used "
                                                 "with --check.")
                                      .arg(conversion->names().constLast()));
            }
        }
        if (positional.isEmpty()) {
            return UsageError(QStringLiteral("no PACKAGE given to --check."));
        }
        if (positional.contains(QString())) {
            return UsageError(QStringLiteral("a PACKAGE given to --check is empty."));
        }
        return CheckPackages(positional, parser.isSet(quiet));
    }
    if (positional.isEmpty()) {
        return UsageError(QStringLiteral("no VIDEO given."));
    }
    if (positional.contains(QString())) {
        return UsageError(QStringLiteral("VIDEO is empty."));
    }
    const bool several = positional.size() > 1;
    if (!parser.isSet(output) || parser.value(output).isEmpty()) {
        return UsageError(several ? QStringLiteral("no folder given: -o OUTDIR is required with "
                                                   "several clips.")
                                  : QStringLiteral("no package given: -o PACKAGE is required."));
    }
    if (several) {
        for (const QCommandLineOption* own : {&name, &thumb, &first, &framesDir}) {
            if (parser.isSet(*own)) {
                return UsageError(QStringLiteral("--%1 is for one clip; with several, each takes "
                                                 "its own from its file name.")
                                      .arg(own->names().constLast()));
            }
        }
        if (const QString refusal = BatchRefusal(positional, parser.value(output));
            !refusal.isEmpty()) {
            return UsageError(refusal);
        }
    }
    // An empty or "Select" type is left to the window's own check and its text.
    if (parser.isSet(type)) {
        const QString value = parser.value(type);
        if (!value.isEmpty() && value != QStringLiteral("Select") && !IsKnownType(value)) {
            return UsageError(
                QStringLiteral("unknown --type \"%1\"; CUSTOM or PRESET.").arg(value));
        }
    }

    ConvertOptions options;
    options.video = positional.first();
    options.package = parser.value(output);
    auto optional = [&parser](const QCommandLineOption& option) -> std::optional<QString> {
        if (!parser.isSet(option)) {
            return std::nullopt;
        }
        return parser.value(option);
    };
    options.name = optional(name);
    options.type = optional(type);
    options.category = optional(category);
    options.thumb = optional(thumb);
    options.first = optional(first);
    options.framesDir = parser.value(framesDir);
    options.force = parser.isSet(force);
    options.timings = parser.isSet(timings);

    sparkloom::FrameOptions& frames = options.frameOptions;
    if (parser.isSet(fps)) {
        bool isNumber = false;
        frames.fps = parser.value(fps).toDouble(&isNumber);
        if (!isNumber) {
            return UsageError(
                QStringLiteral("--fps needs a number, not \"%1\".").arg(parser.value(fps)));
        }
    }
    for (auto [option, value] :
         {std::pair{&quality, &frames.quality}, std::pair{&width, &frames.width}}) {
        if (parser.isSet(*option)) {
            bool isNumber = false;
            *value = parser.value(*option).toInt(&isNumber);
            if (!isNumber) {
                return UsageError(QStringLiteral("--%1 needs a whole number, not \"%2\".")
                                      .arg(option->names().constFirst(), parser.value(*option)));
            }
        }
    }
    frames.start = optional(start);
    frames.duration = optional(duration);
    if (const QString refusal = sparkloom::FrameOptionsRefusal(frames); !refusal.isEmpty()) {
        return UsageError(refusal);
    }

    TerminalProgress progress(TerminalProgress::ModeFor(parser.isSet(quiet)));
    if (several) {
        return ConvertMany(options, positional, parser.value(output), progress);
    }
    return Convert(options, progress);
}
