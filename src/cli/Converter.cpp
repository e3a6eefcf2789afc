#include "cli/Converter.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <system_error>
#include <thread>

#include "cli/TerminalProgress.h"
#include "common/Files.h"
#include "common/Text.h"
#include "extract/Extraction.h"
#include "extract/VideoNames.h"
#include "package/FolderWalk.h"
#include "package/PackageQueue.h"
#include "package/PendingPackage.h"
#include "package/SavePath.h"
#include "package/Templates.h"
#include "package/Thumbnail.h"
#include "platform/Disk.h"
#include "platform/Environment.h"
#include "platform/StopSignals.h"
#include "zip/ZipLibrary.h"
#include "zip/Zipper.h"

namespace sparkloom::cli {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// The window's limit on the entries taken from one folder.
constexpr int32_t kMaxFiles = 2000;

const std::string kSelect = "Select";

std::string Absolute(const std::string& path) {
    std::error_code error;
    // Joined by hand where it can be: the system's own absolute form turns
    // "out\CON" into "\\.\CON" and drops a trailing dot or blank, which the
    // refusals of such names must still see.
    const fs::path plain = PlainPathFromUtf8(path);
    fs::path absolute = plain.is_absolute() ? plain : fs::current_path(error) / plain;
    if (!absolute.is_absolute()) {
        absolute = fs::absolute(plain, error);  // "C:name", relative to another drive
    }
    absolute = absolute.lexically_normal();
    // "/a/b/" and "/a/b/.." end in an empty name; the folder is meant.
    if (!absolute.has_filename() && absolute.has_relative_path()) {
        absolute = absolute.parent_path();
    }
    return Utf8Of(absolute);
}

std::string FolderOf(const std::string& absolutePath) {
    return Utf8Of(PathFromUtf8(absolutePath).parent_path());
}

// The file name up to its last ".": "Fire.tar.dzp" gives "Fire.tar", ".dzp" gives "".
std::string CompleteBaseName(const std::string& path) {
    const std::string name = FileNameOf(path);
    return name.substr(0, name.rfind('.'));
}

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(PathFromUtf8(path), error);
}

// The window compares folder texts from its dialogs; here one folder can be
// typed many ways (relative, with "..", through a link), so compare where they lead.
std::string FolderKey(const std::string& folder) {
    std::error_code error;
    const fs::path canonical = fs::canonical(PlainPathFromUtf8(folder), error);
    return error ? Absolute(folder) : Utf8Of(canonical);
}

// What the walk would pack counts, not what the system hides (a drive root's own folders).
bool HoldsEntries(const std::string& folder) {
    std::error_code error;
    const std::vector<platform::FolderEntry> entries =
        platform::ListFolder(PathFromUtf8(folder), error);
    return std::any_of(entries.begin(), entries.end(),
                       [](const platform::FolderEntry& entry) { return !entry.hidden; });
}

// An environment variable's text; "" when it is not set.
std::string Environment(const char* name) {
    return platform::EnvironmentValue(name).value_or("");
}

std::string FfmpegMissingText() {
    const std::string forced = Environment("SPARKLOOM_FFMPEG");
    if (!forced.empty()) {
        return "ffmpeg was not found: SPARKLOOM_FFMPEG names " + Shown(forced) +
               ", which is not a program that can be run.";
    }
#ifdef _WIN32
    return kFfmpegExeNotFoundText;
#else
    return "ffmpeg was not found beside sparkloom-cli nor on the PATH. Please install ffmpeg.";
#endif
}

// "1.234s", with a point whatever the locale says.
std::string Seconds(int64_t milliseconds) {
    char text[32];
    const auto [end, error] =
        std::to_chars(text, text + sizeof text, static_cast<double>(milliseconds) / 1000.0,
                      std::chars_format::fixed, 3);
    return error == std::errc() ? std::string(text, end) + 's' : std::string("?s");
}

std::string LeftOutRefusal(int leftOut) {
    return std::to_string(leftOut) + " entries were left out because a folder holds more than " +
           std::to_string(kMaxFiles) +
           " entries.\r\nUse --force to build the package without them.";
}

int64_t MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

}  // namespace

