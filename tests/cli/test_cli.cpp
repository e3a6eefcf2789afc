// sparkloom-cli as a user runs it: a child process on a real clip, its package
// read back by Python's zipfile and unzip, its refusals with their exact texts.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/Files.h"
#include "common/Text.h"
#include "platform/WriterLock.h"
#include "support/CoreTest.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

using Strings = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The names of a folder's entries, sorted.
Strings EntriesOf(const std::string& folder) {
    Strings names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(P(folder), error)) {
        names.push_back(Utf8Of(entry.path().filename()));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string Number5(int number) {
    std::string digits = std::to_string(number);
    return std::string(digits.size() < 5 ? 5 - digits.size() : 0, '0') + digits;
}

Strings NamesOf(const std::vector<ArchiveEntry>& entries) {
    Strings names;
    for (const ArchiveEntry& entry : entries) {
        names.push_back(entry.rawName);
    }
    return names;
}

// A lavfi test pattern of the given length, size and rate.
bool MakeClipAt(const std::string& path, const std::string& seconds, const std::string& size,
                int rate) {
    return RunTool("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                              "testsrc=duration=" + seconds + ":size=" + size +
                                  ":rate=" + std::to_string(rate),
                              "-pix_fmt", "yuv420p", path})
               .exitCode == 0;
}

// What ffprobe reads of a numbered sequence: "width,height,frames".
std::string ProbeFrames(const std::string& folder, const std::string& prefix) {
    return std::string(Trimmed(
        RunTool("ffprobe", {"-v", "error", "-f", "image2", "-i",
                            folder + '/' + prefix + "_%05d.jpg", "-count_frames", "-show_entries",
                            "stream=width,height,nb_read_frames", "-of", "csv=p=0"})
            .out));
}

// The frames ffmpeg wrote into folder: names ending in "_" + five characters + ".jpg".
int64_t BytesOfFrames(const std::string& folder) {
    int64_t bytes = 0;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(P(folder), error)) {
        const std::string name = Utf8Of(entry.path().filename());
        if (entry.is_regular_file() && name.size() >= 10 && name.ends_with(".jpg") &&
            name[name.size() - 10] == '_') {
            bytes += static_cast<int64_t>(entry.file_size());
        }
    }
    return bytes;
}

// The scratch folder of the whole file: the clips, the packages, one clip made once.
struct Fixture {
    TempDir root;
    std::string clips = root.File("clips");  // holds the clips: the video's folder
    std::string out = root.File("out");      // where packages go
    std::string clip = clips + "/clip.mp4";  // 1 s, 30 frames, 64×48
    int cases = 0;

    Fixture() {
        REQUIRE(MakeFolder(clips));
        REQUIRE(MakeFolder(out));
        REQUIRE(MakeClip(clip));
    }
};

Fixture& F() {
    static Fixture fixture;
    return fixture;
}

// through: a program the converter is run through, with its arguments.
ToolRun RunCli(const Strings& arguments,
               const std::vector<std::pair<std::string, std::string>>& environment = {},
               Strings through = {}) {
    ToolOptions options;
    options.environment = environment;
    options.startFolder = F().root.Text();
    options.timeoutMs = 60000;
    through.push_back(SPARKLOOM_CLI);
    through.insert(through.end(), arguments.begin(), arguments.end());
    return RunTool(through.front(), Strings(through.begin() + 1, through.end()), options);
}

#ifndef _WIN32
// Root writes past every permission; run through this, the converter does not.
const Strings kWithoutOverride = {"setpriv", "--inh-caps=-dac_override,-dac_read_search",
                                  "--bounding-set=-dac_override,-dac_read_search", "--"};
#endif

// Why no folder can be made in parent, in the system's words; "" when one can.
std::string WhyNoFolderIn(const std::string& parent) {
    const std::string probe = parent + "/probe";
    std::error_code error;
    // As the converter makes the frames folder.
    const bool made = fs::create_directories(P(probe), error);
    std::error_code ignored;
    fs::remove(P(probe), ignored);
    return made ? std::string() : ReasonOf(error);
}

// A fresh, not yet existing path under the output folder.
std::string Fresh(const std::string& name) {
    return F().out + "/" + std::to_string(++F().cases) + "-" + name;
}

// Every argument the window would want, so a row changes only what it tests.
Strings Complete(const std::string& package) {
    return {F().clip, "-o", package, "--type", "CUSTOM", "--category", "General"};
}

Strings operator+(Strings list, const Strings& more) {
    list.insert(list.end(), more.begin(), more.end());
    return list;
}

// path without its last four characters (".dzp").
std::string Chopped(const std::string& path) {
    return path.substr(0, path.size() - 4);
}

// A JPEG less its comment, in which ffmpeg names its encoder's version
// ("Lavc61.19.101"): under Wine the converter runs ffmpeg.exe 7.1 and the
// test the host's ffmpeg, whose pictures are the same bytes. In the
// entropy-coded data a 0xFF byte is never followed by 0xFE.
std::string PictureOf(const std::string& jpeg) {
    const std::size_t at = jpeg.find("\xff\xfe");
    if (at == std::string::npos || at + 4 > jpeg.size()) {
        return jpeg;
    }
    const std::size_t length =
        static_cast<unsigned char>(jpeg[at + 2]) * 256u + static_cast<unsigned char>(jpeg[at + 3]);
    return jpeg.substr(0, at) + jpeg.substr(std::min(jpeg.size(), at + 2 + length));
}

void CompareWithFolder(const std::vector<ArchiveEntry>& entries, const std::string& folder) {
    for (const ArchiveEntry& entry : entries) {
        const std::string file = folder + '/' + entry.rawName.substr(2);
        CHECK_MESSAGE(entry.data == ReadAll(file), file);
        CHECK(entry.method == 8);
    }
}

}  // namespace

TEST_CASE("convertsWithTheDefaults") {
    const std::string base = Fresh("Fire");  // no ".": ".dzp" is added
    const ToolRun run = RunCli(Complete(base));
    REQUIRE_MESSAGE(run.exitCode == 0, run.err);
    CHECK(run.out == "");
    CHECK(run.err == "Counting frames…\nExtracting 30 frames…\nPacking…\nSuccess\n");

    const std::string package = base + ".dzp";
    const std::string frames = base + "_frames";
    CHECK(UnzipTestsClean(package));
    std::vector<ArchiveEntry> entries;
    REQUIRE(ReadArchive(package, entries));  // CRCs checked there

    Strings expected;
    for (int frame = 1; frame <= 30; ++frame) {
        expected.push_back(".\\clip_" + Number5(frame) + ".jpg");
    }
    expected = expected + Strings{".\\Thumb.jpg", ".\\Thumb.png", ".\\TitleTemplate.clt",
                                  ".\\TitleTemplate.xml"};
    REQUIRE(NamesOf(entries) == expected);
    CompareWithFolder(entries, frames);
    CHECK(EntriesOf(frames).size() == expected.size());

    // The thumbnail defaults to the first frame.
    const std::string first = entries.front().data;
    CHECK(entries[30].data == first);
    CHECK(entries[31].data == first);

    const std::string clt = entries[32].data;
    const std::string xml = entries[33].data;
    CHECK((clt.starts_with("\xff\xfe") && xml.starts_with("\xff\xfe")));
    CHECK(TemplateAttribute(clt, "ParticleAttribExt", "AnimationImage") == "clip_00001.jpg");
    // 30 frames at 30 per second
    CHECK(TemplateAttribute(clt, "ParticleAttribExt", "AnimationDuration") == "1000");
    CHECK(Shown(TemplateAttribute(clt, "Extension", "ReferencePath")) == Shown(frames + '/'));
    CHECK(TemplateAttribute(xml, "TEMPLATE", "TYPE") == "CUSTOM");
    CHECK(TemplateAttribute(xml, "TEMPLATE", "CATEGORY") == "General");
    CHECK(TemplateAttribute(xml, "TEMPLATE", "ALIAS") == "clip");
}

