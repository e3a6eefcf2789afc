// The Windows halves of the platform layer, under Wine: command lines as a
// child reads them back, a child's end with something left holding its output,
// the ANSI code page (this program runs under 1252 and under 1251), the
// converter's text into a pipe, the minizip this build links, and the
// console's stop events.
#include <windows.h>
#include <zip.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <string>
#include <thread>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/CodePage.h"
#include "platform/StopSignals.h"
#include "platform/StopSignals_win.h"
#include "support/CoreTest.h"

using namespace sparkloom;
using namespace sparkloom::test;

namespace {

using Strings = std::vector<std::string>;

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// Whether the process ends within timeoutMs (or is gone already).
bool Ends(int64_t pid, DWORD timeoutMs) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return true;
    }
    const bool ended = WaitForSingleObject(process, timeoutMs) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

}  // namespace

// Every argument reaches the child as it was given, whatever it holds, and so
// does a program path with blanks and letters of any script.
TEST_CASE("commandLinesReachTheChildExactly") {
    TempDir dir;
    const std::string folder = dir.File("Zoë Видео 火");
    const std::string child = folder + "\\child.exe";
    std::error_code error;
    fs::create_directory(P(folder), error);
    REQUIRE(fs::copy_file(P(SPARKLOOM_TEST_CHILD), P(child), error));
    const Strings rows[] = {
        {"plain", "two words", "tab\there", ""},
        {"say \"hi\"", "\"", "\\\"", "a\\\\\"b"},
        {"C:\\trailing\\", "C:\\two trailing\\\\", "\\\\server\\share\\", "\\"},
        {"Zoë", "C:\\Users\\Zoë\\Видео\\火.mp4", "🎆 \"quoted\" \\"},
        {"--name=a b", "-o", "x\\\"y z\\"},
    };
    for (const Strings& arguments : rows) {
        CAPTURE(arguments.front());
        const ToolRun run = RunTool(child, arguments);
        REQUIRE_MESSAGE(run.exitCode == 0, run.err);
        std::string expected;
        for (const std::string& argument : arguments) {
            expected += Hex(argument) + "\n";
        }
        CHECK(run.out == expected);
    }
}

// The child has ended while what it started still holds its output: the run
// ends with the child, and what it left behind ends with the job. (Under Wine
// the desktop process a child's first window call starts does just that.)
TEST_CASE("aChildsEndEndsTheRun") {
    std::string output;
    const auto started = std::chrono::steady_clock::now();
    const platform::ChildExit exit = platform::RunChild(
        SPARKLOOM_TEST_CHILD, {"--leave"}, "",
        [&output](const char* data, std::size_t size) { output.append(data, size); }, {}, 15,
        [&started] {
            return std::chrono::steady_clock::now() - started > std::chrono::seconds(60);
        });
    CHECK_FALSE(exit.stopped);
    CHECK(exit.exitCode == 0);
    const int64_t left = ParseInteger(Trimmed(Split(output, '\n').front())).value_or(0);
    REQUIRE(left > 0);
    CHECK(Ends(left, 10000));

    // A stop ends the child and everything it started at once.
    std::string pids;
    const platform::ChildExit stopped = platform::RunChild(
        SPARKLOOM_TEST_CHILD, {"--hold", SPARKLOOM_TEST_CHILD, "--wait"}, "",
        [&pids](const char* data, std::size_t size) { pids.append(data, size); }, {}, 15,
        [&pids] { return pids.find('\n') != std::string::npos; });
    CHECK(stopped.stopped);
    const int64_t waiting = ParseInteger(Trimmed(pids)).value_or(0);
    REQUIRE(waiting > 0);
    CHECK(Ends(waiting, 10000));
}

