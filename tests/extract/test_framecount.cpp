#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "extract/FrameCount.h"
#include "support/CoreTest.h"

using namespace sparkloom;

namespace {

using Frames = std::vector<int32_t>;

// Every number the parser reports, the text fed in pieces of pieceSize bytes as a pipe may
// deliver it. Count() and Found() must agree with the reports.
Frames Parse(std::string_view text, std::size_t pieceSize = 1 << 20) {
    Frames frames;
    FrameLineParser parser;
    parser.onFrame = [&frames](int32_t frame) { frames.push_back(frame); };
    for (std::size_t at = 0; at < text.size(); at += pieceSize) {
        parser.Feed(text.substr(at, pieceSize));
    }
    parser.Finish();
    if (parser.Found() != !frames.empty() ||
        parser.Count() != (frames.empty() ? 0 : frames.back())) {
        return {-2};
    }
    return frames;
}

std::string Sample(const std::string& name) {
    return test::ReadAll(std::string(SPARKLOOM_TEST_DATA "/") + name);
}

std::string Last(std::string_view text, std::size_t count) {
    return std::string(text.substr(text.size() - std::min(count, text.size())));
}

}  // namespace

TEST_CASE("lineEnds") {
    // Progress lines between bare CRs are lines of their own.
    CHECK(Parse("frame=    1 fps=0\rframe=   2 fps=0\rframe=   3 fps=0") == Frames{1, 2, 3});
    // CR LF is one end, also when the pipe splits it.
    for (std::size_t piece : {1, 2, 11, 100}) {
        CAPTURE(piece);
        CHECK(Parse("frame= 5 a\r\nframe= 6 b\r\n\r\nframe= 7 c\r\n", piece) == Frames{5, 6, 7});
    }
    // A bare LF does not end a line: the second number hides inside the first line.
    CHECK(Parse("frame= 8 a\nframe= 9 b\n") == Frames{8});
    CHECK(ParseFrameCount("frame= 8 a\nframe= 9 b\n") == 8);
}

TEST_CASE("noMatchGivesZero") {
    CHECK(Parse("") == Frames{});
    CHECK(Parse("Input #0\rfps= 30\r\nframes 12\r") == Frames{});
    CHECK(ParseFrameCount("nothing here") == 0);
}

TEST_CASE("numberReadWhole") {
    CHECK(ParseFrameCount("frame=1234567 fps=25") == 1234567);
    CHECK(ParseFrameCount("frame=  2147483647") == 2147483647);
    CHECK(ParseFrameCount("frame=\t77\tq=1") == 77);
}

TEST_CASE("junkLinesKeepThePreviousCount") {
    // "FRAME=" makes a line match, but only the lower-case tag is cut before the number.
    for (const char* line : {"frame=abc", "frame= 12x fps", "frame=", "frame= -3", "frame= 4.5 fps",
                             "frame=2147483648", "frame=99999999999999999999", "size=9 frame= 11",
                             "FRAME= 40 fps", "Frame=41"}) {
        INFO(std::string(line));
        CHECK(Parse(std::string("frame= 10 fps=1\r") + line + "\r") == Frames{10});
        int32_t number = -1;
        CHECK(!FrameNumberOfLine(line, number));
        CHECK(number == -1);
    }
    int32_t number = 0;
    CHECK(FrameNumberOfLine("frame=  9 FRAME=1", number));
    CHECK(number == 9);
}

// Output of ffmpeg 5.1 on testsrc clips. The first report shares its line with the banner
// (joined by bare LFs) and is not read.
TEST_CASE("capturedRuns") {
    CHECK(Parse(Sample("ffmpeg-count-testsrc30.txt"), 7) == Frames{30});
    CHECK(Parse(Sample("ffmpeg-extract-testsrc30.txt")) == Frames{30});
    CHECK(Parse(Sample("ffmpeg-extract-testsrc3000.txt"), 512) == Frames{2241, 3000});
    const std::string failed = Sample("ffmpeg-count-invalid.txt");
    CHECK(failed.find("Invalid data found") != std::string::npos);
    CHECK(Parse(failed) == Frames{});
}