TEST_CASE("convertsWithEveryOptionGiven") {
    const std::string picture = F().root.File("picture.png");
    REQUIRE(WriteFile(picture, "not converted, only copied"));
    const std::string frames = Fresh("frames here");
    const std::string package = Fresh("Fire.zip");  // a "." keeps the path
    const ToolRun run = RunCli({"--quiet", F().clip, "--output", package, "--name", "My Fire",
                                "--type", "PRESET", "--category", "Sports", "--thumb", picture,
                                "--first", "My_Fire_00007.jpg", "--frames-dir", frames});
    REQUIRE_MESSAGE(run.exitCode == 0, run.err);
    CHECK(run.err == "");  // quiet

    std::vector<ArchiveEntry> entries;
    REQUIRE(ReadArchive(package, entries));
    REQUIRE(entries.size() == 34);
    CHECK(entries.front().rawName == ".\\My_Fire_00001.jpg");
    CompareWithFolder(entries, frames);
    CHECK(entries[30].rawName == ".\\Thumb.jpg");
    CHECK(entries[30].data == ReadAll(picture));
    CHECK(entries[31].data == ReadAll(picture));
    CHECK(TemplateAttribute(entries[32].data, "ParticleAttribExt", "AnimationImage") ==
          "My_Fire_00007.jpg");
    // the host plays frames 7 to 30, at 30 a second
    CHECK(TemplateAttribute(entries[32].data, "ParticleAttribExt", "AnimationDuration") == "800");
    CHECK(RunCli({"--check", package}).exitCode == 0);
    CHECK(TemplateAttribute(entries[33].data, "TEMPLATE", "TYPE") == "PRESET");
    CHECK(TemplateAttribute(entries[33].data, "TEMPLATE", "CATEGORY") == "Sports");
    CHECK(TemplateAttribute(entries[33].data, "TEMPLATE", "ALIAS") == "My Fire");
}

// The frames the options give, as ffprobe reads them, and a duration that
// follows them.
TEST_CASE("frameOptions") {
    struct Row {
        std::string tag;
        std::string clip;  // seconds:size:rate
        Strings options;
        std::string probed;  // width,height,frames
        std::string duration;
    };
    const Row rows[] = {
        {"--fps 30 on 60 fps", "2:64x48:60", {"--fps", "30"}, "64,48,60", "2000"},
        {"--start 1 --duration 1",
         "3:64x48:30",
         {"--start", "1", "--duration", "1"},
         "64,48,30",
         "1000"},
        {"--start as a clock, to the end",
         "3:64x48:30",
         {"--start", "00:00:01.5"},
         "64,48,45",
         "1500"},
        {"--width 320 on 1280x720", "1:1280x720:30", {"--width", "320"}, "320,180,30", "1000"},
        {"all at once",
         "2:1280x720:60",
         {"--fps", "30", "--duration", "1", "--width", "160", "--quality", "4"},
         "160,90,30",
         "1000"},
    };
    for (const Row& row : rows) {
        CAPTURE(row.tag);
        const Strings parts = Split(row.clip, ':');
        const std::string video = F().clips + "/options-" + ReplaceAll(row.clip, ":", "-") + ".mp4";
        if (!Exists(video)) {
            REQUIRE(MakeClipAt(video, parts[0], parts[1], std::stoi(parts[2])));
        }
        const std::string package = Fresh("options.dzp");
        Strings arguments = Complete(package) + row.options;
        arguments[0] = video;
        const ToolRun run = RunCli(arguments);
        REQUIRE_MESSAGE(run.exitCode == 0, run.err);
        const std::string frames = Chopped(package) + "_frames";
        const std::string prefix = Utf8Of(P(video).stem());
        CHECK(ProbeFrames(frames, prefix) == row.probed);
        CHECK(UnzipTestsClean(package));
        std::vector<ArchiveEntry> entries;
        REQUIRE(ReadArchive(package, entries));
        CHECK(entries.size() == static_cast<std::size_t>(std::stoi(Split(row.probed, ',')[2]) + 4));
        CHECK(TemplateAttribute(ReadAll(frames + "/TitleTemplate.clt"), "ParticleAttribExt",
                                "AnimationDuration") == row.duration);
    }
}

// --estimate prints the Frames dialog's line and writes nothing; 3 when it does not fit.
TEST_CASE("estimates") {
    const std::string video = F().clips + "/estimate-3s.mp4";
    if (!Exists(video)) {
        REQUIRE(MakeClipAt(video, "3", "64x48", 30));
    }
    const struct {
        Strings options;
        int status;
        std::string starts, ends;
    } rows[]{
        {{}, 0, "90 frames of 64 \u00d7 48, about 0.", " MB; plays 3.0 s in the host\n"},
        {{"--fps", "30", "--start", "1", "--width", "32"},
         0,
         "60 frames of 32 \u00d7 24, about 0.",
         "; plays 2.0 s in the host\n"},
        {{"--fps", "700", "--quality", "2"},
         3,
         "2,100 frames of 64 \u00d7 48, about ",
         "; plays 70.0 s in the host\n106 frames more than a package holds (1,994).\n"},
    };
    for (const auto& row : rows) {
        CAPTURE(Join(row.options, " "));
        const Strings before = EntriesOf(F().clips);
        Strings arguments{video, "--estimate"};
        arguments.insert(arguments.end(), row.options.begin(), row.options.end());
        const ToolRun run = RunCli(arguments);
        CHECK_MESSAGE(run.exitCode == row.status, run.err);
        CHECK(run.out.starts_with(row.starts));
        CHECK(run.out.ends_with(row.ends));
        CHECK(EntriesOf(F().clips) == before);
    }
    const ToolRun converting = RunCli({video, "--estimate", "-o", "out/x.dzp"});
    CHECK(converting.exitCode == 2);
    CHECK(
        Contains(converting.err, "--output converts a video; it cannot be used with --estimate."));
    const ToolRun late = RunCli({video, "--estimate", "--start", "4"});
    CHECK(late.exitCode == 1);
    CHECK(Contains(late.err, "lies beyond the clip's end"));
}

// The seek is frame-accurate: the first frame written is the clip's frame
// 31, as ffmpeg itself picks it out of the whole clip.
TEST_CASE("startTakesTheExactFrame") {
    const std::string video = F().clips + "/options-3-64x48-30.mp4";
    if (!Exists(video)) {
        REQUIRE(MakeClipAt(video, "3", "64x48", 30));
    }
    const std::string byHand = Fresh("frame31.jpg");
    REQUIRE(RunTool("ffmpeg", {"-nostdin", "-v", "error", "-i", video, "-vf", "select=eq(n\\,30)",
                               "-frames:v", "1", byHand})
                .exitCode == 0);
    const std::string package = Fresh("start.dzp");
    Strings arguments = Complete(package) + Strings{"--start", "1", "--duration", "1"};
    arguments[0] = video;
    const ToolRun run = RunCli(arguments);
    REQUIRE_MESSAGE(run.exitCode == 0, run.err);
    const std::string frames = Chopped(package) + "_frames";
    const std::string first = ReadAll(frames + "/options-3-64x48-30_00001.jpg");
    CHECK(PictureOf(first) == PictureOf(ReadAll(byHand)));
    CHECK(first != ReadAll(frames + "/options-3-64x48-30_00002.jpg"));
}

