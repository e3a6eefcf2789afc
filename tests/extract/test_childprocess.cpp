// The child-process runner is POSIX here (sh, /proc, signals); Windows has its own.
#ifndef _WIN32

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/EventPump.h"
#include "extract/ExecAndCapture.h"
#include "platform/ChildProcess.h"
#include "support/CoreTest.h"

using namespace sparkloom;

namespace {

namespace fs = std::filesystem;

int OpenDescriptors() {
    std::error_code error;
    int count = 0;
    for (fs::directory_iterator entry("/proc/self/fd", error), end; !error && entry != end;
         entry.increment(error)) {
        ++count;
    }
    return count;
}

// No case may leave a descriptor behind, whichever way it ends.
struct DescriptorsKept {
    int before = OpenDescriptors();
    ~DescriptorsKept() { CHECK(OpenDescriptors() == before); }
};

// One run of the runner with everything it reports recorded.
struct Run {
    platform::ChildExit exit;
    std::string output;
    int pieces = 0;
    std::size_t largestPiece = 0;
    int64_t milliseconds = 0;
};

Run RunIt(const std::string& program, const std::vector<std::string>& arguments,
          const std::string& folder = {}) {
    Run run;
    const auto start = std::chrono::steady_clock::now();
    const auto sink = [&run](const char* data, std::size_t size) {
        run.output.append(data, size);
        ++run.pieces;
        run.largestPiece = std::max(run.largestPiece, size);
    };
    run.exit = platform::RunChild(program, arguments, folder, sink, {}, 10);
    run.milliseconds = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
    return run;
}

Run Shell(const std::string& script) {
    return RunIt("sh", {"-c", script});
}

}  // namespace

TEST_CASE_FIXTURE(DescriptorsKept, "missingProgramReturnsAtOnce") {
    for (const std::string program : {"/nonexistent/program", "sparkloom-no-such-program"}) {
        CAPTURE(program);
        const Run run = RunIt(program, {"x"});
        CHECK(!run.exit.started);
        CHECK_MESSAGE(run.exit.error.find(program) != std::string::npos, run.exit.error);
        CHECK(run.output.empty());
        CHECK(run.milliseconds < 1000);
    }
    const Run noFolder = RunIt("pwd", {}, "/nonexistent/folder");
    CHECK(!noFolder.exit.started);
    CHECK(!noFolder.exit.error.empty());
}

TEST_CASE_FIXTURE(DescriptorsKept, "exitStatus") {
    const Run silent = RunIt("true", {});
    CHECK((silent.exit.started && silent.exit.exited));
    CHECK(silent.exit.exitCode == 0);
    CHECK(silent.pieces == 0);

    const Run coded = Shell("exit 7");
    CHECK(coded.exit.exited);
    CHECK(coded.exit.exitCode == 7);

    const Run killed = Shell("kill -TERM $$");
    CHECK((killed.exit.started && !killed.exit.exited));
    CHECK(killed.exit.termSignal == SIGTERM);
}

TEST_CASE_FIXTURE(DescriptorsKept, "childSetup") {
    // stdin is /dev/null (cat would wait forever otherwise); stderr joins stdout.
    CHECK(RunIt("cat", {}).output == "");
    CHECK(Shell("readlink /proc/self/fd/0; echo err >&2; echo out").output ==
          "/dev/null\nerr\nout\n");
    // No shell in between: quotes, blanks, "$" and "%" arrive untouched.
    CHECK(RunIt("printf", {"%s|", "a b", "\"q\" 'x'", "$HOME", "50%_%05d", ""}).output ==
          "a b|\"q\" 'x'|$HOME|50%_%05d||");
    // Only the three streams are inherited (3 is ls's own handle on the folder).
    CHECK(RunIt("ls", {"/proc/self/fd"}).output == "0\n1\n2\n3\n");

    test::TempDir dir;
    CHECK(RunIt("pwd", {}, dir.Text()).output == Utf8Of(fs::canonical(dir.Path())) + "\n");
    CHECK(RunIt("pwd", {}).output == Utf8Of(fs::canonical(fs::current_path())) + "\n");
}

TEST_CASE_FIXTURE(DescriptorsKept, "largeOutputReadInBoundedPieces") {
    const Run run = RunIt("head", {"-c", "5000000", "/dev/zero"});
    CHECK(run.exit.exitCode == 0);
    CHECK(run.output.size() == 5000000);
    CHECK(std::count(run.output.begin(), run.output.end(), '\0') == 5000000);
    CHECK(run.largestPiece <= 10240);
}

TEST_CASE_FIXTURE(DescriptorsKept, "grandchildHoldingThePipeIsAwaited") {
    const Run run = Shell("(sleep 1; echo late) & exit 0");
    CHECK(run.output == "late\n");
    CHECK_MESSAGE(run.milliseconds >= 900, run.milliseconds);
    CHECK(run.exit.exitCode == 0);
}

// The front-end's events keep being served while a child sleeps, with its output
// open and after closing it: in a second, at least ten of its 50 ms slices see
// the pump, as a 50 ms timer of the window would fire ten times.
TEST_CASE_FIXTURE(DescriptorsKept, "eventLoopStaysLive") {
    struct Case {
        const char* script;
        const char* expected;
    };
    for (const Case& c :
         {Case{"sleep 1; echo done", "done\n"}, Case{"exec >&- 2>&-; sleep 1", ""}}) {
        INFO(std::string(c.script));
        const auto start = std::chrono::steady_clock::now();
        std::set<int64_t> slices;
        SetEventPump([&] {
            slices.insert(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - start)
                              .count() /
                          50);
        });
        std::string output;
        const ExecResult run = ExecAndCapture("sh", {"-c", c.script}, {},
                                              [&output](std::string_view b) { output += b; });
        SetEventPump({});
        CHECK(run.exited);
        CHECK(output == c.expected);
        CHECK_MESSAGE(slices.size() >= 10, slices.size());
    }
    // A worker thread's run serves no events: they belong to the window's thread.
    int pumped = 0;
    SetEventPump([&pumped] { ++pumped; });
    const ExecResult quiet = ExecAndCapture("sh", {"-c", "sleep 0.2"}, {}, {}, {}, false);
    SetEventPump({});
    CHECK(quiet.exited);
    CHECK(pumped == 0);
}

#endif  // _WIN32
