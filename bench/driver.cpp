// sparkloom-bench: runs one step of the converter's road on its own, with the
// same core calls, so bench/run.sh can time it beside the tool it replaces.
//
//   sparkloom-bench count VIDEO
//   sparkloom-bench extract VIDEO FOLDER PREFIX
//   sparkloom-bench pack [--tick MS] FOLDER PACKAGE
//   sparkloom-bench readback PACKAGE
//   sparkloom-bench estimate VIDEO WIDTH START
//
// pack prints "ticks=N tick_work_ms=W walk_ms=K pack_ms=P maxrss_kib=R": the
// builder's ticks, the time spent inside them, the walk before the first tick,
// and the packing from the end of the walk to the end of the run.
// readback prints "readback_ms=T entries=N faults=F": the check every build runs
// on its package before "Success" (a frames folder without templates has faults,
// which does not change what is read).
// estimate prints "facts_ms=F estimate_ms=E start_ms=S ffmpeg_cpu_ms=C frames=N bytes=B":
// the frames dialog's facts read, then, once its first estimate is whole, the time
// from typing START to the whole estimate line (samples sought and decoded anew),
// then from typing WIDTH (the decoded samples encoded again), polled as a window
// would, and the CPU time of all ffmpeg and ffprobe runs.
//
//   sparkloom-bench preview FOLDER PREFIX SECONDS   (built with the Qt window)
//
// preview opens the Preview dialog's workflow on the frames with Qt's decoder,
// as the dialog does, and prints "first_ms=F strip_ms=S due=D on_time=O
// rss_growth_mib=M": the time from opening to the first picture shown and to
// the whole visible strip, the frames due and shown in their time while it
// plays for SECONDS, and how much the resident memory grew.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/Converter.h"
#include "common/Text.h"
#include "extract/Extraction.h"
#include "package/PackageCheck.h"
#include "platform/Allocator.h"
#include "workflow/FrameOptionsModel.h"

#ifdef SPARKLOOM_BENCH_PREVIEW
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "app/PreviewDialog.h"
#include "workflow/PreviewModel.h"
#endif