TEST_CASE("qualityTwoIsLarger") {
    const std::string video = F().clips + "/quality.mp4";
    REQUIRE(MakeClipAt(video, "1", "320x240", 30));
    int64_t bytes[2] = {};
    for (const bool best : {false, true}) {
        const std::string package = Fresh("quality.dzp");
        Strings arguments = Complete(package);
        arguments[0] = video;
        if (best) {
            arguments = arguments + Strings{"--quality", "2"};
        }
        const ToolRun run = RunCli(arguments);
        REQUIRE_MESSAGE(run.exitCode == 0, run.err);
        bytes[best] = BytesOfFrames(Chopped(package) + "_frames");
    }
    CHECK_MESSAGE(bytes[1] > bytes[0] * 3 / 2,
                  (std::to_string(bytes[1]) + " against " + std::to_string(bytes[0])));
}

// Failures once work has begun: each says why and leaves no package; the
// frames folder stays when frames were written. With --fps no count runs, and
// the extraction's own report gives the clip's end.
TEST_CASE("failuresOnceStartedSayWhy") {
    struct Row {
        std::string tag;
        Strings more;
        std::string said;  // {frames} stands for the frames folder
        bool framesKept = false;
        std::vector<std::pair<std::string, std::string>> environment = {};
        Strings through = {};
    };
    const std::string beyond =
        "The start 00:05 lies beyond the clip's end: the clip lasts 1.000 s. No frames were "
        "written.";
    std::vector<Row> rows = {
        {"start beyond the end", {"--start", "00:05"}, beyond},
        {"start beyond the end, --fps 30", {"--start", "00:05", "--fps", "30"}, beyond},
        {"--first not in the frames folder",
         {"--first", "Nope.jpg", "--thumb", F().clip},
         "The package would lack Nope.jpg, which the host editor needs:\nit is not in the frames "
         "folder {frames}.",
         true},
    };
#ifndef _WIN32  // a shell-script stand-in
    // ffmpeg, then one of the frames it wrote goes: a sequence with a gap is never packed.
    const std::string gappy = F().root.File("gappy-ffmpeg");
    REQUIRE(WriteFile(gappy,
                      "#!/bin/sh\nffmpeg \"$@\" || exit\nfor last; do :; done\n"
                      "case $last in *.jpg) rm \"$(printf \"$last\" 2)\";; esac\n"));
    fs::permissions(P(gappy), fs::perms::owner_exec, fs::perm_options::add);
    rows.push_back({"a frame gone after ffmpeg",
                    {},
                    "ffmpeg reported 30 frames, but 29 frames numbered 1 to 30 are in {frames}.",
                    true,
                    {{"SPARKLOOM_FFMPEG", gappy}}});
    // An old package in a folder this user may not change: nothing can take its place.
    const std::string locked = F().root.File("locked-out");
    REQUIRE((MakeFolder(locked) && WriteFile(locked + "/Old.dzp", "old")));
    fs::permissions(P(locked), fs::perms::owner_read | fs::perms::owner_exec);
    rows.push_back(
        {"an old package that cannot be replaced",
         {"-o", locked + "/Old.dzp", "--force", "--frames-dir", Fresh("old-frames")},
         "Err -1 in OpenZip: " + ReasonOf(std::make_error_code(std::errc::permission_denied)),
         false,
         {},
         WhyNoFolderIn(locked).empty() ? kWithoutOverride : Strings{}});
#endif
    for (const Row& row : rows) {
        CAPTURE(row.tag);
        const std::string package = Fresh("late.dzp");
        const std::string frames = Chopped(package) + "_frames";
        const ToolRun run = RunCli(Complete(package) + row.more, row.environment, row.through);
        CHECK(run.exitCode == 1);
        CHECK_MESSAGE(run.err.ends_with(ReplaceAll(row.said, "{frames}", Shown(frames)) + "\n"),
                      run.err);
        CHECK(!Contains(run.err, "Success"));
        CHECK(!Exists(package));
        CHECK(Exists(frames) == row.framesKept);
    }
}

// Several clips into one folder: one that is no video fails alone, and the
// summary says which.
TEST_CASE("batchGoesOnAfterAFailure") {
    const std::string folder = Fresh("batch");
    REQUIRE(MakeFolder(folder));
    const std::string second = F().clips + "/Second Clip.mov";
    REQUIRE((Exists(second) || CopyTestFile(F().clip, second)));
    const std::string broken = F().clips + "/broken.mkv";
    REQUIRE(WriteFile(broken, "plain text, no video"));
    const ToolRun run = RunCli({F().clip, broken, second, "-o", folder, "--type", "PRESET",
                                "--category", "General", "--fps", "15"});
    CHECK(run.exitCode == 1);
    CHECK_MESSAGE(run.err.ends_with(
                      "2 of 3 clips converted:\n"
                      "  " +
                      Shown(F().clip) + ": " + Shown(folder + "/clip.dzp") +
                      "\n"
                      "  " +
                      Shown(broken) + ": FAILED: The video could not be read. " + Shown(broken) +
                      ": Invalid data found when processing input\n"
                      "  " +
                      Shown(second) + ": " + Shown(folder + "/Second Clip.dzp") + "\n"),
                  run.err);
    CHECK(EntriesOf(folder) ==
          Strings{"Second Clip.dzp", "Second Clip_frames", "clip.dzp", "clip_frames"});
    for (const auto& [package, alias] :
         {std::pair{"clip", "clip"}, std::pair{"Second Clip", "Second Clip"}}) {
        CAPTURE(package);
        const std::string path = folder + '/' + package + ".dzp";
        CHECK(UnzipTestsClean(path));
        std::vector<ArchiveEntry> entries;
        REQUIRE(ReadArchive(path, entries));
        REQUIRE(entries.size() == 15 + 4);
        CHECK(TemplateAttribute(entries.back().data, "TEMPLATE", "ALIAS") == alias);
    }
}

TEST_CASE("batchOfGoodClipsSucceeds") {
    const std::string folder = Fresh("batch-ok");
    REQUIRE(MakeFolder(folder));
    const std::string second = F().clips + "/Second Clip.mov";
    REQUIRE((Exists(second) || CopyTestFile(F().clip, second)));
    const ToolRun run =
        RunCli({F().clip, second, "-o", folder, "--type", "CUSTOM", "--category", "General"});
    REQUIRE_MESSAGE(run.exitCode == 0, run.err);
    CHECK_MESSAGE(run.err.starts_with("[1/2] " + Shown(F().clip) + "\n"), run.err);
    CHECK(Contains(run.err, "2 of 2 clips converted:"));
    CHECK(UnzipTestsClean(folder + "/clip.dzp"));
    CHECK(UnzipTestsClean(folder + "/Second Clip.dzp"));
}

TEST_CASE("helpAndVersion") {
    const ToolRun version = RunCli({"--version"});
    CHECK(version.exitCode == 0);
    CHECK(version.out == "sparkloom-cli 1.0.1\n");
    const ToolRun help = RunCli({"--help"});
    CHECK(help.exitCode == 0);
    for (const char* option : {"--output", "--name", "--type", "--category", "--thumb", "--first",
                               "--frames-dir", "--force", "--fps", "--quality", "--start",
                               "--duration", "--width", "--quiet", "--check", "--estimate"}) {
        CHECK_MESSAGE(Contains(help.out, option), option);
    }
    // Qt's own options went with Qt.
    CHECK(!Contains(help.out, "--help-all"));
}