// Entry names are in the system's ANSI code page: what it lacks is refused,
// never given a look-alike, and the slots it leaves undefined read as U+FFFD.
TEST_CASE("theAnsiCodePage") {
    const UINT page = GetACP();
    REQUIRE((page == 1252 || page == 1251));
    CAPTURE(page);
    struct Row {
        const char* text;
        const char* in1252;  // nullptr: refused
        const char* in1251;
    };
    const Row rows[] = {
        {"Fire_00001.jpg", "Fire_00001.jpg", "Fire_00001.jpg"},
        {"Zoë", "Zo\xEB", nullptr},
        {"Жар", nullptr, "\xC6\xE0\xF0"},
        {"€‚", "\x80\x82", "\x88\x82"},
        {"ā", nullptr, nullptr},  // 1252's best fit would write "a"
        {"火", nullptr, nullptr},
        {"\xC2\x81", nullptr, nullptr},  // U+0081, the filler of an undefined slot
    };
    for (const Row& row : rows) {
        CAPTURE(row.text);
        const char* bytes = page == 1252 ? row.in1252 : row.in1251;
        const std::optional<std::string> encoded = platform::ToHostCodePage(row.text);
        CHECK(encoded.has_value() == (bytes != nullptr));
        if (bytes != nullptr && encoded) {
            CHECK(*encoded == bytes);
            CHECK(platform::FromHostCodePage(bytes) == row.text);
        }
    }
    // 0x81 is undefined in 1252, 0x98 in 1251.
    const std::string replacement = "\xEF\xBF\xBD";
    CHECK(platform::FromHostCodePage("\x81") == (page == 1252 ? replacement : "Ѓ"));
    CHECK(platform::FromHostCodePage("\x98") == (page == 1251 ? replacement : "˜"));
    CHECK(platform::HostCodePageName() == "Windows-" + std::to_string(page));
    // The system's reasons are UTF-8 too, whatever language they are in.
    for (const int code : {ERROR_ACCESS_DENIED, ERROR_DISK_FULL}) {
        const std::string reason = ReasonOf(std::error_code(code, std::system_category()));
        CHECK((!reason.empty() && IsUtf8(reason)));
    }
}

// The converter takes its arguments as UTF-16 and writes UTF-8 into a pipe,
// byte for byte as on Linux: no CR is added before a LF.
TEST_CASE("converterTextIntoAPipe") {
    const ToolRun run = RunTool(SPARKLOOM_CLI, {"--Жар-火"});
    CHECK(run.exitCode == 2);
    CHECK(run.out == "");
    CHECK(run.err ==
          "sparkloom-cli: Unknown option 'Жар-火'.\n"
          "Try 'sparkloom-cli --help' for more information.\n");
}

// The minizip this build links refuses names, comments and extra fields over
// 65535 bytes itself (CVE-2023-45853), besides the writer's own check.
TEST_CASE("minizipRefusesOverlongNames") {
    TempDir dir;
    const std::string archive = dir.File("long.zip");
    zipFile zip = zipOpen64(archive.c_str(), APPEND_STATUS_CREATE);
    REQUIRE(zip != nullptr);
    zip_fileinfo info{};
    const std::string longest(0xFFFF, 'n');
    const std::string tooLong(0x10000, 'n');
    CHECK(zipOpenNewFileInZip(zip, tooLong.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              Z_DEFLATED, 6) == ZIP_PARAMERROR);
    CHECK(zipOpenNewFileInZip(zip, "a", &info, nullptr, 0, nullptr, 0, tooLong.c_str(), Z_DEFLATED,
                              6) == ZIP_PARAMERROR);
    CHECK(zipOpenNewFileInZip(zip, "a", &info, nullptr, 0x10000, nullptr, 0, nullptr, Z_DEFLATED,
                              6) == ZIP_PARAMERROR);
    REQUIRE(zipOpenNewFileInZip(zip, longest.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                                Z_DEFLATED, 6) == ZIP_OK);
    CHECK(zipCloseFileInZip(zip) == ZIP_OK);
    CHECK(zipClose(zip, nullptr) == ZIP_OK);
    std::vector<ArchiveEntry> entries;
    REQUIRE(ReadArchive(archive, entries));
    REQUIRE(entries.size() == 1);
    CHECK(entries[0].rawName == longest);
}

// Ctrl+Break and a closing console, which Wine cannot deliver: the handler as
// Windows calls it, on a thread of its own. Last here, as the stop request stays.
TEST_CASE("consoleEventsAskToStop") {
    using platform::StopSignals;
    REQUIRE(StopSignals::Received() == 0);
    CHECK(platform::OnConsoleEvent(CTRL_BREAK_EVENT) == TRUE);
    CHECK(StopSignals::Received() == SIGTERM);
    CHECK(StopSignals::ExitStatusFor(StopSignals::Received()) == 143);
    CHECK(StopSignals::NameOf(StopSignals::Received()) == "Ctrl+Break");

    // Windows ends the process when the handler returns, so for a closing
    // console it returns only once the stop has been carried out.
    std::atomic<bool> returned = false;
    std::thread handler([&] {
        CHECK(platform::OnConsoleEvent(CTRL_CLOSE_EVENT) == TRUE);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    CHECK_FALSE(returned.load());
    const auto settled = std::chrono::steady_clock::now();
    StopSignals::Settled();
    handler.join();
    CHECK(std::chrono::steady_clock::now() - settled < std::chrono::seconds(2));
    CHECK(StopSignals::Received() == SIGTERM);
}
