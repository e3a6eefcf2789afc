// sparkloom-bench: runs one step of the converter's road on its own, with the
// same core calls, so bench/run.sh can time it beside the tool it replaces.
//
//   sparkloom-bench count VIDEO
//   sparkloom-bench extract VIDEO FOLDER PREFIX
//   sparkloom-bench pack [--tick MS] FOLDER PACKAGE
//   sparkloom-bench readback PACKAGE
//
// pack prints "ticks=N tick_work_ms=W walk_ms=K pack_ms=P maxrss_kib=R": the
// builder's ticks, the time spent inside them, the walk before the first tick,
// and the packing from the end of the walk to the end of the run.
// readback prints "readback_ms=T entries=N faults=F": the check every build runs
// on its package before "Success" (a frames folder without templates has faults,
// which does not change what is read).
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/Converter.h"
#include "common/Text.h"
#include "extract/Extraction.h"
#include "package/PackageCheck.h"
#include "platform/Allocator.h"

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
        "       sparkloom-bench readback PACKAGE\n",
        stderr);
    return 2;
}

int Fail(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    return 1;
}

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