TEST_CASE("refusesUsageErrors") {
    const std::string clip = "clips/clip.mp4";
    const std::string o = "-o";
    const std::string package = "out/usage.dzp";
    const std::string other = "clips/other.mp4";
    struct Row {
        std::string tag;
        Strings arguments;
        std::string said;  // the refusal, between "sparkloom-cli: " and the pointer to --help
    };
    const std::string noVideo = "no VIDEO given.";
    const std::string noPackage = "no package given: -o PACKAGE is required.";
    const auto both = [&](const std::string& second) {
        return Shown(clip) + " and " + Shown(second) + " would both make " +
               Shown(F().out + "/clip.dzp") + ".";
    };
    const auto forOne = [](const std::string& option) {
        return option + " is for one clip; with several, each takes its own from its file name.";
    };
    std::vector<Row> rows = {
        {"nothing", {}, noVideo},
        {"no package", {clip, "--type", "CUSTOM"}, noPackage},
        {"empty package", {clip, o, ""}, noPackage},
        {"-o without value", {clip, o}, "Missing value after '-o'."},
        {"no video", {o, package}, noVideo},
        {"the same clip twice", {clip, clip, o, "out"}, both(clip)},
        {"two clips, one package name", {clip, "clips/clip.mov", o, "out"}, both("clips/clip.mov")},
        {"several with --name", {clip, other, o, "out", "--name", "x"}, forOne("--name")},
        {"several with --thumb", {clip, other, o, "out", "--thumb", "x"}, forOne("--thumb")},
        {"several with --first", {clip, other, o, "out", "--first", "x"}, forOne("--first")},
        {"several with --frames-dir",
         {clip, other, o, "out", "--frames-dir", "out/usage_frames"},
         forOne("--frames-dir")},
        {"several without -o",
         {clip, other},
         "no folder given: -o OUTDIR is required with several clips."},
    };
    const auto option = [&](const std::string& name, const std::string& value,
                            const std::string& said) {
        rows.push_back({name + " " + value, {clip, o, package, name, value}, said});
    };
    const std::string fpsRange = " is out of range: above 0 and at most 1000 frames a second.";
    const std::string noTime =
        "\" is no TIME: seconds (90, 1.5) or [HH:]MM:SS[.fff] (01:30, 00:01:30.250).";
    option("--fps", "0", "--fps 0" + fpsRange);
    option("--fps", "-30", "--fps -30" + fpsRange);
    option("--fps", "1001", "--fps 1001" + fpsRange);
    option("--fps", "thirty", "--fps needs a number, not \"thirty\".");
    option("--quality", "1", "--quality 1 is out of range: 2 (best) to 31.");
    option("--quality", "32", "--quality 32 is out of range: 2 (best) to 31.");
    option("--quality", "2.5", "--quality needs a whole number, not \"2.5\".");
    option("--width", "15", "--width 15 is out of range: 16 to 8192 pixels.");
    option("--width", "8193", "--width 8193 is out of range: 16 to 8192 pixels.");
    option("--width", "", "--width needs a whole number, not \"\".");
    option("--start", "1:5", "--start \"1:5" + noTime);
    option("--start", "-1", "--start \"-1" + noTime);
    option("--start", "", "--start \"" + noTime);
    option("--duration", "0", "--duration must be longer than 0.");
    option("--duration", "00:00:00.000", "--duration must be longer than 0.");
    option("--duration", "1:60", "--duration \"1:60" + noTime);
    option("--colour", "red", "Unknown option 'colour'.");
    option("--type", "custom", "unknown --type \"custom\"; CUSTOM or PRESET.");
    const std::string notWithCheck = " converts a video; it cannot be used with --check.";
    rows.push_back({"--check without package", {"--check"}, "no PACKAGE given to --check."});
    rows.push_back(
        {"--check with -o", {"--check", package, o, package}, "--output" + notWithCheck});
    rows.push_back(
        {"--check with --type", {"--check", package, "--type", "CUSTOM"}, "--type" + notWithCheck});
    rows.push_back(
        {"--check with --force", {"--check", package, "--force"}, "--force" + notWithCheck});
    rows.push_back(
        {"--check with --fps", {"--check", package, "--fps", "30"}, "--fps" + notWithCheck});

    for (const Row& row : rows) {
        CAPTURE(row.tag);
        const ToolRun run = RunCli(row.arguments);
        CHECK(run.exitCode == 2);
        CHECK_MESSAGE(run.err.starts_with("sparkloom-cli: " + row.said + "\n"), run.err);
        CHECK(Contains(run.err, "--help"));
        CHECK(!Exists(F().out + "/usage.dzp"));
        CHECK(!Exists(F().out + "/usage_frames"));
    }
}