// Real runs of the Windows ffmpeg 4.1 under Wine (its lines end in CR LF), Debian 12's
// 5.1 and Debian 13's 7.1 (tests/data/make-clips.sh, capture-ffmpeg.sh): the summary
// gives the frames of the first video stream and the files written, whichever
// version ran and however the clip is made.
const std::string kVersions[] = {"ffmpeg41", "ffmpeg51", "ffmpeg71"};

TEST_CASE("summariesOfEveryVersion") {
    struct Row {
        const char* clip;
        int counted;
        int written[3];  // by version, in the order of kVersions
    };
    const Row rows[] = {
        {"plain", 30, {30, 30, 30}},
        {"audiofirst", 30, {30, 30, 30}},  // audio is stream 0
        // The image sequence repeats frames at a constant rate, up to the end
        // of the clip as each version made and reads it.
        {"vfr", 40, {56, 60, 60}},
        {"cover", 30, {30, 30, 30}},  // the attached picture is not counted
        {"rotated", 30, {30, 30, 30}},
    };
    const auto read = [](const std::string& file) {
        const std::string output = Sample(file);
        auto parser = std::make_unique<FfmpegOutputParser>();
        // In pieces, as the pipe delivers it.
        for (std::size_t at = 0; at < output.size(); at += 700) {
            parser->Feed(std::string_view(output).substr(at, 700));
        }
        parser->Finish();
        return parser;
    };
    const auto packets = [&read](const std::string& file) {
        const auto parser = read(file);
        return parser->Found() ? parser->Packets() : -1;
    };
    for (std::size_t v = 0; v < std::size(kVersions); ++v) {
        const std::string& version = kVersions[v];
        for (const Row& row : rows) {
            const std::string name = row.clip;
            INFO(std::string(version + " " + name));
            CHECK(packets(version + "/count-copy-verbose-" + name + ".txt") == row.counted);
            CHECK(packets(version + "/extract-verbose-" + name + ".txt") == row.written[v]);
            // Without -v verbose there is no summary, but the last progress line
            // counts too, though ffmpeg 7 ends it with a bare LF.
            const auto plain = read(version + "/count-copy-" + name + ".txt");
            CHECK(!plain->Found());
            CHECK(plain->LastFrame() == row.counted);
            // A run long enough for progress reports ends on its true total as well.
            for (const std::string run : {"count-copy-realtime-long", "extract-realtime-long"}) {
                INFO(run);
                std::vector<int32_t> progress;
                const std::string output = Sample(version + "/" + run + ".txt");
                FfmpegOutputParser parser;
                parser.onFrame = [&progress](int32_t frame) { progress.push_back(frame); };
                parser.Feed(output);
                parser.Finish();
                REQUIRE(progress.size() >= 2);
                CHECK(progress.back() == 90);
                CHECK(std::is_sorted(progress.begin(), progress.end()));
            }
        }
    }
}

TEST_CASE("summaryLines") {
    int32_t packets = -1;
    CHECK(PacketsMuxedOfLine("  Output stream #0:0 (video): 7 packets muxed (9 bytes); ", packets));
    CHECK(packets == 7);
    CHECK(
        PacketsMuxedOfLine("[out#0/image2 @ 0x1]   Output stream #0:0 (video): 60 frames "
                           "encoded; 61 packets muxed (1 bytes); ",
                           packets));
    CHECK(packets == 61);
    for (const char* line : {"  Output stream #0:1 (video): 7 packets muxed",
                             "  Input stream #0:0 (video): 7 packets read (9 bytes); ",
                             "  Output stream #0:0 (video): packets muxed",
                             "  Output stream #0:0 (video): 99999999999 packets muxed",
                             "  Output stream #0:0 (video): 7 frames encoded; packets muxed"}) {
        INFO(std::string(line));
        CHECK(!PacketsMuxedOfLine(line, packets));
    }
}