namespace {

using Clock = std::chrono::steady_clock;

long MaxRssKib() {
    rusage usage{};
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

int Usage() {
    std::fputs(
        "usage: sparkloom-bench count VIDEO\n"
        "       sparkloom-bench extract VIDEO FOLDER PREFIX\n"
        "       sparkloom-bench pack [--tick MS] FOLDER PACKAGE\n"
        "       sparkloom-bench readback PACKAGE\n"
        "       sparkloom-bench estimate VIDEO WIDTH START\n"
        "       sparkloom-bench preview FOLDER PREFIX SECONDS\n",
        stderr);
    return 2;
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
}

// The dialog without a window: keeps its texts and when its poll is due.
class HeadlessFrames : public sparkloom::FrameOptionsView {
public:
    std::string texts[10];
    std::optional<Clock::time_point> poll;
    std::string Text(sparkloom::FramesControl control) const override {
        return texts[static_cast<int>(control)];
    }
    void SetText(sparkloom::FramesControl control, const std::string& text) override {
        texts[static_cast<int>(control)] = text;
    }
    void SetItems(sparkloom::FramesControl, const std::vector<std::string>&) override {}
    void SetEnabled(sparkloom::FramesControl, bool) override {}
    void SetRed(sparkloom::FramesControl, bool) override {}
    void StartPolls(int milliseconds) override {
        poll = Clock::now() + std::chrono::milliseconds(milliseconds);
    }
    void ShowWarning(const std::string&) override {}
    void EndDialog() override {}
};

// The time from typing text into control to the whole estimate line.
double TimeToWholeLine(sparkloom::FrameOptionsModel& dialog, HeadlessFrames& view,
                       sparkloom::FramesControl control, const std::string& text) {
    const Clock::time_point start = Clock::now();
    if (!text.empty()) {
        view.texts[static_cast<int>(control)] = text;
        dialog.Changed(control);
    }
    // A window's timer comes back within a few milliseconds of the time it was asked for.
    while (!dialog.Estimate().bytes && MillisecondsSince(start) < 60000) {
        if (view.poll && Clock::now() >= *view.poll) {
            view.poll.reset();
            dialog.Poll();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return dialog.Estimate().bytes ? MillisecondsSince(start) : -1;
}

int Estimate(const std::string& video, const std::string& width, const std::string& start) {
    Clock::time_point begin = Clock::now();
    const sparkloom::ClipFacts facts = sparkloom::ReadClipFacts(video, {}, false);
    const double factsMs = MillisecondsSince(begin);
    if (!facts.ok) {
        return Fail(facts.error);
    }
    sparkloom::FrameOptionsModel dialog(video, facts, {}, {}, sparkloom::FramesPerPackage(2000));
    HeadlessFrames view;
    dialog.Open(view);
    // The dialog opens on the whole clip; the user then changes the part, then the width.
    if (TimeToWholeLine(dialog, view, sparkloom::FramesControl::cboWidth, "") < 0) {
        return Fail("no estimate within 60 s: " + dialog.Estimate().Line());
    }
    const double startMs = TimeToWholeLine(dialog, view, sparkloom::FramesControl::txtStart, start);
    const double widthMs = TimeToWholeLine(dialog, view, sparkloom::FramesControl::cboWidth, width);
    if (startMs < 0 || widthMs < 0) {
        return Fail("no estimate within 60 s: " + dialog.Estimate().Line());
    }
    // ffmpeg's CPU time: on a shared machine wall time says more of the load than of us.
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    const double cpuMs = (children.ru_utime.tv_sec + children.ru_stime.tv_sec) * 1000.0 +
                         (children.ru_utime.tv_usec + children.ru_stime.tv_usec) / 1000.0;
    std::printf(
        "facts_ms=%.1f estimate_ms=%.1f start_ms=%.1f ffmpeg_cpu_ms=%.1f frames=%d "
        "bytes=%lld\n",
        factsMs, widthMs, startMs, cpuMs, dialog.Estimate().frames,
        static_cast<long long>(*dialog.Estimate().bytes));
    return 0;
}

#ifdef SPARKLOOM_BENCH_PREVIEW
long RssKib() {
    long pages = 0, resident = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(statm);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The dialog's view without widgets: the picture area of its layout at 96 dpi,
// its timer, and a record of what was shown when.
class PreviewBench : public sparkloom::PreviewView {
public:
    PreviewBench() {
        mTick.setSingleShot(true);
        mTick.setTimerType(Qt::PreciseTimer);
        clock.start();
    }
    QElapsedTimer clock;
    QTimer mTick;
    double firstMs = -1, stripMs = -1;
    long rssMostKib = 0;

    int64_t Milliseconds() const override { return clock.elapsed(); }
    sparkloom::PixelSize PictureArea() const override {
        const auto& box =
            sparkloom::kPreviewLayout[static_cast<size_t>(sparkloom::PreviewControl::picFrame)];
        return {box.width / sparkloom::kTwipsPerPixelAt96Dpi,
                box.height / sparkloom::kTwipsPerPixelAt96Dpi};
    }
    sparkloom::PixelSize StripCellArea() const override {
        const auto& strip =
            sparkloom::kPreviewLayout[static_cast<size_t>(sparkloom::PreviewControl::picStrip)];
        return {strip.width / sparkloom::kTwipsPerPixelAt96Dpi / sparkloom::kPreviewStripCells - 8,
                strip.height / sparkloom::kTwipsPerPixelAt96Dpi - 8};
    }
    void ShowPicture(std::shared_ptr<const sparkloom::DecodedPicture> picture) override {
        if (picture && firstMs < 0) {
            firstMs = clock.nsecsElapsed() / 1e6;
        }
        rssMostKib = std::max(rssMostKib, RssKib());
    }
    void SetStrip(const std::vector<sparkloom::StripCell>& cells) override {
        const bool whole = std::all_of(cells.begin(), cells.end(), [](const auto& cell) {
            return cell.frame < 0 || cell.picture != nullptr;
        });
        if (whole && stripMs < 0) {
            stripMs = clock.nsecsElapsed() / 1e6;
        }
    }
    void SetSlider(int32_t, int32_t) override {}
    void SetText(sparkloom::PreviewControl, const std::string&) override {}
    void SetEnabled(sparkloom::PreviewControl, bool) override {}
    void StartTicks(int milliseconds) override { mTick.start(milliseconds); }
    void ShowWarning(const std::string& text) override {
        std::fprintf(stderr, "%s\n", text.c_str());
    }
    void EndDialog() override {}
};

int Preview(int argc, char* argv[], const std::string& folder, const std::string& prefix,
            double seconds) {
    QCoreApplication app(argc, argv);
    const sparkloom::FrameFiles found = sparkloom::FindFrameFiles(folder, prefix);
    if (found.names.empty()) {
        return Fail("no frames " + prefix + "_NNNNN.jpg in " + folder);
    }
    const long rssBeforeKib = RssKib();
    PreviewBench view;
    sparkloom::PreviewModel model(folder, found.names, "", {});
    QObject::connect(&view.mTick, &QTimer::timeout, [&model] { model.Tick(); });
    sparkloom::QtFrameDecoder decoder(
        [&model](sparkloom::DecodeResult result) { model.Decoded(std::move(result)); });
    view.clock.restart();
    model.Open(view, decoder);
    const auto runUntil = [&app](const std::function<bool()>& done, int64_t limitMs) {
        QElapsedTimer waited;
        waited.start();
        while (!done() && waited.elapsed() < limitMs) {
            app.processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
    };
    runUntil([&view] { return view.firstMs >= 0 && view.stripMs >= 0; }, 10000);
    model.Click(sparkloom::PreviewControl::cmdPlay);
    QElapsedTimer played;
    played.start();
    runUntil([&] { return played.elapsed() >= static_cast<int64_t>(seconds * 1000); },
             static_cast<int64_t>(seconds * 1000) + 1000);
    const sparkloom::PlaybackCounts counts = model.Counts();
    model.Click(sparkloom::PreviewControl::cmdClose);
    std::printf("first_ms=%.1f strip_ms=%.1f due=%lld on_time=%lld rss_growth_mib=%.1f\n",
                view.firstMs, view.stripMs, static_cast<long long>(counts.due),
                static_cast<long long>(counts.onTime),
                (std::max(view.rssMostKib, RssKib()) - rssBeforeKib) / 1024.0);
    return 0;
}
#endif

}  // namespace

int main(int argc, char* argv[]) {
    // As the converter does, so its packing is measured as it runs there.
    sparkloom::platform::KeepFreedMemoryForReuse();
    // Arguments are UTF-8 text here, as in the converter.
    std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (args.empty()) {
        return Usage();
    }
    const std::string mode = args.front();
    args.erase(args.begin());

    if (mode == "count" && args.size() == 1) {
        const sparkloom::CountOutcome counted = sparkloom::CountFrames(args[0]);
        if (!counted.ok) {
            return Fail(counted.error);
        }
        std::printf("frames=%d\n", counted.frames);
        return 0;
    }
    if (mode == "extract" && args.size() == 3) {
        sparkloom::ExtractionJob job({args[0], args[1], args[2]});
        const sparkloom::ExtractionOutcome extracted = job.Run({});
        if (extracted.end != sparkloom::ExtractionOutcome::End::Done) {
            return Fail(extracted.error);
        }
        std::printf("last_frame=%d\n", extracted.written);
        return 0;
    }
#ifdef SPARKLOOM_BENCH_PREVIEW
    if (mode == "preview" && args.size() == 3) {
        const std::optional<int64_t> seconds = sparkloom::ParseInteger(args[2]);
        if (!seconds || *seconds <= 0 || *seconds > 600) {
            return Usage();
        }
        return Preview(argc, argv, args[0], args[1], static_cast<double>(*seconds));
    }
#endif
    if (mode == "estimate" && args.size() == 3) {
        return Estimate(args[0], args[1], args[2]);
    }
    if (mode == "readback" && args.size() == 1) {
        const Clock::time_point start = Clock::now();
        const sparkloom::PackageCheck check = sparkloom::ReadBackPackage(args[0], false);
        std::printf("readback_ms=%.3f entries=%d faults=%lld\n", MillisecondsSince(start),
                    check.entries, static_cast<long long>(check.faults.size()));
        return 0;
    }
    if (mode == "pack") {
        int tick = 0;
        if (args.size() >= 2 && args[0] == "--tick") {
            const std::optional<int64_t> milliseconds = sparkloom::ParseInteger(args[1]);
            if (!milliseconds || *milliseconds < 0 || *milliseconds > 60000) {
                return Usage();
            }
            tick = static_cast<int>(*milliseconds);
            args.erase(args.begin(), args.begin() + 2);
        }
        if (args.size() != 2) {
            return Usage();
        }
        const Clock::time_point start = Clock::now();
        double walkMs = -1;
        const sparkloom::cli::PackOutcome packed =
            sparkloom::cli::PackFolder(args[0], args[1], tick, false, [&](int64_t, int64_t) {
                if (walkMs < 0) {
                    walkMs = MillisecondsSince(start);  // the first call comes right after the walk
                }
            });
        const double totalMs = MillisecondsSince(start);
        if (!packed.ok) {
            return Fail(packed.error);
        }
        std::printf("ticks=%lld tick_work_ms=%.3f walk_ms=%.3f pack_ms=%.3f maxrss_kib=%ld\n",
                    static_cast<long long>(packed.ticks), packed.tickWorkNs / 1e6, walkMs,
                    totalMs - walkMs, MaxRssKib());
        return 0;
    }
    return Usage();
}