// The window's checks, in the window's order, with its texts; nothing is touched.
TEST_CASE("refusesWhatTheWindowRefuses") {
    const auto kDevice = [](const std::string& name) {
        return " cannot be used: Windows keeps the name " + name + " for a device.";
    };
    const std::string kDropped =
        " cannot be used: Windows drops the dot or blank at the end of a name.";
    struct Row {
        std::string tag;
        // Option and value pairs, replacing the option's value or added; "<absent>" drops it.
        Strings change;
        std::string video;
        std::string text;
    };
    const std::string clip = "clip.mp4";
    const Row rows[] = {
        {"type missing", {"--type", "<absent>"}, clip, "You must select the Type of Project!"},
        {"no type", {"--type", ""}, clip, "You must select the Type of Project!"},
        {"type Select", {"--type", "Select"}, clip, "You must select the Type of Project!"},
        {"category missing", {"--category", "<absent>"}, clip, "You must select a Category!"},
        {"no category", {"--category", ""}, clip, "You must select a Category!"},
        {"category Select", {"--category", "Select"}, clip, "You must select a Category!"},
        {"empty name", {"--name", ""}, clip, "Please Enter A Particle Name!"},
        // "abc" is too short to give a name: the window's box would stay empty.
        {"no name from the file", {}, "abc", "Please Enter A Particle Name!"},
        {"empty thumbnail", {"--thumb", ""}, clip, "Please Select A Thumbnail!"},
        {"no first frame, so no thumbnail", {"--first", ""}, clip, "Please Select A Thumbnail!"},
        {"name with a slash",
         {"--name", "a/b"},
         clip,
         "The particle name names the frame files and cannot contain \"/\"."},
        {"name with a leading dot",
         {"--name", ".Fire"},
         clip,
         "The particle name names the frame files and cannot start with \".\": such frames "
         "would be hidden files, which no package takes."},
        {"name beyond the code page",
         {"--name", "Fire \u03a9"},
         clip,
         "The particle name names the frame files and can only hold Western European "
         "letters:\nFire_\u03a9"},
        {"name before type", {"--name", "", "--type", ""}, clip, "Please Enter A Particle Name!"},
        {"frames in the video's folder",
         {"--frames-dir", "clips/"},
         clip,
         "You cannot Extract in the Project Folder!\nPlease Choose Another Destination Folder"},
        {"package in the video's folder",
         {"-o", "clips/check.dzp"},
         clip,
         "You cannot create the Installation File in the Project Folder!\nPlease Choose "
         "Another Destination Folder"},
        {"package in the frames folder",
         {"--frames-dir", "out/../out"},
         clip,
         "You cannot create the Installation File in the Project Folder!\nPlease Choose "
         "Another Destination Folder"},
        // Windows' device names and the names it changes, refused on every system.
        {"package named CON",
         {"-o", "out/CON"},
         clip,
         Shown(F().out + "/CON.dzp") + kDevice("CON")},
        {"device, other case and extension",
         {"-o", "out/nul.tar.gz"},
         clip,
         Shown(F().out + "/nul.tar.gz") + kDevice("nul")},
        {"COM with a superscript digit",
         {"-o", "out/Com\u00b9.dzp"},
         clip,
         Shown(F().out + "/Com\u00b9.dzp") + kDevice("Com\u00b9")},
        {"package ending in a blank",
         {"-o", "out/Fire "},
         clip,
         Shown(F().out + "/Fire ") + kDropped},
        {"frames folder named LPT9",
         {"--frames-dir", "out/lpt9"},
         clip,
         Shown(F().out + "/lpt9") + kDevice("lpt9")},
        {"frames folder ending in a dot",
         {"--frames-dir", "out/frames."},
         clip,
         Shown(F().out + "/frames.") + kDropped},
        {"-o in a missing folder",
         {"-o", "out/none/check.dzp"},
         clip,
         "The folder " + Shown(F().out + "/none") + " does not exist."},
        {"-o a folder",
         {"-o", "out/taken.dzp"},
         clip,
         Shown(F().out + "/taken.dzp") + " is a folder; please name the package file."},
        {"-o a folder ending in a separator",
         {"-o", "out/"},
         clip,
         Shown(F().out) + " is a folder; please name the package file."},
        {"-o a folder ending in the system's separator",
         {"-o", "out" + std::string(1, kPathSeparators.front())},
         clip,
         Shown(F().out) + " is a folder; please name the package file."},
        {"frames folder a file",
         {"--frames-dir", "out/taken.txt"},
         clip,
         "The frames folder " + Shown(F().out + "/taken.txt") + " is a file."},
        {"thumbnail missing",
         {"--thumb", "clips/none.png"},
         clip,
         "The thumbnail picture " + Shown(F().clips + "/none.png") + " does not exist."},
    };
    REQUIRE((MakeFolder(F().out + "/taken.dzp") && WriteFile(F().out + "/taken.txt", "mine")));
    for (const Row& row : rows) {
        CAPTURE(row.tag);
        const std::string videoPath = F().clips + '/' + row.video;
        if (!Exists(videoPath)) {
            REQUIRE(CopyTestFile(F().clip, videoPath));
        }
        Strings arguments{videoPath, "-o",         "out/check.dzp", "--type",
                          "CUSTOM",  "--category", "General"};
        for (std::size_t i = 0; i + 1 < row.change.size(); i += 2) {
            const auto at = std::find(arguments.begin(), arguments.end(), row.change[i]);
            if (row.change[i + 1] == "<absent>") {
                arguments.erase(at, at + 2);
            } else if (at != arguments.end()) {
                *(at + 1) = row.change[i + 1];
            } else {
                arguments = arguments + Strings{row.change[i], row.change[i + 1]};
            }
        }
        const std::size_t entriesBefore = EntriesOf(F().out).size();
        const ToolRun run = RunCli(arguments);
        CHECK(run.exitCode == 1);
        CHECK(run.err == row.text + '\n');
        CHECK(EntriesOf(F().out).size() == entriesBefore);  // nothing written
        CHECK(!Exists(F().out + "/check.dzp"));
        CHECK(!Exists(F().out + "/check_frames"));
    }
}

// A "." in a folder's name is no extension; a particle named after a device
// gives frames that are fine.
TEST_CASE("dottedFolderStillGetsTheExtension") {
    const std::string folder = Fresh("Clips.2026");
    REQUIRE(MakeFolder(folder));
    const ToolRun run = RunCli(Complete(folder + "/fire") + Strings{"--name", "CON"});
    REQUIRE_MESSAGE(run.exitCode == 0, run.err);
    CHECK(!Exists(folder + "/fire"));
    CHECK(UnzipTestsClean(folder + "/fire.dzp"));
    std::vector<ArchiveEntry> entries;
    REQUIRE(ReadArchive(folder + "/fire.dzp", entries));
    CHECK(NamesOf(entries).front() == ".\\CON_00001.jpg");
}

TEST_CASE("overwritesOnlyWithForce") {
    const std::string package = Fresh("again.dzp");
    REQUIRE(WriteFile(package, "an older package"));
    const std::string frames = Fresh("frames");
    const Strings arguments = Complete(package) + Strings{"--frames-dir", frames};

    const ToolRun refused = RunCli(arguments);
    CHECK(refused.exitCode == 1);
    CHECK_MESSAGE(Contains(refused.err, Shown(package)), refused.err);
    CHECK(Contains(refused.err, "--force"));
    CHECK(ReadAll(package) == "an older package");
    CHECK(!Exists(frames));  // refused before any work

    const ToolRun forced = RunCli(arguments + Strings{"--force"});
    REQUIRE_MESSAGE(forced.exitCode == 0, forced.err);
    CHECK(UnzipTestsClean(package));
}

TEST_CASE("takesAFilledFramesFolderOnlyWithForce") {
    const std::string frames = Fresh("filled");
    REQUIRE(MakeFolder(frames));
    REQUIRE(WriteFile(frames + "/notes.txt", "left by the user"));
    const std::string package = Fresh("filled.dzp");
    const Strings arguments = Complete(package) + Strings{"--frames-dir", frames};

    const ToolRun refused = RunCli(arguments);
    CHECK(refused.exitCode == 1);
    CHECK_MESSAGE(Contains(refused.err, "--force"), refused.err);
    CHECK(!Exists(package));

    const ToolRun forced = RunCli(arguments + Strings{"--force"});
    REQUIRE_MESSAGE(forced.exitCode == 0, forced.err);
    std::vector<ArchiveEntry> entries;
    REQUIRE(ReadArchive(package, entries));
    const Strings names = NamesOf(entries);
    // as the window does
    CHECK(std::find(names.begin(), names.end(), ".\\notes.txt") != names.end());
}

// More than 2000 entries in the frames folder: the walk leaves some out,
// which is refused, or with --force done and said.
// 2010 frames: only the first 1994 fit beside ".", "..", the thumbnails and
// the templates. A file beside them that sorts first would push a template
// out, which refuses the build; one that sorts last is left out with --force.
TEST_CASE("longClipsKeepThePackageWhole") {
    struct Row {
        std::string tag;
        std::string extraFile;
        int exitCode;
        std::string said;
        std::size_t entries;
    };
    const Row rows[] = {
        {"frames only", "", 0,
         "the video has 2010 frames, but a package holds at most 1994; only the first 1994 were "
         "extracted.",
         1998},
        {"a file before the templates", "aa.txt", 1, "The package would lack TitleTemplate.xml", 0},
        {"a file after them", "zz.txt", 0, "1 entries were left out", 1998},
    };
    const std::string longClip = F().clips + "/long.mp4";
    if (!Exists(longClip)) {
        REQUIRE(RunTool("ffmpeg", {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                                   "testsrc=duration=20.1:size=16x16:rate=100", "-pix_fmt",
                                   "yuv420p", longClip})
                    .exitCode == 0);
    }
    for (const Row& row : rows) {
        CAPTURE(row.tag);
        const std::string package = Fresh("long.dzp");
        const std::string frames = Fresh("long-frames");
        Strings arguments = Complete(package) + Strings{"--frames-dir", frames};
        arguments[0] = longClip;
        if (!row.extraFile.empty()) {
            REQUIRE(MakeFolder(frames));
            REQUIRE(WriteFile(frames + '/' + row.extraFile, "beside"));
            arguments = arguments + Strings{"--force"};
        }
        const ToolRun run = RunCli(arguments);
        CHECK_MESSAGE(run.exitCode == row.exitCode, run.err);
        CHECK_MESSAGE(Contains(run.err, row.said), run.err);
        CHECK(Exists(package) == (row.exitCode == 0));
        if (row.exitCode == 0) {
            std::vector<ArchiveEntry> read;
            REQUIRE(ReadArchive(package, read));
            CHECK(read.size() == row.entries);
            CHECK(TemplateAttribute(ReadAll(frames + "/TitleTemplate.clt"), "ParticleAttribExt",
                                    "AnimationDuration") == "66467");
        }
    }
}

