#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <limits>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/CoreTest.h"
#include "zip/ZipInspect.h"
#include "zip/ZipLibrary.h"
#include "zip/Zipper.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

constexpr int32_t kChunk = Zipper::kChunkSize;

using Lines = std::vector<std::string>;
using Names = std::vector<std::string>;

// Every event in the order raised, with BytesZipped at Progress.
struct EventLog {
    Lines events;
    explicit EventLog(Zipper& zipper) {
        zipper.Events.StartFile = [this, &zipper] {
            events.push_back("StartFile " + zipper.CurrentFile()->AsFile);
        };
        zipper.Events.Progress = [this, &zipper] {
            events.push_back("Progress " + std::to_string(zipper.BytesZipped()));
        };
        zipper.Events.EndFile = [this] { events.push_back("EndFile"); };
        zipper.Events.Error = [this, &zipper] {
            events.push_back("Error " + zipper.Failed() + " " + std::to_string(zipper.Result()));
        };
        zipper.Events.Complete = [this](bool canceled) {
            events.push_back(std::string("Complete ") + (canceled ? "true" : "false"));
        };
    }
    Lines Take() { return std::exchange(events, {}); }
};

// Drives the run tick by tick; the number of ticks it took, or -1.
int RunToEnd(Zipper& zipper) {
    for (int ticks = 1; ticks < 100000; ++ticks) {
        zipper.Tick();
        if (!zipper.Zipping()) {
            return ticks;
        }
    }
    return -1;
}

// The entry at index, or an empty one when there is none.
ReadEntry EntryAt(const struct ReadArchive& read, size_t index) {
    return index < read.entries.size() ? read.entries[index] : ReadEntry{};
}

