// sparkloom-bench: runs one step of the converter's road on its own, with the
// same core calls, so bench/run.sh can time it beside the tool it replaces.
//
//   sparkloom-bench count VIDEO
//   sparkloom-bench extract VIDEO FOLDER PREFIX
//   sparkloom-bench pack [--tick MS] FOLDER PACKAGE
//   sparkloom-bench readback PACKAGE
//
// pack prints "ticks=N tick_work_ms=W walk_ms=K pack_ms=P maxrss_kib=R": the
// builder's timer ticks, the time spent inside them, the walk before the first
// tick, and the packing from the end of the walk to Complete.
// readback prints "readback_ms=T entries=N faults=F": the check every build runs
// on its package before "Success" (a frames folder without templates has faults,
// which does not change what is read).
#include <sys/resource.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdio>

#include "cli/Converter.h"
#include "extract/Extraction.h"
#include "package/PackageCheck.h"
#include "platform/Allocator.h"
#include "zip/Zipper.h"

namespace {

// Times every timer event delivered to a QTimer: with nothing else on the
// loop, these are exactly the Zipper's ticks.
class TickTimingApp : public QCoreApplication {
public:
    using QCoreApplication::QCoreApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::Timer || qobject_cast<QTimer*>(receiver) == nullptr) {
            return QCoreApplication::notify(receiver, event);
        }
        QElapsedTimer clock;
        clock.start();
        const bool handled = QCoreApplication::notify(receiver, event);
        workNs += clock.nsecsElapsed();
        ++ticks;
        return handled;
    }

    qint64 ticks = 0;
    qint64 workNs = 0;
};

long MaxRssKib() {
    rusage usage{};
    return getrusage(RUSAGE_SELF, &usage) == 0 ? usage.ru_maxrss : -1;
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

int Fail(const QString& text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
    // As the converter does, so its packing is measured as it runs there.
    sparkloom::platform::KeepFreedMemoryForReuse();
    TickTimingApp app(argc, argv);
    QStringList args = QCoreApplication::arguments().mid(1);
    if (args.isEmpty()) {
        return Usage();
    }
    const QString mode = args.takeFirst();

    if (mode == QStringLiteral("count") && args.size() == 1) {
        const sparkloom::CountOutcome counted = sparkloom::CountFrames(args[0]);
        if (!counted.ok) {
            return Fail(counted.error);
        }
        std::printf("frames=%d\n", counted.frames);
        return 0;
    }
    if (mode == QStringLiteral("extract") && args.size() == 3) {
        sparkloom::ExtractionJob job({args[0], args[1], args[2]});
        const sparkloom::ExtractionOutcome extracted = job.Run({});
        if (extracted.end != sparkloom::ExtractionOutcome::End::Done) {
            return Fail(extracted.error);
        }
        std::printf("last_frame=%d\n", extracted.written);
        return 0;
    }
    if (mode == QStringLiteral("readback") && args.size() == 1) {
        QElapsedTimer clock;
        clock.start();
        const sparkloom::PackageCheck check = sparkloom::ReadBackPackage(args[0], false);
        std::printf("readback_ms=%.3f entries=%d faults=%lld\n", clock.nsecsElapsed() / 1e6,
                    check.entries, static_cast<long long>(check.faults.size()));
        return 0;
    }
    if (mode == QStringLiteral("pack")) {
        int tick = 0;
        if (args.size() >= 2 && args[0] == QStringLiteral("--tick")) {
            bool ok = false;
            tick = args[1].toInt(&ok);
            if (!ok || tick < 0) {
                return Usage();
            }
            args = args.mid(2);
        }
        if (args.size() != 2) {
            return Usage();
        }
        QElapsedTimer clock;
        clock.start();
        qint64 walkNs = -1;
        const sparkloom::cli::PackOutcome packed =
            sparkloom::cli::PackFolder(args[0], args[1], tick, false, [&](int64_t, int64_t) {
                if (walkNs < 0) {
                    walkNs = clock.nsecsElapsed();  // the first call comes right after the walk
                }
            });
        const qint64 totalNs = clock.nsecsElapsed();
        if (!packed.ok) {
            return Fail(packed.error);
        }
        std::printf("ticks=%lld tick_work_ms=%.3f walk_ms=%.3f pack_ms=%.3f maxrss_kib=%ld\n",
                    static_cast<long long>(app.ticks), app.workNs / 1e6, walkNs / 1e6,
                    (totalNs - walkNs) / 1e6, MaxRssKib());
        return 0;
    }
    return Usage();
}