#ifndef _WIN32
// A stop signal sent to the converter's process alone, as kill, timeout or a
// service manager send it: ffmpeg is stopped, no package is left, the frames
// folder is kept, an old package stays as it was, and the exit status is the
// shell's for that signal. A kill that cannot be caught leaves the old package
// as it was too, never a cut one, and a temporary the next build removes.
// Linux only: signals, /proc and a shell-script stand-in ffmpeg.
TEST_CASE("stopSignals") {
    struct Row {
        std::string tag;
        int signalNumber;
        std::string step;
        bool several;      // the first of two clips is stopped
        bool old = false;  // over an old package, with --force
    };
    const Row rows[] = {
        {"SIGINT while extracting", SIGINT, "extracting frames", false},
        {"SIGTERM while extracting", SIGTERM, "extracting frames", false},
        {"SIGINT while packing", SIGINT, "packing", false},
        {"SIGTERM while packing", SIGTERM, "packing", false},
        {"SIGTERM, several clips", SIGTERM, "extracting frames", true},
        {"SIGINT while packing over an old package", SIGINT, "packing", false, true},
        {"SIGTERM while packing over an old package", SIGTERM, "packing", false, true},
        {"SIGKILL while packing over an old package", SIGKILL, "packing", false, true},
    };
    for (const Row& row : rows) {
        CAPTURE(row.tag);
        const bool packing = row.step == "packing";
        std::string package = Fresh("stopped.dzp");
        std::string frames = Fresh("stopped-frames");
        Strings arguments = Complete(package) + Strings{"--frames-dir", frames};
        const bool killed = row.signalNumber == SIGKILL;
        std::string old;
        if (row.old) {
            REQUIRE(RunCli(Complete(package) + Strings{"--frames-dir", Fresh("old")}).exitCode ==
                    0);
            old = ReadAll(package);
            arguments = arguments + Strings{"--force"};
        }
        const std::string folder = Fresh("stopped-batch");
        if (row.several) {
            REQUIRE(MakeFolder(folder));
            package = folder + "/ten.dzp";
            frames = folder + "/ten_frames";
            arguments = {F().clip, "-o", folder, "--type", "CUSTOM", "--category", "General"};
        }
        ToolOptions options;
        options.startFolder = F().root.Text();
        options.timeoutMs = 90000;
        if (packing) {
            // A large thumbnail, packed twice, makes packing last.
            const std::string big = F().root.File("big-thumb.jpg");
            if (!Exists(big)) {
                REQUIRE(WriteNoise(big, 200 << 20, 11));
            }
            arguments = arguments + Strings{"--thumb", big};
        } else {
            const std::string slow = F().root.File("slow-ffmpeg");
            if (!Exists(slow)) {
                REQUIRE(WriteSlowFfmpeg(slow));
            }
            options.environment = {{"SPARKLOOM_FFMPEG", slow}};
            const std::string ten = F().clips + "/ten.mp4";
            if (!Exists(ten)) {
                REQUIRE(MakeClip(ten, 10));
            }
            if (row.several) {
                arguments.insert(arguments.begin(), ten);
            } else {
                arguments[0] = ten;
            }
        }
        int64_t pid = 0;
        int64_t ffmpeg = 0;
        std::optional<Clock::time_point> signalled;
        options.onStarted = [&](int64_t started) { pid = started; };
        options.whileRunning = [&](const ToolRun& sofar) {
            if (signalled || pid == 0) {
                return;
            }
            if (packing) {
                if (!Contains(sofar.err, "Packing…")) {
                    return;
                }
            } else {
                if (ffmpeg == 0) {
                    ffmpeg = ExtractingChild(pid);
                }
                // More than three frames written (five entries with "." and "..").
                if (ffmpeg == 0 || EntriesOf(frames).size() <= 3) {
                    return;
                }
            }
            signalled = Clock::now();
            ::kill(static_cast<pid_t>(pid), row.signalNumber);
        };
        const ToolRun run = RunTool(SPARKLOOM_CLI, arguments, options);
        REQUIRE_MESSAGE(signalled.has_value(), run.err);
        const auto afterSignal =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *signalled);
        MESSAGE(row.tag << ": ended " << afterSignal.count() << " ms after the signal");
        CHECK(afterSignal < std::chrono::seconds(10));
        // The temporaries beside the package: the one a kill left, or none.
        const std::string hidden = "." + FileNameOf(package) + "-";
        auto temporaries = [&] {
            Strings found;
            for (const std::string& name : EntriesOf(F().out)) {
                if (name.starts_with(hidden)) {
                    found.push_back(name);
                }
            }
            return found;
        };
        if (killed) {
            CHECK(run.termSignal == SIGKILL);
            CHECK(ReadAll(package) == old);
            CHECK(UnzipTestsClean(package));
            // The next build removes what the killed run left, never what a
            // live one still writes.
            const Strings left = temporaries();
            CHECK(left.size() == 1);
            platform::WriterLock live;
            REQUIRE(!live.Create(PathFromUtf8(F().out + "/" + hidden + "live00")));
            const ToolRun next =
                RunCli(Complete(package) + Strings{"--frames-dir", Fresh("next"), "--force"});
            CHECK_MESSAGE(next.exitCode == 0, next.err);
            CHECK(temporaries() == Strings{hidden + "live00"});
            live.Release();
            std::filesystem::remove(PathFromUtf8(F().out + "/" + hidden + "live00"));
            continue;
        }
        CHECK(temporaries().empty());
        CHECK(run.termSignal == 0);
        CHECK(run.exitCode == 128 + row.signalNumber);
        const std::string name = row.signalNumber == SIGINT ? "SIGINT" : "SIGTERM";
        const std::string oldKept = row.old ? "; the old package " + package + " is kept" : "";
        CHECK_MESSAGE(run.err.ends_with("Stopped by " + name + " while " + row.step +
                                        "; no package was written" + oldKept +
                                        "; the frames folder " + frames + " is kept.\n"),
                      run.err);
        CHECK(ReadAll(package) == old);
        CHECK(EntriesOf(frames).size() > 3);
        CHECK(!ProcessExists(ffmpeg));
        if (row.several) {  // the second clip was never started
            CHECK_MESSAGE(!Contains(run.err, "[2/2]"), run.err);
            CHECK(!Exists(folder + "/clip_frames"));
        }
    }
}
#endif

