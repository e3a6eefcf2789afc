#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "common/Text.h"
#include "extract/ClipFacts.h"
#include "extract/Extraction.h"
#include "extract/VideoNames.h"
#include "support/CoreTest.h"

using namespace sparkloom;
using test::P;
using test::ReadAll;

namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

void SetEnvironment(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void UnsetEnvironment(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

// Points SPARKLOOM_FFMPEG somewhere for one scope.
struct ForcedFfmpeg {
    explicit ForcedFfmpeg(const std::string& path) { SetEnvironment("SPARKLOOM_FFMPEG", path); }
    ~ForcedFfmpeg() { UnsetEnvironment("SPARKLOOM_FFMPEG"); }
};

Names FramesNamed(const std::string& prefix, int count) {
    Names names;
    for (int n = 1; n <= count; ++n) {
        std::string digits = std::to_string(n);
        digits.insert(0, 5 - std::min<std::size_t>(5, digits.size()), '0');
        names.push_back(prefix + "_" + digits + ".jpg");
    }
    return names;
}

// The files of a folder, hidden ones too, by name.
Names FilesIn(const std::string& folder) {
    Names names;
    std::error_code error;
    for (fs::directory_iterator entry(P(folder), error), end; !error && entry != end;
         entry.increment(error)) {
        if (entry->is_regular_file(error)) {
            names.push_back(Utf8Of(entry->path().filename()));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsJpeg(const std::string& path) {
    return test::ReadAll(path).starts_with("\xFF\xD8\xFF");
}

// The size of an image as ffprobe reads it: "64x48".
std::string ImageSize(const std::string& path) {
    const test::ToolRun run =
        test::RunTool("ffprobe", {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                  "stream=width,height", "-of", "csv=s=x:p=0", path});
    return std::string(Trimmed(run.out));
}

#ifndef _WIN32  // for the stand-in scripts
void MakeExecutable(const std::string& path) {
    fs::permissions(P(path), fs::perms::owner_read | fs::perms::owner_exec,
                    fs::perm_options::replace);
}
#endif

// One extraction job with the window's defaults (count first, stale frames replaced).
struct Extracted {
    bool ok = false;
    int32_t lastFrame = 0;
    std::string error;
};
Extracted ExtractFrames(const std::string& video, const std::string& folder,
                        const std::string& prefix,
                        const std::function<void(int32_t)>& onFrame = {}) {
    ExtractionJob job({video, folder, prefix});
    ExtractionHooks hooks;
    hooks.onFrame = onFrame;
    const ExtractionOutcome outcome = job.Run(hooks);
    return {outcome.end == ExtractionOutcome::End::Done, outcome.written, outcome.error};
}
using ExtractOutcome = Extracted;

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What every case shares: a scratch folder and a one-second clip whose path
// holds blanks and "%", which must reach ffmpeg untouched.
struct Shared {
    test::TempDir dir;
    std::string clip;
    bool made = false;
    Shared() {
        fs::create_directory(dir.Path() / "clips 100%");
        clip = dir.File("clips 100%/My Clip.mp4");
        made = test::MakeClip(clip);
    }
    std::string File(const std::string& name) const { return dir.File(name); }
    std::string NewFolder(const std::string& name) const {
        const std::string folder = dir.File(name);
        std::error_code error;
        fs::create_directories(P(folder), error);
        return error ? std::string() : folder;
    }
};

const Shared& The() {
    static const Shared shared;
    REQUIRE(shared.made);
    return shared;
}

}  // namespace

TEST_CASE("nameRules") {
    CHECK(ProjectFolderOf("/clips/My Clip.mp4", "My Clip.mp4") == "/clips");
    CHECK(ParticleNameFromFile("My Clip.mp4") == "My Clip");
    CHECK(FramePrefixOf("My Clip") == "My_Clip");
    CHECK(ParticleNameFromFile("clip.mpeg") == "clip.");
    CHECK(ParticleNameFromFile(".mp4") == "");
    CHECK(ParticleNameFromFile("a.b") == std::nullopt);
    CHECK(ParticleNameFromFile("") == std::nullopt);
    // Every "/" + name goes, exactly and case-sensitively.
    CHECK(ProjectFolderOf("/a.mp4/a.mp4", "a.mp4") == "");
    CHECK(ProjectFolderOf("/A.MP4/a.mp4", "a.mp4") == "/A.MP4");
    CHECK(ProjectFolderOf("/x/ba.mp4", "a.mp4") == "/x/ba.mp4");
    CHECK(ProjectFolderOf("/x/a.mp4", "") == "/x/a.mp4");
    CHECK(FramePrefixOf("") == "");
    CHECK(FramePrefixOf("a  b\t%c") == "a__b\t%c");
    CHECK(FramePattern("") == "_%05d.jpg");
    CHECK(FramePattern("50%_%d") == "50%%_%%d_%05d.jpg");
    // The cut counts UTF-16 code units: "é" is one, "😀" two, and a cut through
    // "😀" drops it whole.
    CHECK(ParticleNameFromFile("\xC3\xA9t\xC3\xA9.mp4") == "\xC3\xA9t\xC3\xA9");
    CHECK(ParticleNameFromFile("a\xF0\x9F\x98\x80.mp4") == "a\xF0\x9F\x98\x80");
    CHECK(ParticleNameFromFile("a\xF0\x9F\x98\x80mp4") == "a");
    CHECK(ParticleNameFromFile("\xF0\x9F\x98\x80\xF0\x9F\x98\x80") == "");
    CHECK(ParticleNameFromFile("\xF0\x9F\x98\x80z") == std::nullopt);
}

TEST_CASE("animationDuration") {
    for (const auto& [frames, ms] : {std::pair{0, 0},
                                     {1, 33},
                                     {2, 67},
                                     {3, 100},
                                     {30, 1000},
                                     {1234567, 41152233},
                                     {64424509, 2147483633},
                                     {-2, -67}}) {
        CAPTURE(frames);
        CHECK(AnimationDurationFor(frames) == ms);
    }
    CHECK(AnimationDurationFor(std::numeric_limits<int32_t>::max()) ==
          std::numeric_limits<int32_t>::max());
}

TEST_CASE("countsAndExtracts") {
    const Shared& the = The();
#ifndef _WIN32
    // The ffmpeg the shell would run.
    const test::ToolRun onPath = test::RunTool("sh", {"-c", "command -v ffmpeg"});
    CHECK(FindFfmpeg() == std::string(Trimmed(onPath.out)));
#endif
    const CountOutcome count = CountFrames(the.clip);
    REQUIRE_MESSAGE(count.ok, count.error);
    CHECK(count.frames == 30);
    CHECK(AnimationDurationFor(count.frames) == 1000);

    const std::string folder = the.NewFolder("Name");
    int32_t reported = 0;
    const ExtractOutcome extract =
        ExtractFrames(the.clip, folder, "Name", [&reported](int32_t frame) { reported = frame; });
    REQUIRE_MESSAGE(extract.ok, extract.error);
    CHECK(FilesIn(folder) == FramesNamed("Name", 30));
    CHECK(IsJpeg(folder + "/Name_00030.jpg"));
    CHECK(extract.lastFrame == 30);
    CHECK(reported == 30);
}

TEST_CASE("framesNamedLiterally") {
    const Shared& the = The();
    for (const auto& [particleName, prefix] :
         {std::pair{"My Clip", "My_Clip"}, {"50% off", "50%_off"}, {"x%05d", "x%05d"}, {"", ""}}) {
        INFO(std::string(particleName));
        CHECK(FramePrefixOf(particleName) == prefix);
        // The folder bears the name too: a "%" there must stay literal as well.
        const std::string folder = the.NewFolder(std::string("named-") + particleName);
        const ExtractOutcome extract = ExtractFrames(the.clip, folder, prefix);
        CHECK_MESSAGE(extract.ok, extract.error);
        CHECK(FilesIn(folder) == FramesNamed(prefix, 30));
    }
}

TEST_CASE("extractingAgainReplacesFrames") {
    const Shared& the = The();
    const std::string folder = the.NewFolder("again");
    CHECK(ExtractFrames(the.clip, folder, "A").ok);
    CHECK(test::WriteFile(folder + "/A_00001.jpg", "stale"));
    const ExtractOutcome again = ExtractFrames(the.clip, folder, "A");
    CHECK_MESSAGE(again.ok, again.error);
    CHECK(IsJpeg(folder + "/A_00001.jpg"));
    CHECK(FilesIn(folder) == FramesNamed("A", 30));
}

#ifndef _WIN32  // the stand-in ffmpeg is a shell script

// A stand-in ffmpeg shows the exact arguments and what is made of its output.
TEST_CASE("commandLinesAndOutcome") {
    const Shared& the = The();
    const std::string script = the.File("fake-ffmpeg");
    REQUIRE(test::WriteFile(script,
                            "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n"
                            "printf 'frame=  999 fps=1\\rframe=1234567 fps=2\\r\\n'\n"));
    MakeExecutable(script);
    const ForcedFfmpeg forced(script);
    const auto arguments = [&script] { return test::ReadAll(script + ".args"); };

    const CountOutcome count = CountFrames(the.clip);
    CHECK(count.ok);
    CHECK(count.frames == 1234567);
    CHECK(arguments() ==
          "-nostdin\n-v\nverbose\n-i\n" + the.clip + "\n-map\n0:V:0\n-c\ncopy\n-f\nnull\n-\n");

    // Far more frames than a package takes: only the first ones are extracted.
    const std::string folder = the.NewFolder("stand-in");
    const ExtractOutcome extract = ExtractFrames(the.clip, folder, "50%_off");
    CHECK(arguments() == "-nostdin\n-v\nverbose\n-y\n-i\n" + the.clip +
                             "\n-map\n0:V:0\n-frames:v\n1994\n" + folder + "/50%%_off_%05d.jpg\n");
    CHECK(!extract.ok);  // it ended well, but wrote no frame
    CHECK_MESSAGE(Contains(extract.error, "wrote no frames"), extract.error);
}

// The converter's options: seeking before the input, one filter chain, the
// quality, and the package's limit, with times handed over in seconds.
TEST_CASE("commandLineWithOptions") {
    const Shared& the = The();
    const std::string script = the.File("fake-ffmpeg-options");
    REQUIRE(test::WriteFile(script, "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.args\"\n"));
    MakeExecutable(script);
    const ForcedFfmpeg forced(script);
    const std::string folder = the.NewFolder("stand-in-options");
    ExtractionRequest request{the.clip, folder, "P"};
    request.options.fps = 29.97;
    request.options.quality = 3;
    request.options.start = "01:02.5";
    request.options.duration = "4";
    request.options.width = 640;
    ExtractionJob job(request);
    CHECK(job.Run({}).end == ExtractionOutcome::End::Failed);  // nothing written
    CHECK(test::ReadAll(script + ".args") ==
          "-nostdin\n-v\nverbose\n-y\n-ss\n62.500000\n-t\n4.000000\n-i\n" + the.clip +
              "\n-map\n0:V:0\n-vf\nfps=29.97,scale=640:-2\n-q:v\n3\n-frames:v\n1994\n" + folder +
              "/P_%05d.jpg\n");
}

#endif  // _WIN32

TEST_CASE("timeTexts") {
    struct Row {
        const char* name;
        const char* text;
        double seconds;  // < 0: no TIME
    };
    const Row rows[] = {
        {"seconds", "90", 90.0},
        {"fraction", "1.5", 1.5},
        {"zero", "0", 0.0},
        {"minutes", "01:30", 90.0},
        {"one-digit minutes", "1:30", 90.0},
        {"hours", "1:02:03.25", 3723.25},
        {"many hours", "100:00:00", 360000.0},
        {"60 seconds", "00:60", -1.0},
        {"60 minutes", "1:60:00", -1.0},
        {"one-digit seconds", "1:5", -1.0},
        {"negative", "-1", -1.0},
        {"empty", "", -1.0},
        {"bare point", "1.", -1.0},
        {"four fields", "1:00:00:00", -1.0},
        {"unit", "5s", -1.0},
        {"blank", " 5", -1.0},
    };
    for (const Row& row : rows) {
        INFO(std::string(row.name));
        const std::optional<double> parsed = ParseTime(row.text);
        CHECK(parsed.has_value() == (row.seconds >= 0));
        if (parsed) {
            CHECK(*parsed == row.seconds);
        }
    }
}

// Clips as phones and cameras make them: whatever the clip, the job counts
// its first video stream and reports the frames it wrote, as they lie on disk.
TEST_CASE("realClips") {
    const Shared& the = The();
    const std::string clips = the.File("made");
    if (!fs::exists(P(clips + "/plain.mp4"))) {
        const test::ToolRun make =
            test::RunTool("sh", {SPARKLOOM_TEST_DATA "/make-clips.sh", clips});
        REQUIRE_MESSAGE(make.exitCode == 0, make.err);
    }
    struct Row {
        const char* name;
        const char* clip;
        int counted;
        int written;
        const char* frameSize;
    };
    const Row rows[] = {
        {"plain 30 fps", "plain.mp4", 30, 30, "64x48"},
        {"audio as stream 0", "audiofirst.mp4", 30, 30, "64x48"},
        // 1 s at 30 fps, then 1 s at 10 fps: the image sequence repeats frames.
        {"variable frame rate", "vfr.mp4", 40, 60, "64x48"},
        {"cover art 320x240", "cover.mp4", 30, 30, "64x48"},
        {"portrait (rotated)", "rotated.mp4", 30, 30, "48x64"},
    };
    for (const Row& row : rows) {
        INFO(std::string(row.name));
        const std::string folder = the.NewFolder(std::string("real-") + row.clip);
        ExtractionJob job({clips + "/" + row.clip, folder, "F"});
        int32_t lastProgress = 0;
        ExtractionHooks hooks;
        hooks.onFrame = [&lastProgress](int32_t frame) { lastProgress = frame; };
        const ExtractionOutcome outcome = job.Run(hooks);
        REQUIRE_MESSAGE(outcome.end == ExtractionOutcome::End::Done, outcome.error);
        CHECK(outcome.counted == row.counted);
        CHECK(outcome.written == row.written);
        CHECK(lastProgress == row.written);
        CHECK(FilesIn(folder) == FramesNamed("F", row.written));
        CHECK(ImageSize(folder + "/F_00001.jpg") == row.frameSize);
    }
}

// Frames of the same name from an earlier, longer run are replaced; nothing
// else in the folder is touched, and a refusal writes nothing.
TEST_CASE("staleFrames") {
    const Shared& the = The();
    const std::string folder = the.NewFolder("stale");
    Names names = FramesNamed("A", 45);
    names.insert(names.end(), {"A_1.jpg", "B_00001.jpg", "notes.txt"});
    for (const std::string& name : names) {
        REQUIRE(test::WriteFile(folder + "/" + name, "old"));
    }
    const FrameFiles found = FindFrameFiles(folder, "A");
    CHECK(found.names == FramesNamed("A", 45));
    CHECK(found.others == Names{"A_1.jpg", "B_00001.jpg", "notes.txt"});
    CHECK_MESSAGE(Contains(StaleFramesQuestion(found, "A"), "45 frames named A_#####.jpg"),
                  StaleFramesQuestion(found, "A"));
    CHECK(Contains(StaleFramesQuestion(found, "A"), "3 other files"));

    ExtractionJob refused({the.clip, folder, "A"});
    ExtractionHooks no;
    no.replaceStale = [](const FrameFiles&) { return false; };
    CHECK(refused.Run(no).end == ExtractionOutcome::End::Declined);
    CHECK(FindFrameFiles(folder, "A").names.size() == 45);

    ExtractionJob replaced({the.clip, folder, "A"});
    const ExtractionOutcome outcome = replaced.Run({});
    CHECK(outcome.end == ExtractionOutcome::End::Done);
    CHECK(outcome.removedStale == 45);
    CHECK(outcome.written == 30);
    CHECK(FindFrameFiles(folder, "A").names == FramesNamed("A", 30));
    CHECK(FindFrameFiles(folder, "A").others == found.others);
}

// More frames than a package takes: the job asks, and cuts at the limit.
TEST_CASE("packageLimit") {
    const Shared& the = The();
    for (const bool agree : {false, true}) {
        CAPTURE(agree);
        const std::string folder = the.NewFolder(agree ? "limit-ok" : "limit-cancel");
        ExtractionRequest request{the.clip, folder, "L"};
        request.maxFiles = 16;  // 10 frames beside ".", "..", thumbnails and templates
        ExtractionJob job(request);
        ExtractionHooks hooks;
        std::vector<int32_t> asked;
        hooks.trimToLimit = [&](int32_t counted, int32_t limit) {
            asked.insert(asked.end(), {counted, limit});
            return agree;
        };
        const ExtractionOutcome outcome = job.Run(hooks);
        CHECK(asked == std::vector<int32_t>{30, 10});
        CHECK(outcome.end ==
              (agree ? ExtractionOutcome::End::Done : ExtractionOutcome::End::Declined));
        CHECK(FilesIn(folder) == FramesNamed("L", agree ? 10 : 0));
        CHECK(outcome.trimmed == agree);
    }
    // Counting beside, as the converter does, cuts without asking and says so after.
    const std::string folder = the.NewFolder("limit-beside");
    ExtractionRequest request{the.clip, folder, "L"};
    request.maxFiles = 16;
    request.countBeside = true;
    ExtractionJob job(request);
    const ExtractionOutcome outcome = job.Run({});
    CHECK(outcome.end == ExtractionOutcome::End::Done);
    CHECK(outcome.trimmed);
    CHECK(outcome.counted == 30);
    CHECK(outcome.written == 10);
}

#ifndef _WIN32  // stand-in scripts, SIGTERM and waitpid

// A stop reaches ffmpeg within a second, also one that ignores SIGTERM; what
// it wrote stays, but never an unfinished frame, and no child is left.
TEST_CASE("stopMidway") {
    const Shared& the = The();
    struct Row {
        const char* name;
        const char* script;
    };
    const Row rows[] = {
        {"polite ffmpeg", "exec ffmpeg -re \"$@\""},
        // A wrapper that ignores SIGTERM and goes on after its ffmpeg has ended.
        {"wrapper ignoring SIGTERM", "trap '' TERM; ffmpeg -re \"$@\"; sleep 30"},
    };
    // Ten seconds: ffmpeg 7 reports its progress only twice a second.
    const std::string tenSeconds = the.File("ten.mp4");
    if (!fs::exists(P(tenSeconds))) {
        REQUIRE(test::MakeClip(tenSeconds, 10));
    }
    for (const Row& row : rows) {
        INFO(std::string(row.name));
        const std::string standIn = the.File("slow-ffmpeg");
        REQUIRE(test::WriteFile(standIn, std::string("#!/bin/sh\ncase \"$*\" in *.jpg) ") +
                                             row.script + ";; esac\nexec ffmpeg \"$@\"\n"));
        MakeExecutable(standIn);
        const ForcedFfmpeg forced(standIn);
        const std::string folder = the.NewFolder(std::string("stop-") + row.name);
        ExtractionJob job({tenSeconds, folder, "S"});
        std::chrono::steady_clock::time_point stoppedAt;
        ExtractionHooks hooks;
        hooks.onFrame = [&](int32_t frame) {
            if (frame >= 3 && !job.StopRequested()) {
                job.RequestStop();
                stoppedAt = std::chrono::steady_clock::now();
            }
        };
        const ExtractionOutcome outcome = job.Run(hooks);
        const auto stopMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - stoppedAt)
                                .count();
        MESSAGE("stopped " << stopMs << " ms after the request");
        CHECK(outcome.end == ExtractionOutcome::End::Stopped);
        CHECK_MESSAGE(stopMs < 2000, std::string("ffmpeg outlived its stop"));
        const Names left = FilesIn(folder);
        CHECK((!left.empty() && left.size() < 300));
        for (const std::string& name : left) {
            CAPTURE(name);
            const std::string bytes = test::ReadAll(folder + "/" + name);
            CHECK(IsJpeg(folder + "/" + name));
            CHECK(bytes.ends_with("\xFF\xD9"));
        }
        CHECK(::waitpid(-1, nullptr, WNOHANG) == -1);  // no child, not even a zombie
    }
}

#endif  // _WIN32

// A stop that comes as ffmpeg ends by itself gives one ending or the other,
// each whole: all frames and Done, or Stopped with whole frames only.
TEST_CASE("stopJustAsFfmpegEnds") {
    const Shared& the = The();
    for (int round = 0; round < 3; ++round) {
        CAPTURE(round);
        const std::string folder = the.NewFolder("race-" + std::to_string(round));
        ExtractionJob job({the.clip, folder, "R"});
        ExtractionHooks hooks;
        hooks.onFrame = [&job](int32_t frame) {
            if (frame >= 30) {
                job.RequestStop();
            }
        };
        const ExtractionOutcome outcome = job.Run(hooks);
        if (outcome.end == ExtractionOutcome::End::Done) {
            CHECK(FilesIn(folder) == FramesNamed("R", 30));
        } else {
            CHECK(outcome.end == ExtractionOutcome::End::Stopped);
            for (const std::string& name : FilesIn(folder)) {
                CHECK(test::ReadAll(folder + "/" + name).ends_with("\xFF\xD9"));
            }
        }
    }
}

TEST_CASE("failuresAreReported") {
    const Shared& the = The();
    const std::string folder = the.NewFolder("failures");
    {
        const ForcedFfmpeg forced(the.File("no-ffmpeg-here"));
        CHECK(FindFfmpeg() == "");
        const CountOutcome count = CountFrames(the.clip);
        CHECK(!count.ok);
        CHECK_MESSAGE(count.error.starts_with("ffmpeg was not found"), count.error);
        const ExtractOutcome extract = ExtractFrames(the.clip, folder, "N");
        CHECK(!extract.ok);
        CHECK_MESSAGE(extract.error.starts_with("ffmpeg was not found"), extract.error);
    }

    const std::string noise = the.File("noise.mp4");
    REQUIRE(test::WriteNoise(noise, 65536, 3));
    const CountOutcome count = CountFrames(noise);
    CHECK(!count.ok);
    // ffmpeg's own last line tells why.
    CHECK_MESSAGE(Contains(count.error, noise + ": Invalid data found"), count.error);
    const ExtractOutcome extract = ExtractFrames(noise, folder, "N");
    CHECK(!extract.ok);
    CHECK_MESSAGE(Contains(extract.error, noise + ": Invalid data found"), extract.error);

    const CountOutcome missing = CountFrames(the.File("missing.mp4"));
    CHECK(!missing.ok);
    CHECK_MESSAGE(Contains(missing.error, "No such file or directory"), missing.error);

    const ExtractOutcome noTarget = ExtractFrames(the.clip, the.File("absent"), "N");
    CHECK(!noTarget.ok);
    CHECK_MESSAGE(Contains(noTarget.error, "does not exist"), noTarget.error);
    CHECK(!ExtractFrames(the.clip, "", "N").ok);
    CHECK(FilesIn(folder).empty());
    CHECK(!fs::exists(P(the.File("absent"))));
}

#ifndef _WIN32  // a tmpfs mounted for the test

// The disk fills while ffmpeg writes the frames: the disk itself says so, not
// ffmpeg's wording, and the frame cut short is gone.
TEST_CASE("diskFullSaysWhy" * doctest::test_suite("tmpfs")) {
    test::TempDir dir;
    const std::string disk = dir.File("small disk");
    fs::create_directory(P(disk));
    const test::ToolRun mount =
        test::RunTool("mount", {"-t", "tmpfs", "-o", "size=256k", "tmpfs", disk});
    if (mount.exitCode != 0) {
        test::Skip("a small tmpfs cannot be mounted here (" +
                   Split(std::string(Trimmed(mount.err)), '\n')[0] + ")");
        return;
    }
    struct Unmount {
        std::string folder;
        ~Unmount() { test::RunTool("umount", {folder}); }
    } unmount{disk};
    // 90 frames of some 4 KiB each: more than the disk holds.
    const std::string clip = dir.File("big.mp4");
    REQUIRE(test::MakeClip(clip, 3, "320x240"));

    ExtractionJob job({clip, disk, "F"});
    const ExtractionOutcome outcome = job.Run({});
    CHECK(outcome.end == ExtractionOutcome::End::Failed);
    CAPTURE(outcome.error);
    CHECK(outcome.error.starts_with("The frames could not be extracted.\n"));
    CHECK(Contains(outcome.error, "\nConversion failed!: the disk holding " + disk + " is full ("));
    CHECK(outcome.error.ends_with(" bytes free)"));
    const FrameFiles left = FindFrameFiles(disk, "F");
    REQUIRE(!left.names.empty());
    for (const std::string& name : left.names) {
        CHECK_MESSAGE(test::ReadAll(disk + "/" + name).ends_with("\xFF\xD9"), name);
    }
}

#endif  // _WIN32

// The facts of each clip kind, from ffprobe's JSON as recorded by
// tests/data/capture-ffprobe.sh, against what ffmpeg wrote of the same clip.
TEST_CASE("clipFactsFromProbe") {
    for (const char* version : {"ffprobe51", "ffprobe71"}) {
        CAPTURE(version);
        const std::string data = std::string(SPARKLOOM_TEST_DATA) + "/" + version + "/";
        std::map<std::string, std::vector<int>> written;  // kind: frames, width, height
        for (const std::string& line : Split(ReadAll(data + "written.txt"), '\n')) {
            const std::vector<std::string> parts = Split(line, ' ');
            if (parts.size() == 4) {
                written[parts[0]] = {std::stoi(parts[1]), std::stoi(parts[2]), std::stoi(parts[3])};
            }
        }
        const struct {
            std::string kind, summary;
        } rows[]{
            {"vfr", "320 \u00d7 180, 60 frames a second, 0:11.92, 715 frames"},
            {"phone", "320 \u00d7 180, 59.94 frames a second, 0:06.01, 360 frames"},
            {"slow", "160 \u00d7 90, 240 frames a second, 0:05.00, 1,200 frames"},
            {"two", "160 \u00d7 90, 25 frames a second, 0:04.00, 100 frames"},
            {"rotated", "180 \u00d7 320, 30 frames a second, 0:03.00, 90 frames"},
            {"cover", "320 \u00d7 180, 30 frames a second, 0:03.00, 90 frames"},
            // Only the packets tell its length (ReadClipFacts reads them).
            {"live", "320 \u00d7 180, 30 frames a second, length unknown"},
        };
        REQUIRE(written.size() == std::size(rows));
        for (const auto& row : rows) {
            CAPTURE(row.kind);
            const ClipFacts facts = ClipFactsOfProbe(ReadAll(data + row.kind + ".json"));
            REQUIRE(facts.ok);
            CHECK(facts.Summary() == row.summary);
            const std::vector<int>& wrote = written[row.kind];
            CHECK(facts.width == wrote[1]);
            CHECK(facts.height == wrote[2]);
            if (facts.frames > 0) {
                CHECK(std::abs(facts.frames - wrote[0]) <= std::max(1, wrote[0] / 100));
                CHECK(ExpectedFrames(FrameOptions{}, facts) == facts.frames);
            }
        }
    }
    const std::string data = std::string(SPARKLOOM_TEST_DATA) + "/ffprobe51/";
    // The part asked for, cut to where the video has frames: the phone's audio runs on.
    const ClipFacts phone = ClipFactsOfProbe(ReadAll(data + "phone.json"));
    FrameOptions part;
    part.start = "5";
    CHECK(ExpectedFrames(part, phone) == 60);
    part.fps = 30;
    part.duration = "0.5";
    CHECK(ExpectedFrames(part, phone) == 15);
    part.start = "7";
    CHECK(ExpectedFrames(part, phone) == 0);
    CHECK_FALSE(ClipFactsOfProbe("{\"streams\": [{\"codec_type\": \"audio\"}]}").ok);
    CHECK_FALSE(ClipFactsOfProbe("not json").ok);
}

#ifndef _WIN32
// Without ffprobe beside ffmpeg, ffmpeg's banner still gives the size and the
// rate the frames are written at ("tbr", "1k" a thousand), never the container's
// length, which may be the audio's.
TEST_CASE("clipFactsWithoutProbe") {
    test::TempDir root;
    const std::string ffmpeg = Utf8Of(root.Path() / "ffmpeg");
    const struct {
        std::string banner;
        int width, height;
        double fps;
    } rows[]{
        {"Stream #0:0: Video: h264, yuv420p, 320x180, 16.86 fps, 60 tbr, 15360 tbn", 320, 180, 60},
        {"Stream #0:0: Video: h264, yuv420p, 160x90, 1k tbr, 1k tbn", 160, 90, 1000},
    };
    for (const auto& row : rows) {
        CAPTURE(row.banner);
        REQUIRE(test::WriteFile(ffmpeg,
                                "#!/bin/sh\necho '  Duration: 00:00:30.00, start: 0'"
                                " >&2\necho '    " +
                                    row.banner + "' >&2\nexit 1\n"));
        fs::permissions(P(ffmpeg), fs::perms::owner_all);
        ForcedFfmpeg forced(ffmpeg);
        CHECK(FindFfprobe().empty());
        const ClipFacts facts = ReadClipFacts("clip.mp4", {}, false);
        REQUIRE(facts.ok);
        CHECK_FALSE(facts.probed);
        CHECK(facts.width == row.width);
        CHECK(facts.height == row.height);
        CHECK(facts.fps == row.fps);
        CHECK(facts.seconds < 0);
        CHECK(facts.frames == 0);
        CHECK(ExpectedFrames(FrameOptions{}, facts) == 0);
    }
}
#endif