std::string NewFile(const TempDir& dir, const std::string& name, int64_t size, char seed = 1) {
    const std::string path = dir.File(name);
    return WriteFile(path, size, seed) ? path : std::string();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

#ifndef _WIN32
int64_t StatusKiB(const std::string& field) {
    for (const std::string& line : Split(ReadAll("/proc/self/status"), '\n')) {
        if (line.starts_with(field)) {
            const auto value = Split(Trimmed(std::string_view(line).substr(field.size())), ' ');
            return value.empty() ? -1 : ParseInteger(value.front()).value_or(-1);
        }
    }
    return -1;
}

// A tmpfs of the given size at a folder, unmounted when the object goes.
class SmallDisk {
public:
    SmallDisk(const std::string& folder, const std::string& size) : mFolder(folder) {
        const ToolRun mount =
            RunTool("mount", {"-t", "tmpfs", "-o", "size=" + size, "tmpfs", folder});
        mMounted = mount.exitCode == 0;
        mWhyNot = mount.err;
    }
    ~SmallDisk() {
        if (mMounted) {
            RunTool("umount", {mFolder});
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool Mounted() const { return mMounted; }
    const std::string& WhyNot() const { return mWhyNot; }

private:
    std::string mFolder;
    bool mMounted = false;
    std::string mWhyNot;
};
#endif

}  // namespace

TEST_CASE("addFileQueuesOrRefuses") {
    TempDir dir;
    Zipper zipper;
    CHECK(zipper.TickInterval() == 16);
    CHECK(zipper.AddFile(dir.File("missing.jpg")));
    CHECK(zipper.AddFile(dir.Text()));  // a folder has no bytes to pack
    CHECK(zipper.QueuedCount() == 0);
    CHECK(zipper.BytesToZip() == 0);

    CHECK(!zipper.AddFile(NewFile(dir, "b.jpg", 100)));
    CHECK(!zipper.AddFile(NewFile(dir, "c.jpg", 50), "x\\c.jpg", 8, -1, 0x01));
    CHECK(zipper.QueuedCount() == 2);
    CHECK(zipper.BytesToZip() == 150);
    EventLog log(zipper);
    REQUIRE(!zipper.Zip(dir.File("add.zip")));
    CHECK(RunToEnd(zipper) == 3);
    CHECK(log.Take() == Lines{"StartFile b.jpg", "Progress 100", "EndFile", "StartFile x\\c.jpg",
                              "Progress 150", "EndFile", "Complete false"});
    const auto read = ReadWithPython(dir.File("add.zip"));
    REQUIRE(read.error == "");
    REQUIRE(read.entries.size() == 2);
    CHECK(read.entries[0].external == 0x20u);  // the file's own attributes
    CHECK(read.entries[1].external == 0x01u);  // the caller's
    CHECK(read.entries[0].sha256 == FileSha256Hex(dir.File("b.jpg")));
}

TEST_CASE("tickExamples") {
    TempDir dir;
    Zipper zipper;
    EventLog log(zipper);

    REQUIRE(!zipper.AddFile(NewFile(dir, "300000.bin", 300000)));
    REQUIRE(!zipper.Zip(dir.File("300000.zip")));
    zipper.Tick();
    CHECK(log.Take() == Lines{"StartFile 300000.bin", "Progress 131072", "Progress 262144",
                              "Progress 300000", "EndFile"});
    zipper.Tick();
    CHECK(log.Take() == Lines{"Complete false"});
    CHECK(zipper.BytesZipped() == 300000);
    CHECK(zipper.BytesToZip() == 0);
    CHECK(zipper.CurrentFile()->AsFile == "300000.bin");
    CHECK(EntryAt(ReadWithPython(dir.File("300000.zip")), 0).sha256 ==
          FileSha256Hex(dir.File("300000.bin")));

    // The end of a file is seen at the top of the loop, so a file of exactly
    // ten chunks ends on the next tick.
    REQUIRE(!zipper.AddFile(NewFile(dir, "ten.bin", 10 * kChunk)));
    REQUIRE(!zipper.Zip(dir.File("ten.zip")));
    zipper.Tick();
    const Lines first = log.Take();
    REQUIRE(first.size() == 11);
    CHECK(first.back() == "Progress 1310720");
    zipper.Tick();
    CHECK(log.Take() == Lines{"EndFile"});
    zipper.Tick();
    CHECK(log.Take() == Lines{"Complete false"});
    CHECK(zipper.BytesZipped() == 10 * kChunk);  // each run counts from 0

    REQUIRE(!zipper.AddFile(NewFile(dir, "a.txt", 10)));
    REQUIRE(!zipper.AddFile(NewFile(dir, "b.txt", 10)));
    REQUIRE(!zipper.Zip(dir.File("two.zip")));
    zipper.Tick();
    CHECK(log.Take() == Lines{"StartFile a.txt", "Progress 10", "EndFile"});
    zipper.Tick();
    CHECK(log.Take() == Lines{"StartFile b.txt", "Progress 20", "EndFile"});
    zipper.Tick();
    CHECK(log.Take() == Lines{"Complete false"});

    REQUIRE(!zipper.Zip(dir.File("empty.zip")));
    zipper.Tick();
    CHECK(log.Take() == Lines{"Complete false"});
    const auto empty = ReadWithPython(dir.File("empty.zip"));
    CHECK(empty.error == "");
    CHECK(empty.entries.size() == 0);

    // A file of 0 bytes is an entry without data, closed at once.
    REQUIRE(!zipper.AddFile(NewFile(dir, "zero.bin", 0)));
    REQUIRE(!zipper.Zip(dir.File("zero.zip")));
    zipper.Tick();
    CHECK(log.Take() == Lines{"StartFile zero.bin", "EndFile"});
    CHECK(RunToEnd(zipper) == 1);
    const auto zero = ReadWithPython(dir.File("zero.zip"));
    CHECK(zero.error == "");
    CHECK(EntryAt(zero, 0).size == 0);
}

TEST_CASE("zipDuringRunIsRefused") {
    TempDir dir;
    Zipper zipper;
    REQUIRE(!zipper.AddFile(NewFile(dir, "run.bin", 3 * kChunk)));
    REQUIRE(!zipper.Zip(dir.File("run.zip")));
    zipper.Tick();
    CHECK(zipper.Zip(dir.File("other.zip")));
    CHECK(zipper.Failed() == "Already mZipping");
    CHECK(zipper.Result() == 0);
    CHECK(zipper.Reason() == "");
    CHECK(!fs::exists(P(dir.File("other.zip"))));
    CHECK(RunToEnd(zipper) > 0);
    CHECK(EntryAt(ReadWithPython(dir.File("run.zip")), 0).sha256 ==
          FileSha256Hex(dir.File("run.bin")));
    // A completed run leaves the last failure as it was.
    CHECK(zipper.Failed() == "Already mZipping");
}

TEST_CASE("cancelling") {
    TempDir dir;
    Zipper zipper;
    EventLog log(zipper);
    zipper.Cancel();  // idle: no effect on the next run
    REQUIRE(!zipper.AddFile(NewFile(dir, "long.bin", 25 * kChunk)));
    REQUIRE(!zipper.AddFile(NewFile(dir, "next.bin", 10)));
    REQUIRE(!zipper.Zip(dir.File("cut.zip")));
    zipper.Tick();
    zipper.Cancel();
    log.Take();
    zipper.Tick();
    CHECK(log.Take() == Lines{"EndFile"});
    CHECK(zipper.QueuedCount() == 0);
    zipper.Tick();
    CHECK(log.Take() == Lines{"Complete true"});
    auto read = ReadWithPython(dir.File("cut.zip"));
    REQUIRE(read.error == "");
    REQUIRE(read.names() == Names{"long.bin"});
    CHECK(read.entries[0].size == 10 * kChunk);
    CHECK(read.entries[0].sha256 == FileSha256Hex(dir.File("long.bin"), 10 * kChunk));

    // A request first seen between two files still starts the next one, empty.
    REQUIRE(!zipper.AddFile(dir.File("next.bin"), "first"));
    REQUIRE(!zipper.AddFile(dir.File("next.bin"), "second"));
    REQUIRE(!zipper.AddFile(dir.File("next.bin"), "third"));
    REQUIRE(!zipper.Zip(dir.File("between.zip")));
    zipper.Tick();
    zipper.Cancel();
    log.Take();
    CHECK(RunToEnd(zipper) == 2);
    CHECK(log.Take() == Lines{"StartFile second", "EndFile", "Complete true"});
    read = ReadWithPython(dir.File("between.zip"));
    REQUIRE(read.error == "");
    REQUIRE(read.names() == Names{"first", "second"});
    CHECK(read.entries[1].size == 0);

    // The request ended with that run.
    REQUIRE(!zipper.AddFile(dir.File("next.bin")));
    REQUIRE(!zipper.Zip(dir.File("after.zip")));
    CHECK(RunToEnd(zipper) == 2);
    const Lines after = log.Take();
    REQUIRE(!after.empty());
    CHECK(after.back() == "Complete false");
}

TEST_CASE("countersAcrossRuns") {
    TempDir dir;
    Zipper zipper;
    REQUIRE(!zipper.AddFile(NewFile(dir, "one.bin", 1000)));
    CHECK(zipper.Zip(dir.File("no/such/folder.zip")));
    CHECK(zipper.Failed() == "OpenZip");
    CHECK(zipper.Result() == ZipWriter::kCannotOpenArchive);
    CHECK(zipper.Reason() == ReasonOf(std::make_error_code(std::errc::no_such_file_or_directory)));
    CHECK(zipper.QueuedCount() == 0);
    CHECK(zipper.BytesToZip() == 1000);  // dropped entries stay counted
    REQUIRE(!zipper.AddFile(NewFile(dir, "two.bin", 24)));
    CHECK(zipper.BytesToZip() == 1024);

    REQUIRE(!zipper.Zip(dir.File("first.zip")));
    CHECK(zipper.BytesZipped() == 0);
    CHECK(RunToEnd(zipper) == 2);
    CHECK(zipper.BytesZipped() == 24);
    CHECK(zipper.BytesToZip() == 0);
    REQUIRE(!zipper.AddFile(dir.File("one.bin")));
    CHECK(zipper.BytesToZip() == 1000);
    REQUIRE(!zipper.Zip(dir.File("second.zip")));
    CHECK(zipper.BytesZipped() == 0);
    CHECK(RunToEnd(zipper) == 2);
    CHECK(zipper.BytesZipped() == 1000);
}

// A source gone or changed since it was queued ends the run with Error and
// never becomes an entry with other bytes; the next run works.
TEST_CASE("changedSourcesFail") {
    struct Row {
        std::string name;
        std::string change;
        std::string failed;
        int threads;
    };
    std::vector<Row> rows;
    // Deflated ahead, a file is read long before its turn: a change while
    // it is read cannot be timed from here.
    for (const int threads : {0, 2}) {
        const std::string road = threads == 0 ? "" : ", deflated ahead";
        rows.push_back({"vanished" + road, "remove", "OpenFile", threads});
        rows.push_back({"truncated" + road, "shrink", "ReadFile", threads});
        rows.push_back({"grown" + road, "grow", "ReadFile", threads});
        rows.push_back({"no cp1252 name" + road, "name", "OpenFileInZip", threads});
    }
    rows.push_back({"shrunk while read", "shrink later", "ReadFile", 0});
    REQUIRE(rows.size() == 9);

    for (const Row& row : rows) {
        CAPTURE(row.name);
        TempDir dir;
        Zipper zipper;
        zipper.SetDeflateThreads(row.threads);
        EventLog log(zipper);
        const std::string good = NewFile(dir, "good.bin", 5000);
        const std::string bad = NewFile(dir, "bad.bin", 15 * kChunk);
        REQUIRE(!zipper.AddFile(good));
        REQUIRE(!zipper.AddFile(bad, row.change == "name" ? "名.bin" : ""));
        REQUIRE(!zipper.AddFile(good, "never"));
        if (row.change == "remove") {
            REQUIRE(fs::remove(P(bad)));
        } else if (row.change == "shrink") {
            fs::resize_file(P(bad), kChunk);
        } else if (row.change == "grow") {
            fs::resize_file(P(bad), 16 * kChunk);
        }
        const std::string archive = dir.File("changed.zip");
        REQUIRE(!zipper.Zip(archive));
        zipper.Tick();
        if (row.change == "shrink later") {
            zipper.Tick();
            fs::resize_file(P(bad), 3 * kChunk);
        } else {
            zipper.Cancel();  // a request pending when the run fails must not outlive it
        }
        CHECK(RunToEnd(zipper) == 1);
        const Lines events = log.Take();
        REQUIRE(!events.empty());
        CHECK(events.back() ==
              "Error " + row.failed + (row.failed == "OpenFileInZip" ? " -668" : " 0"));
        CHECK(std::count_if(events.begin(), events.end(), [](const std::string& event) {
                  return Contains(event, "Complete");
              }) == 0);
        CHECK(zipper.QueuedCount() == 0);
        CHECK(zipper.BytesToZip() == 0);
        if (row.change == "remove") {
            // The source's own reason, on either road.
            CHECK(zipper.Reason() ==
                  ReasonOf(std::make_error_code(std::errc::no_such_file_or_directory)));
        }

        const auto read = ReadWithPython(archive);
        REQUIRE(read.error == "");
        CHECK(EntryAt(read, 0).name == "good.bin");
        const Names names = read.names();
        CHECK(std::find(names.begin(), names.end(), "never") == names.end());
        if (row.change != "shrink later") {
            CHECK(read.entries.size() == 1);  // the source was checked before its entry opened
        }

        // No stale cancel, no archive left open in the writer.
        REQUIRE(!zipper.AddFile(good));
        REQUIRE(!zipper.Zip(dir.File("next.zip")));
        CHECK(RunToEnd(zipper) == 2);
        const Lines next = log.Take();
        REQUIRE(!next.empty());
        CHECK(next.back() == "Complete false");
        CHECK(EntryAt(ReadWithPython(dir.File("next.zip")), 0).sha256 == FileSha256Hex(good));
    }
}

// Deflated ahead on worker threads or streamed in chunks, an archive holds
// the same entries, byte for byte as stored; files above the ahead road's
// size and stored entries take the streaming road within the same run, and
// more files than the memory budget holds at once never stall it.
TEST_CASE("deflatedAheadMatchesStreaming") {
    TempDir dir;
    const std::string folder = dir.File("ahead");
    REQUIRE(fs::create_directories(P(folder)));
    Zipper zippers[3];
    for (int threads = 0; threads < 3; ++threads) {
        zippers[threads].SetDeflateThreads(threads);
    }
    int32_t total = 0;
    const auto queue = [&](const std::string& name, int64_t size, int32_t method, int32_t level) {
        total += static_cast<int32_t>(size);
        const std::string path = folder + '/' + name;
        if (!fs::exists(P(path))) {
            const bool ok = name.ends_with(".txt")
                                ? test::WriteFile(path, std::string(static_cast<size_t>(size), 'x'))
                                : test::WriteFile(path, size, static_cast<char>(size % 97));
            REQUIRE(ok);
        }
        for (Zipper& zipper : zippers) {
            REQUIRE(!zipper.AddFile(path, name, method, level));
        }
    };
    queue("zero.bin", 0, 8, -1);
    queue("text.txt", 100000, 8, -1);
    queue("best.txt", 50000, 8, 9);
    queue("stored.bin", 70000, 0, 0);
    queue("over.bin", DeflateAhead::kLargestFile + 1, 8, -1);
    for (int i = 0; i < 40; ++i) {  // 12 MB: more than the budget
        char name[32];
        std::snprintf(name, sizeof name, "frame_%05d.jpg", i);
        queue(name, 300000 + i, 8, -1);
    }
    queue("last.txt", 10, 8, -1);

    std::vector<ReadEntry> streamed;
    for (int threads = 0; threads < 3; ++threads) {
        CAPTURE(threads);
        const std::string archive = dir.File("ahead" + std::to_string(threads) + ".zip");
        int progress = 0;
        zippers[threads].Events.Progress = [&progress] { ++progress; };
        REQUIRE(!zippers[threads].Zip(archive));
        CHECK(RunToEnd(zippers[threads]) > 0);
        CHECK(zippers[threads].BytesZipped() == total);
        // Written whole, a file ahead raises one Progress; streamed, one a chunk.
        CHECK(progress == (threads == 0 ? 141 : 61));
        std::string unzip;
        CHECK_MESSAGE(UnzipTestsOk(archive, &unzip), unzip);
        const auto read = ReadWithPython(archive);
        REQUIRE(read.error == "");
        REQUIRE(read.entries.size() == 46);
        if (threads == 0) {
            streamed = read.entries;
            continue;
        }
        for (size_t i = 0; i < read.entries.size(); ++i) {
            CAPTURE(i);
            const ReadEntry& ahead = read.entries[i];
            const ReadEntry& expected = streamed[i];
            CHECK(ahead.name == expected.name);
            CHECK(ahead.method == expected.method);
            CHECK(ahead.flags == expected.flags);
            CHECK(ahead.external == expected.external);
            CHECK(ahead.size == expected.size);
            CHECK(ahead.crc == expected.crc);
            CHECK(ahead.sha256 == expected.sha256);
            CHECK(!ahead.rawSha256.empty());
            CHECK(ahead.rawSha256 == expected.rawSha256);
        }
    }
}

TEST_CASE("writerFailureEndsRun") {
#ifdef _WIN32
    MESSAGE("skipped: needs /dev/full");
#else
    if (!fs::exists("/dev/full")) {
        Skip("needs /dev/full");
        return;
    }
    TempDir dir;
    Zipper zipper;
    EventLog log(zipper);
    REQUIRE(!zipper.AddFile(NewFile(dir, "full.bin", 10)));
    REQUIRE(!zipper.Zip("/dev/full"));
    CHECK(RunToEnd(zipper) > 0);
    const Lines events = log.Take();
    REQUIRE(!events.empty());
    CHECK(events.back().starts_with("Error CloseFileInZip"));
    CHECK(zipper.Result() != 0);
    CHECK(zipper.Reason() == ReasonOf(std::make_error_code(std::errc::no_space_on_device)));
    REQUIRE(!zipper.AddFile(dir.File("full.bin")));
    REQUIRE(!zipper.Zip(dir.File("after-full.zip")));  // not refused with -667
    CHECK(RunToEnd(zipper) == 2);
    const Lines after = log.Take();
    REQUIRE(!after.empty());
    CHECK(after.back() == "Complete false");
#endif
}

// A real disk that fills while packing: the step fails as it always did, and
// the reason says the disk is full, on both roads. The half archive stays for
// the caller to remove, and the builder is ready for the next run.
#ifndef _WIN32  // mounts a small tmpfs
TEST_CASE("fullDiskSaysWhy" * doctest::test_suite("tmpfs")) {
    TempDir dir;
    const std::string small = dir.File("small");
    REQUIRE(fs::create_directory(P(small)));
    SmallDisk disk(small, "1m");
    if (!disk.Mounted()) {
        Skip("a 1 MiB tmpfs could not be mounted here (" +
             Split(std::string(Trimmed(disk.WhyNot())), '\n')[0] + ")");
        return;
    }
    std::vector<std::string> noise;
    for (int i = 0; i < 8; ++i) {  // 2 MiB that deflate cannot shrink
        noise.push_back(dir.File("noise" + std::to_string(i) + ".bin"));
        REQUIRE(WriteNoise(noise.back(), 256 * 1024, static_cast<uint64_t>(i)));
    }
    for (const int threads : {0, 2}) {
        CAPTURE(threads);
        Zipper zipper;
        zipper.SetDeflateThreads(threads);
        EventLog log(zipper);
        for (const std::string& file : noise) {
            REQUIRE(!zipper.AddFile(file));
        }
        const std::string archive = small + "/full.dzp";
        REQUIRE(!zipper.Zip(archive));
        CHECK(RunToEnd(zipper) > 0);
        const Lines events = log.Take();
        REQUIRE(!events.empty());
        INFO("events: ", Join(events, " | "));
        // Where the disk runs out decides which writer step sees it (minizip
        // and stdio hold some bytes back); the result is minizip's ZIP_ERRNO.
        const std::string failed = zipper.Failed();
        CHECK((failed == "WriteBytes" || failed == "CloseFileInZip" || failed == "CloseZip"));
        CHECK(zipper.Result() == -1);
        CHECK(events.back() == "Error " + failed + " -1");
        // Told by the disk, naming the folder, not by the failed call.
        CHECK(zipper.Reason().starts_with("the disk holding " + small + " is full ("));
        CHECK(zipper.Reason().ends_with(" bytes free)"));
        CHECK(zipper.QueuedCount() == 0);
        CHECK(zipper.BytesToZip() == 0);
        // Not removed here: the package's caller decides what a half package is.
        CHECK(fs::exists(P(archive)));
        REQUIRE(fs::remove(P(archive)));

        REQUIRE(!zipper.AddFile(noise.front()));
        REQUIRE(!zipper.Zip(archive));  // not refused with -667
        CHECK(RunToEnd(zipper) > 0);
        const Lines after = log.Take();
        REQUIRE(!after.empty());
        CHECK(after.back() == "Complete false");
        CHECK(UnzipTestsClean(archive));
        REQUIRE(fs::remove(P(archive)));
    }
}
#endif

TEST_CASE("byteTotalOverflow") {
    TempDir dir;
    Zipper zipper;
    const std::string big = dir.File("big.bin");
    REQUIRE(test::WriteFile(big, std::string_view()));
    fs::resize_file(P(big), std::numeric_limits<int32_t>::max());  // sparse
    REQUIRE(!zipper.AddFile(big));
    CHECK(zipper.BytesToZip() == std::numeric_limits<int32_t>::max());
    CHECK_THROWS_AS(zipper.AddFile(NewFile(dir, "one.bin", 1)), std::overflow_error);
    CHECK(zipper.QueuedCount() == 1);
    CHECK(zipper.BytesToZip() == std::numeric_limits<int32_t>::max());
    zipper.ClearFiles();
    fs::resize_file(P(big), int64_t{1} << 31);
    std::string what;
    try {
        Zipper().AddFile(big);
    } catch (const std::overflow_error& error) {
        what = error.what();
    }
    // The caller shows this to the user, who can act on it.
    INFO(what);
    CHECK(Contains(what, "2 GiB"));
    CHECK(Contains(what, "signed 32-bit"));
    CHECK(Contains(what, "queued bytes"));
    REQUIRE(fs::remove(P(big)));
}

// The window's way: the front-end calls Tick every TickInterval ms (16), and a
// build never leaves a library file beside the package.
TEST_CASE("timerDrivenBuild") {
    TempDir dir;
    const std::string folder = dir.File("package");
    REQUIRE(fs::create_directories(P(folder)));
    ProvideZipLibrary(folder);
    Zipper zipper;
    std::vector<bool> complete;
    int progress = 0;
    zipper.Events.Complete = [&complete](bool canceled) { complete.push_back(canceled); };
    zipper.Events.Progress = [&progress] { ++progress; };
    REQUIRE(!zipper.AddFile(NewFile(dir, "timed.bin", 25 * kChunk)));
    REQUIRE(!zipper.Zip(folder + "/timed.dzp"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (zipper.Zipping() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(zipper.TickInterval()));
        zipper.Tick();
    }
    REQUIRE(complete.size() == 1);
    CHECK(complete.front() == false);
    CHECK(progress == 25);
    ReleaseZipLibrary(folder);
    UnloadZipLibrary();
    // Nothing but the package is left beside it.
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(P(folder))) {
        files.push_back(Utf8Of(entry.path().filename()));
    }
    CHECK(files == std::vector<std::string>{"timed.dzp"});
    std::string unzip;
    CHECK_MESSAGE(UnzipTestsOk(folder + "/timed.dzp", &unzip), unzip);
}

// One reused chunk buffer: packing hundreds of MB keeps the peak flat.
TEST_CASE("memoryStaysFlat") {
#ifdef _WIN32
    MESSAGE("skipped: reads /proc");
#else
    TempDir dir;
    const std::string huge = dir.File("huge.bin");
    const int64_t size = 300 * 1024 * 1024;
    {
        std::ofstream file(P(huge), std::ios::binary);
        file.write(std::string(70000, 'a').data(), 70000);
        file.close();
        REQUIRE(file.good());
    }
    fs::resize_file(P(huge), size);  // sparse zeros, with some data at the ends
    {
        std::fstream file(P(huge), std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(size - 70000);
        file.write(std::string(70000, 'z').data(), 70000);
        file.close();
        REQUIRE(file.good());
    }
    REQUIRE(fs::file_size(P(huge)) == uintmax_t(size));

    Zipper zipper;
    zipper.SetTickInterval(0);
    REQUIRE(!zipper.AddFile(huge));
    const int64_t before = StatusKiB("VmRSS:");
    // Resets the peak to the current size, so earlier tests do not hide growth.
    {
        std::ofstream clearRefs("/proc/self/clear_refs");
        clearRefs << "5";
        clearRefs.close();
        REQUIRE(clearRefs.good());
    }
    REQUIRE(!zipper.Zip(dir.File("huge.zip")));
    CHECK(RunToEnd(zipper) > 0);
    const int64_t peak = StatusKiB("VmHWM:");
    REQUIRE((before > 0 && peak > 0));
    const int64_t growth = peak - before;
    MESSAGE("peak growth while packing ", size >> 20, " MiB: ", growth, " KiB");
    CHECK(growth < 8 * 1024);
    CHECK(zipper.BytesZipped() == size);
    const auto read = ReadWithPython(dir.File("huge.zip"));
    REQUIRE(read.error == "");
    CHECK(EntryAt(read, 0).sha256 == FileSha256Hex(huge));
#endif
}