// Scripts and cron run under LANG=C: the converter's output stays its own.
TEST_CASE("plainCLocale") {
    const ToolRun run = RunCli(Complete(Fresh("c-locale.dzp")), {{"LANG", "C"}, {"LC_ALL", "C"}});
    REQUIRE_MESSAGE(run.exitCode == 0, run.err);
    CHECK(run.err == "Counting frames…\nExtracting 30 frames…\nPacking…\nSuccess\n");
}

// With --force, frames of an earlier, longer extraction of the same name go
// first, and the converter says so; other files stay.
TEST_CASE("staleFramesGoWithForce") {
    const std::string frames = Fresh("stale-frames");
    REQUIRE(MakeFolder(frames));
    for (int frame = 1; frame <= 90; ++frame) {
        REQUIRE(WriteFile(frames + "/clip_" + Number5(frame) + ".jpg", "old"));
    }
    REQUIRE(WriteFile(frames + "/notes.txt", "mine"));
    const std::string package = Fresh("stale.dzp");
    const ToolRun run = RunCli(Complete(package) + Strings{"--frames-dir", frames, "--force"});
    REQUIRE_MESSAGE(run.exitCode == 0, run.err);
    CHECK_MESSAGE(
        Contains(run.err, "Deleted 90 frames of an earlier extraction from " + Shown(frames) + "."),
        run.err);
    int clipFrames = 0;
    for (const std::string& name : EntriesOf(frames)) {
        clipFrames += name.starts_with("clip_") && name.ends_with(".jpg");
    }
    CHECK(clipFrames == 30);
    CHECK(ReadAll(frames + "/notes.txt") == "mine");
    std::vector<ArchiveEntry> entries;
    REQUIRE(ReadArchive(package, entries));
    CHECK(entries.size() == 35);
}

#ifndef _WIN32  // a symbolic link, which Windows lets only administrators make
// A package that cannot be created fails in the builder, with the window's
// status text and the system's reason after it.
TEST_CASE("reportsAFailedPackingAsTheWindowDoes") {
    const std::string package = Fresh("nowhere.dzp");
    std::error_code error;
    fs::create_symlink(P(F().root.File("no/such/folder/x.dzp")), P(package), error);
    REQUIRE(!error);
    const ToolRun run = RunCli(Complete(package) + Strings{"--frames-dir", Fresh("frames")});
    CHECK(run.exitCode == 1);
    CHECK_MESSAGE(run.err.ends_with("Packing…\nErr -1 in OpenZip: No such file or directory\n"),
                  run.err);
}
#endif

// --check on a package of the road, on damaged ones and on several at once: one
// line per package when whole, one per fault otherwise, and the exit status.
TEST_CASE("checksPackages") {
    struct Row {
        std::string tag;
        Strings packages;  // "made", "cut", "text", "gone", "extra"
        int exitCode;
        Strings lines;  // each package's path stands for "%1", "%2"
    };
    const Row rows[] = {
        {"made by the road", {"made"}, 0, {"%1: OK"}},
        {"extra file is a note",
         {"extra"},
         0,
         {"%1: OK", "%1: note: 1 extra file, which the particle does not use: .\\ReadMe.txt"}},
        {"cut short",
         {"cut"},
         1,
         {"%1: the archive is cut short or damaged: its table of contents at the end cannot be "
          "found"}},
        {"not a ZIP", {"text"}, 1, {"%1: the file is not a ZIP archive"}},
        {"one whole, one gone", {"made", "gone"}, 1, {"%1: OK", "%2: there is no such file"}},
    };
    for (const Row& row : rows) {
        CAPTURE(row.tag);
        const std::string made = Fresh("Check.dzp");
        const ToolRun build = RunCli(Complete(made) + Strings{"--quiet"});
        REQUIRE_MESSAGE(build.exitCode == 0, build.err);
        Strings paths;
        for (const std::string& kind : row.packages) {
            const std::string path = Fresh(kind + ".dzp");
            if (kind == "made") {
                REQUIRE(CopyTestFile(made, path));
            } else if (kind == "cut") {
                const std::string whole = ReadAll(made);
                REQUIRE(WriteFile(path, whole.substr(0, whole.size() - 200)));
            } else if (kind == "text") {
                REQUIRE(WriteFile(path, "a text, not an archive\n"));
            } else if (kind == "extra") {
                REQUIRE(CopyTestFile(made, path));
                const std::string readMe = F().root.File("ReadMe.txt");
                REQUIRE(WriteFile(readMe, "notes"));
                REQUIRE(RunTool("python3", {"-c",
                                            "import sys, zipfile\n"
                                            "zipfile.ZipFile(sys.argv[1], 'a').write(sys.argv[2], "
                                            "'.\\\\ReadMe.txt')",
                                            path, readMe})
                            .exitCode == 0);
            }
            paths.push_back(path);
        }
        const ToolRun run = RunCli(Strings{"--check"} + paths);
        CHECK(run.exitCode == row.exitCode);
        CHECK(run.err == "");
        std::string expected;
        for (const std::string& line : row.lines) {
            std::string filled = line;
            for (std::size_t i = 0; i < paths.size(); ++i) {
                filled = ReplaceAll(filled, "%" + std::to_string(i + 1), Shown(paths[i]));
            }
            expected += filled + '\n';
        }
        CHECK(run.out == expected);
    }
}

// A package that does not read back is not reported as made: the script is
// rewritten (same size, so packing goes on) while a large file is being packed.
// Files are read in their turn only when none is deflated ahead.
TEST_CASE("removesAPackageThatDoesNotReadBack") {
    const std::string frames = Fresh("rewritten");
    REQUIRE(MakeFolder(frames));
    REQUIRE(WriteNoise(frames + "/AAA.bin", 48 << 20, 7));
    const std::string package = Fresh("Rewritten.dzp");
    REQUIRE(WriteFile(package, "an older package"));
    const std::string clt = frames + "/TitleTemplate.clt";
    ToolOptions options;
    options.startFolder = F().root.Text();
    options.environment = {{"SPARKLOOM_DEFLATE_THREADS", "0"}};
    options.timeoutMs = 120000;
    bool rewritten = false;
    options.whileRunning = [&](const ToolRun& sofar) {
        if (!rewritten && Contains(sofar.err, "Packing")) {
            std::error_code error;
            const auto size = fs::file_size(P(clt), error);
            rewritten = !error && WriteFile(clt, std::string(size, 'x'));
        }
    };
    const ToolRun run = RunTool(
        SPARKLOOM_CLI, Complete(package) + Strings{"--frames-dir", frames, "--force"}, options);
    CHECK(rewritten);
    CHECK(run.exitCode == 1);
    CHECK_MESSAGE(Contains(run.err,
                           "was written but does not read back whole:\n"
                           ".\\TitleTemplate.clt: it is not UTF-16LE text with a byte-order "
                           "mark"),
                  run.err);
    CHECK(!Contains(run.err, "Success"));
    // Only a good package replaces an old one.
    CHECK(ReadAll(package) == "an older package");
}

TEST_CASE("failsClearlyWithoutFfmpeg") {
    const std::string package = Fresh("noffmpeg.dzp");
    const ToolRun run = RunCli(Complete(package), {{"SPARKLOOM_FFMPEG", "/nonexistent"}});
    CHECK(run.exitCode == 1);
    CHECK_MESSAGE(
        (Contains(run.err, "ffmpeg was not found") && Contains(run.err, Shown("/nonexistent"))),
        run.err);
    CHECK(!Exists(package));
    CHECK(!Exists(Chopped(package) + "_frames"));
}