bool IsKnownType(const std::string& type) {
    return type == "CUSTOM" || type == "PRESET";
}

bool MakePlan(const ConvertOptions& options, Plan& plan, std::string& error) {
    if (!IsFile(options.video)) {
        error = "The video " + Shown(options.video) + " does not exist.";
        return false;
    }
    plan.video = Absolute(options.video);
    plan.projectFolder = FolderOf(plan.video);
    plan.packagePath = Absolute(WithPackageExtension(options.package));
    plan.packageFolder = FolderOf(plan.packagePath);
    plan.framesFolder = options.framesDir.empty()
                            ? Utf8Of(PathFromUtf8(plan.packageFolder) /
                                     PathFromUtf8(CompleteBaseName(plan.packagePath) + "_frames"))
                            : Absolute(FolderOnEntry(options.framesDir));
    // Refused before anything is written, and alike on every system.
    for (const std::string& made : {plan.packagePath, plan.framesFolder}) {
        if (const std::string refusal = ReservedNameRefusal(made); !refusal.empty()) {
            error = refusal;
            return false;
        }
    }

    // The Extract command's refusal comes first, as on the window's road.
    if (FolderKey(plan.framesFolder) == FolderKey(plan.projectFolder)) {
        error =
            "You cannot Extract in the Project Folder!\r\n"
            "Please Choose Another Destination Folder";
        return false;
    }

    plan.particleName =
        options.name ? *options.name : ParticleNameFromFile(FileNameOf(plan.video)).value_or("");
    plan.framePrefix = FramePrefixOf(plan.particleName);
    // The Extract command's checks of the name the frame files are called by.
    if (const std::string refusal = FramePrefixRefusal(plan.framePrefix); !refusal.empty()) {
        error = refusal;
        return false;
    }
    plan.firstFrame = options.first ? FileNameOf(*options.first) : plan.framePrefix + "_00001.jpg";
    if (options.thumb) {
        plan.thumbSource = options.thumb->empty() ? std::string() : Absolute(*options.thumb);
    } else if (!plan.firstFrame.empty()) {
        plan.thumbSource = Utf8Of(PathFromUtf8(plan.framesFolder) / PathFromUtf8(plan.firstFrame));
    }
    plan.type = options.type.value_or("");
    plan.category = options.category.value_or("");

    if (plan.particleName.empty()) {
        error = "Please Enter A Particle Name!";
        return false;
    }
    if (plan.thumbSource.empty()) {
        error = "Please Select A Thumbnail!";
        return false;
    }
    if (plan.type.empty() || plan.type == kSelect) {
        error = "You must select the Type of Project!";
        return false;
    }
    if (plan.category.empty() || plan.category == kSelect) {
        error = "You must select a Category!";
        return false;
    }
    const std::string packageKey = FolderKey(plan.packageFolder);
    if (packageKey == FolderKey(plan.projectFolder) || packageKey == FolderKey(plan.framesFolder)) {
        error =
            "You cannot create the Installation File in the Project Folder!\r\n"
            "Please Choose Another Destination Folder";
        return false;
    }

    // Beyond the window's checks: what a dialog cannot produce but a command line can.
    if (!IsFolder(plan.packageFolder)) {
        error = "The folder " + Shown(plan.packageFolder) + " does not exist.";
        return false;
    }
    const bool packageIsFolder = IsFolder(plan.packagePath);
    if (packageIsFolder || NamesNoFile(options.package)) {
        error = NamesFolderText(packageIsFolder ? plan.packagePath : Absolute(options.package));
        return false;
    }
    const bool framesFolderExists = Exists(plan.framesFolder);
    if (framesFolderExists && !IsFolder(plan.framesFolder)) {
        error = "The frames folder " + Shown(plan.framesFolder) + " is a file.";
        return false;
    }
    if (framesFolderExists && HoldsEntries(plan.framesFolder) && !options.force) {
        error = "The frames folder " + Shown(plan.framesFolder) +
                " is not empty; everything in it would be packed.\r\nUse --force to extract "
                "into it anyway.";
        return false;
    }
    if (options.thumb && !IsFile(plan.thumbSource)) {
        error = "The thumbnail picture " + Shown(plan.thumbSource) + " does not exist.";
        return false;
    }
    if (const std::string refusal =
            UnstorableNamesRefusal({plan.particleName, plan.firstFrame}, plan.framesFolder);
        !refusal.empty()) {
        error = refusal;
        return false;
    }
    // Asked here already, so a refusal never comes after minutes of extraction.
    if (FileExists(plan.packagePath) && !options.force) {
        error = "The package " + Shown(plan.packagePath) +
                " already exists.\r\nUse --force to overwrite it.";
        return false;
    }
    if (FindFfmpeg().empty()) {
        error = FfmpegMissingText();
        return false;
    }
    return true;
}