// The clip's duration, read from the count run of every version.
TEST_CASE("durationsOfEveryVersion") {
    for (const std::string& version : kVersions) {
        struct Row {
            const char* clip;
            double seconds;
        };
        const Row rows[] = {
            {"plain", 1.0},
            {"cover", 1.0},
            {"noise", -1.0},                              // not read
            {"vfr", version == "ffmpeg51" ? 2.0 : 1.87},  // as each made the clip
        };
        for (const Row& row : rows) {
            const std::string capture = version + "/count-copy-verbose-" + row.clip + ".txt";
            INFO(std::string(version + " " + row.clip));
            const std::string output = Sample(capture);
            REQUIRE(!output.empty());
            FfmpegOutputParser parser;
            for (std::size_t at = 0; at < output.size(); at += 7) {
                parser.Feed(std::string_view(output).substr(at, 7));
            }
            parser.Finish();
            CHECK(parser.Seconds() == row.seconds);
        }
    }
}

TEST_CASE("durationLines") {
    double seconds = 0;
    CHECK(DurationOfLine("  Duration: 01:02:03.50, start: 0.000000, bitrate: 1 kb/s", seconds));
    CHECK(seconds == 3723.5);
    for (const char* line : {"  Duration: N/A, start: 0.000000, bitrate: N/A",
                             "  Duration: 00:01, start: 0", "    Stream #0:0: Duration: x"}) {
        INFO(std::string(line));
        CHECK(!DurationOfLine(line, seconds));
    }
}

// The reason shown for a failed run names the video in every version.
TEST_CASE("failureReasons") {
    struct Row {
        const char* clip;
        const char* video;
        const char* reason;
    };
    const Row rows[] = {
        {"noise", "noise.mp4", "Invalid data found when processing input"},
        {"missing", "missing.mp4", "No such file or directory"},
        {"audioonly", "audioonly.m4a", "the file holds no video stream."},
    };
    for (const std::string& version : kVersions) {
        for (const std::string kind : {"count-copy-verbose", "extract-verbose"}) {
            for (const Row& row : rows) {
                const std::string capture = version + "/" + kind + "-" + row.clip + ".txt";
                INFO(std::string(version + " " + kind + " " + row.clip));
                const std::string output = Sample(capture);
                REQUIRE(!output.empty());
                CHECK(FfmpegFailureReason(Last(output, 4096), row.video) ==
                      std::string(row.video) + ": " + row.reason);
            }
        }
    }
}

// ffmpeg ends a run that failed while writing on "Conversion failed!"; the
// system's words for why stand on an earlier line and are kept. The lines are
// ffmpeg 5.1's, on a full disk.
TEST_CASE("failureReasonKeepsTheSystemsWords") {
    const std::string tail =
        "[AVIOContext @ 0x5597d8eaeec0] Statistics: 0 bytes written, 0 seeks, 1 writeouts\n"
        "av_interleaved_write_frame(): No space left on device\n"
        "No more output streams to write to, finishing.\n"
        "frame=   53 fps=0.0 q=24.8 Lsize=N/A time=00:00:01.76 bitrate=N/A speed=  46x    \r\n"
        "Output file #0 (mnt/F_%05d.jpg):\n"
        "  Output stream #0:0 (video): 53 frames encoded; 53 packets muxed (217843 bytes); \n"
        "Conversion failed!\n";
    CHECK(FfmpegFailureReason(tail, "v.mp4") == "Conversion failed!: No space left on device");
    // A last line that gives the reason itself stays as it is.
    CHECK(FfmpegFailureReason("x: Permission denied\nv.mp4: No such file or directory\n",
                              "v.mp4") == "v.mp4: No such file or directory");
}