TEST_CASE("failsOnAVideoFfmpegCannotRead") {
    const std::string notVideo = F().clips + "/notes.mp4";
    REQUIRE(WriteFile(notVideo, "plain text, no video"));
    const std::string package = Fresh("unreadable.dzp");
    Strings arguments = Complete(package);
    arguments[0] = notVideo;
    const ToolRun run = RunCli(arguments);
    CHECK(run.exitCode == 1);
    CHECK_MESSAGE(Contains(run.err, "The video could not be read."), run.err);
    CHECK(!Contains(run.err, "Success"));
    CHECK(!Exists(package));
    CHECK(!Exists(Chopped(package) + "_frames"));

    arguments[0] = F().clips + "/gone.mp4";
    const ToolRun missing = RunCli(arguments);
    CHECK(missing.exitCode == 1);
    CHECK_MESSAGE(Contains(missing.err, "gone.mp4"), missing.err);
}

// ---- Errors that say why: each of the converter's I/O failures ends with the system's reason.

namespace {

#ifndef _WIN32
// A tmpfs of its own at path, unmounted again when the object goes. Mounting
// needs the right to (root, outside most containers); Mounted() says whether it was.
class Tmpfs {
public:
    Tmpfs(const std::string& path, const std::string& options) : mPath(path) {
        mMounted = MakeFolder(path) &&
                   RunTool("mount", {"-t", "tmpfs", "-o", options, "tmpfs", path}).exitCode == 0;
    }
    ~Tmpfs() {
        if (mMounted) {
            RunTool("umount", {mPath});
        }
    }
    Tmpfs(const Tmpfs&) = delete;
    Tmpfs& operator=(const Tmpfs&) = delete;
    bool Mounted() const { return mMounted; }

private:
    std::string mPath;
    bool mMounted = false;
};

const std::string kNoMount =
    "no tmpfs could be mounted here (mount needs root outside a restricted container)";
#endif

}  // namespace

#ifndef _WIN32
// The disk fills while packing: the builder's status text, then why; no half
// package is left.
TEST_CASE("packingOnAFullDiskSaysWhy" * doctest::test_suite("tmpfs")) {
    TempDir place;
    Tmpfs small(place.File("small"), "size=4m");
    if (!small.Mounted()) {
        Skip(kNoMount);
        return;
    }
    // Two copies of a thumbnail deflate cannot shrink need twice the room there is.
    const std::string big = place.File("thumb.jpg");
    REQUIRE(WriteNoise(big, 3 << 20, 5));
    const std::string package = place.File("small/Full.dzp");
    const std::string frames = Fresh("full-disk-frames");
    const ToolRun run = RunCli(Complete(package) + Strings{"--frames-dir", frames, "--thumb", big});
    CHECK(run.exitCode == 1);
    INFO(run.err);
    CHECK(Contains(run.err, "Packing…\nErr -1 in "));
    CHECK(Contains(run.err, ": the disk holding " + place.File("small") + " is full ("));
    CHECK(run.err.ends_with(" bytes free)\n"));
    CHECK(!Contains(run.err, "Success"));
    CHECK(!Exists(package));
    CHECK(Exists(frames + "/Thumb.jpg"));  // the frames folder stays, as after any failure
}

// The disk fills while ffmpeg writes the frames: the disk says so, naming the folder.
TEST_CASE("extractingOnAFullDiskSaysWhy" * doctest::test_suite("tmpfs")) {
    TempDir place;
    Tmpfs small(place.File("small"), "size=256k");
    if (!small.Mounted()) {
        Skip(kNoMount);
        return;
    }
    const std::string video = F().clips + "/full-disk.mp4";
    if (!Exists(video)) {
        REQUIRE(MakeClipAt(video, "2", "640x480", 30));  // 60 frames of some 30 KiB each
    }
    const std::string package = Fresh("full-disk.dzp");
    Strings arguments = Complete(package) + Strings{"--frames-dir", place.File("small/frames")};
    arguments[0] = video;
    const ToolRun run = RunCli(arguments);
    CHECK(run.exitCode == 1);
    INFO(run.err);
    CHECK(Contains(run.err,
                   "The frames could not be extracted.\nConversion failed!: the disk "
                   "holding " +
                       place.File("small/frames") + " is full ("));
    CHECK(!Contains(run.err, "Success"));
    CHECK(!Exists(package));
}

// Files beside the frames add up past the builder's signed 32-bit byte total:
// the refusal names the file and says why. Linux only: the 2.2 GB file is sparse.
TEST_CASE("filesPastTheBuildersLimitSayWhy") {
    const std::string frames = Fresh("huge-frames");
    REQUIRE(MakeFolder(frames));
    REQUIRE(WriteFile(frames + "/huge.bin", ""));
    std::error_code error;
    fs::resize_file(P(frames + "/huge.bin"), 2200ll << 20, error);
    REQUIRE(!error);
    const std::string package = Fresh("huge.dzp");
    const ToolRun run = RunCli(Complete(package) + Strings{"--frames-dir", frames, "--force"});
    CHECK(run.exitCode == 1);
    INFO(run.err);
    CHECK(Contains(run.err, "\nAddFile failed on huge.bin: "));
    CHECK(Contains(run.err, "2 GiB"));
    CHECK(!Contains(run.err, "Success"));
    CHECK(!Exists(package));
}
#endif

// The frames folder cannot be created: the message says what the system said.
TEST_CASE("framesFolderThatCannotBeMadeSaysWhy" * doctest::test_suite("tmpfs")) {
    TempDir place;
    struct Row {
        std::string tag;
        std::string parent;  // the frames folder goes in here
        std::string reason;
        Strings through = {};  // a program the converter is run through
    };
    std::vector<Row> rows;

    // A file where a folder should be: refused whoever runs the test.
    const std::string file = place.File("a file");
    REQUIRE(WriteFile(file, "not a folder"));
#ifndef _WIN32
    CHECK(WhyNoFolderIn(file) == "Not a directory");
#endif
    rows.push_back({"its parent is a file", file, WhyNoFolderIn(file)});

    // A folder without write permission, which root may write all the same.
    const std::string locked = place.File("locked");
    REQUIRE(MakeFolder(locked));
    std::error_code error;
    fs::permissions(P(locked), fs::perms::owner_read | fs::perms::owner_exec, error);
    if (const std::string why = WhyNoFolderIn(locked); !why.empty()) {
        rows.push_back({"a read-only folder", locked, why});
    } else {
#ifndef _WIN32
        // Root, which gives up that right for the converter.
        rows.push_back({"a read-only folder", locked,
                        ReasonOf(std::make_error_code(std::errc::permission_denied)),
                        kWithoutOverride});
#else
        MESSAGE("skipped \"a read-only folder\": this user writes into it regardless");
#endif
    }

#ifndef _WIN32
    Tmpfs readOnly(place.File("read-only"), "ro,size=64k");
    if (readOnly.Mounted()) {
        rows.push_back(
            {"a read-only file system", place.File("read-only"), "Read-only file system"});
    } else {
        Skip(kNoMount);
    }
#endif

    for (const Row& row : rows) {
        CAPTURE(row.tag);
        const std::string frames = row.parent + "/frames";
        const std::string package = Fresh("unmade.dzp");
        const ToolRun run =
            RunCli(Complete(package) + Strings{"--frames-dir", frames}, {}, row.through);
        CHECK(run.exitCode == 1);
        CHECK(run.err ==
              "Could not create the frames folder " + Shown(frames) + ": " + row.reason + "\n");
        CHECK(!Exists(package));
    }
    fs::permissions(P(locked), fs::perms::owner_all, error);
}