namespace {

// With no window's ticks to keep, every core deflates. SPARKLOOM_DEFLATE_THREADS
// sets how many (0: each file is streamed in its turn, as the window packs).
int DeflateThreads() {
    if (const std::optional<int64_t> forced =
            ParseInteger(Trimmed(Environment("SPARKLOOM_DEFLATE_THREADS")))) {
        return static_cast<int>(std::clamp<int64_t>(*forced, 0, 16));
    }
    return static_cast<int>(std::max(2u, std::thread::hardware_concurrency()));
}

// The window's status text for a failed step, and the system's reason when one is known.
std::string ZipperFailure(const Zipper& zipper) {
    std::string text = "Err " + std::to_string(zipper.Result()) + " in " + zipper.Failed();
    if (const std::string reason = zipper.Reason(); !reason.empty()) {
        text += ": " + reason;
    }
    return text;
}

void RemoveFile(const std::string& path) {
    std::error_code ignored;
    fs::remove(PathFromUtf8(path), ignored);
}

}  // namespace

PackOutcome DriveZipper(Zipper& zipper, const std::string& packagePath, int tickInterval,
                        const std::function<void(int64_t done, int64_t total)>& onProgress,
                        const StopCheck& stop, const std::function<void()>& onOpened) {
    PackOutcome outcome;
    zipper.SetTickInterval(tickInterval);
    if (tickInterval == 0) {
        zipper.SetDeflateThreads(DeflateThreads());
    }
    const int64_t total = zipper.BytesToZip();
    if (onProgress) {
        onProgress(0, total);
    }
    bool failed = false;
    bool completed = false;
    bool canceled = false;
    zipper.Events.Progress = [&] {
        if (onProgress) {
            onProgress(zipper.BytesZipped(), total);
        }
    };
    zipper.Events.Error = [&] { failed = true; };
    zipper.Events.Complete = [&](bool wasCanceled) {
        completed = true;
        canceled = wasCanceled;
    };
    // The handlers hold this frame's locals; none may outlive it.
    struct Unhook {
        Zipper& zipper;
        ~Unhook() {
            zipper.Events.Progress = nullptr;
            zipper.Events.Error = nullptr;
            zipper.Events.Complete = nullptr;
        }
    } unhook{zipper};

    if (zipper.Zip(packagePath)) {
        outcome.error = ZipperFailure(zipper);
        return outcome;
    }
    if (onOpened) {
        onOpened();
    }
    const auto interval = std::chrono::milliseconds(std::max(zipper.TickInterval(), 0));
    bool cancelAsked = false;
    while (zipper.Zipping()) {
        if (!cancelAsked && ((stop && stop()) || platform::StopSignals::Received() != 0)) {
            zipper.Cancel();  // takes effect in the next tick
            cancelAsked = true;
        }
        const Clock::time_point start = Clock::now();
        zipper.Tick();
        const Clock::time_point end = Clock::now();
        ++outcome.ticks;
        outcome.tickWorkNs +=
            std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count();
        // As the window's timer: the next tick an interval after this one ended.
        if (interval.count() > 0 && zipper.Zipping()) {
            std::this_thread::sleep_until(end + interval);
        }
    }
    if (failed || canceled || !completed) {
        outcome.stopped = canceled && !failed;
        if (!outcome.stopped) {
            outcome.error = ZipperFailure(zipper);
        }
        // A cut archive left behind would pass for a package in a script's eyes.
        RemoveFile(packagePath);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

PackOutcome PackFolder(const std::string& folder, const std::string& packagePath, int tickInterval,
                       bool allowLeftOut,
                       const std::function<void(int64_t done, int64_t total)>& onProgress) {
    PackOutcome outcome;
    Zipper zipper;
    WalkReport walk;
    if (!AddFolderToZip(zipper, folder + '/', std::string(), kMaxFiles, walk)) {
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

int Convert(const ConvertOptions& options, TerminalProgress& progress, std::string* failure) {
    const Clock::time_point clock = Clock::now();
    std::vector<std::string> timings;
    auto lap = [&, last = int64_t{0}](const std::string& step) mutable {
        const int64_t now = MillisecondsSince(clock);
        timings.push_back(step + ' ' + Seconds(now - last));
        last = now;
    };
    auto fail = [&](const std::string& text) {
        progress.Error(text);
        if (failure) {
            *failure = text;
        }
        return static_cast<int>(kExitFailure);
    };
    const StopCheck stopRequested = [] { return platform::StopSignals::Received() != 0; };

    Plan plan;
    std::string error;
    if (!MakePlan(options, plan, error)) {
        return fail(error);
    }
    lap("checks");

    // What a stop leaves: never a package, always the frames written so far,
    // and an old package as it was.
    auto stopped = [&](const std::string& during) {
        const int signalNumber = platform::StopSignals::Received();
        const std::string oldKept =
            IsFile(plan.packagePath) ? "; " + OldPackageKeptText(plan.packagePath) : "";
        progress.Error("Stopped by " + platform::StopSignals::NameOf(signalNumber) + " while " +
                       during + "; no package was written" + oldKept + "; the frames folder " +
                       Shown(plan.framesFolder) + " is kept.");
        return platform::StopSignals::ExitStatusFor(signalNumber);
    };
    if (stopRequested()) {
        return stopped("checking");
    }

    const bool framesFolderIsNew = !Exists(plan.framesFolder);
    if (std::error_code made; !fs::create_directories(PathFromUtf8(plan.framesFolder), made) &&
                              (made || !IsFolder(plan.framesFolder))) {
        // An existing file in the way reports no error of its own.
        const std::string reason = made ? ReasonOf(made) : ReasonOfErrno(ENOTDIR);
        return fail("Could not create the frames folder " + Shown(plan.framesFolder) + ": " +
                    reason);
    }

    // Counting only copies the stream, so it runs beside the extraction instead
    // of before it; the extraction's progress waits for its result.
    progress.Note("Counting frames…");
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
        const std::string label = expected <= 0 ? std::string("Extracting frames…")
                                  : exact
                                      ? "Extracting " + std::to_string(expected) + " frames…"
                                      : "Extracting about " + std::to_string(expected) + " frames…";
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
            std::error_code ignored;  // only when nothing was written into it
            fs::remove(PathFromUtf8(plan.framesFolder), ignored);
        }
        if (extracted.end == End::Stopped) {
            progress.EndBar();
            return stopped("extracting frames");
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
        // A variable-rate clip gives more frames than its count says: then the
        // estimate is what was cut.
        progress.Warn(!options.frameOptions.ChangesFrames() && extracted.counted > extracted.limit
                          ? TooManyFramesWarning(extracted.counted, extracted.limit)
                          : TooManyFramesAboutWarning(extracted.expected, extracted.limit));
    }
    // The duration describes the frames that were written, whatever the clip's timing.
    const int32_t frameCount = extracted.written;
    const int32_t animationDuration = AnimationDurationFor(frameCount);
    lap("count+extract");
    if (stopRequested()) {
        return stopped("extracting frames");
    }

    if (!IsFile(plan.thumbSource)) {
        return fail("The thumbnail picture " + Shown(plan.thumbSource) + " does not exist.");
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
    lap("thumbnail+templates");
    if (stopRequested()) {
        return stopped("writing the templates");
    }

    // The package may have appeared while the frames were extracted. With
    // --force an old one stays until the new one has read back whole.
    if (FileExists(plan.packagePath) && !options.force) {
        return fail("The package " + Shown(plan.packagePath) +
                    " already exists.\r\nUse --force to overwrite it.");
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
        return fail(queued.statusMessage.empty() ? queued.refusal : queued.statusMessage);
    }
    PendingPackage pending(plan.packagePath);
    bool packing = false;
    const PackOutcome packed = DriveZipper(
        zipper, pending.Path(), 0,
        [&](int64_t done, int64_t total) {
            if (!packing) {
                packing = true;
                progress.StartBar("Packing…", total, TerminalProgress::Unit::Bytes);
            }
            progress.UpdateBar(done);
        },
        stopRequested, [&] { pending.Writing(); });
    if (packed.stopped) {
        pending.Discard();
        progress.EndBar();
        return stopped("packing");
    }
    if (!packed.ok) {
        return fail(packed.error);
    }
    progress.EndBar();
    ReleaseZipLibrary(plan.packageFolder);
    lap("walk+pack");

    if (queued.leftOut > 0) {
        progress.Warn("Warning: " + std::to_string(queued.leftOut) +
                      " entries were left out because a folder holds more than " +
                      std::to_string(kMaxFiles) + " entries.");
    }
    // A package that does not read back is no package, whatever the writing said.
    if (const std::string failed = pending.Finish(false).failure; !failed.empty()) {
        return fail(failed);
    }
    lap("read-back");
    progress.Note("Success");
    if (options.timings) {
        timings.push_back("total " + Seconds(MillisecondsSince(clock)));
        progress.Warn("Timings: " + Join(timings, ", "));
    }
    return kExitSuccess;
}

std::string BatchPackagePath(const std::string& folder, const std::string& video) {
    return Absolute(folder) + '/' + CompleteBaseName(video) + ".dzp";
}

std::string BatchRefusal(const std::vector<std::string>& videos, const std::string& folder) {
    std::map<std::string, std::string> clipOf;
    for (const std::string& video : videos) {
        const std::string package = BatchPackagePath(folder, video);
        if (const auto [taken, isNew] = clipOf.emplace(package, video); !isNew) {
            return Shown(taken->second) + " and " + Shown(video) + " would both make " +
                   Shown(package) + ".";
        }
    }
    return std::string();
}

namespace {

// A failure's text on one line: every run of line ends becomes a blank.
std::string OnOneLine(const std::string& text) {
    std::string line;
    bool inBreak = false;
    for (const char c : text) {
        const bool isBreak = c == '\r' || c == '\n';
        if (!isBreak) {
            line += c;
        } else if (!inBreak) {
            line += ' ';
        }
        inBreak = isBreak;
    }
    return line;
}

}  // namespace

int ConvertMany(const ConvertOptions& options, const std::vector<std::string>& videos,
                const std::string& folder, TerminalProgress& progress) {
    if (!IsFolder(folder)) {
        progress.Error("The folder " + Shown(folder) + " does not exist.");
        return kExitFailure;
    }
    const std::string count = std::to_string(videos.size());
    std::vector<std::string> summary;
    std::size_t failed = 0;
    for (std::size_t i = 0; i < videos.size(); ++i) {
        progress.Note("[" + std::to_string(i + 1) + "/" + count + "] " + Shown(videos[i]));
        ConvertOptions clip = options;
        clip.video = videos[i];
        clip.package = BatchPackagePath(folder, videos[i]);
        std::string failure;
        const int status = Convert(clip, progress, &failure);
        if (const int signalNumber = platform::StopSignals::Received(); signalNumber != 0) {
            return platform::StopSignals::ExitStatusFor(signalNumber);
        }
        if (status == kExitSuccess) {
            summary.push_back("  " + Shown(videos[i]) + ": " + Shown(clip.package));
        } else {
            ++failed;
            summary.push_back("  " + Shown(videos[i]) + ": FAILED: " + OnOneLine(failure));
        }
    }
    const std::string heading =
        std::to_string(videos.size() - failed) + " of " + count + " clips converted:";
    if (failed > 0) {
        progress.Warn(heading + '\n' + Join(summary, "\n"));
        return kExitFailure;
    }
    progress.Note(heading + '\n' + Join(summary, "\n"));
    return kExitSuccess;
}

}  // namespace sparkloom::cli
