#define DOCTEST_CONFIG_IMPLEMENT
#include "support/CoreTest.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/ChildProcess.h"
#ifdef _WIN32
#include <windows.h>
// after windows.h
#include <psapi.h>

#include "windows/HostTools.h"
#else
#include <sys/resource.h>
#endif

namespace sparkloom::test {

namespace {
std::vector<std::string>& Skipped() {
    static std::vector<std::string> skipped;
    return skipped;
}
}  // namespace

void Skip(const std::string& why) {
    MESSAGE("SKIPPED: " << why);
    Skipped().push_back(why);
}

TempDir::TempDir() {
    std::random_device random;
    const fs::path base = fs::temp_directory_path();
    for (;;) {
        mPath = base / ("sparkloom-test-" + std::to_string(random()));
        if (fs::create_directory(mPath)) {
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Folders a test made read-only must not outlive it.
    for (auto it = fs::recursive_directory_iterator(mPath, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(mPath, ignored);
}

bool Exists(const std::string& path) {
    std::error_code error;
    return fs::exists(P(path), error);
}

bool MakeFolder(const std::string& path) {
    std::error_code error;
    fs::create_directories(P(path), error);
    return !error && fs::is_directory(P(path), error);
}

bool CopyTestFile(const std::string& from, const std::string& to) {
    std::error_code error;
    return fs::copy_file(P(from), P(to), error) && !error;
}

std::string ReadAll(const std::string& path) {
    std::ifstream file(P(path), std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

bool WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream file(P(path), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return file.good();
}

bool WriteNoise(const std::string& path, int64_t size, uint64_t seed) {
    std::ofstream file(P(path), std::ios::binary | std::ios::trunc);
    std::vector<uint64_t> block((1 << 20) / 8);
    uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (int64_t left = size; left > 0 && file;) {
        for (uint64_t& word : block) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            word = state;
        }
        const int64_t piece = std::min<int64_t>(left, static_cast<int64_t>(block.size() * 8));
        file.write(reinterpret_cast<const char*>(block.data()), piece);
        left -= piece;
    }
    file.close();
    return file.good();
}

std::string Utf16File(const std::string& text) {
    std::string bytes("\xFF\xFE");
    const std::u16string units = Utf16FromUtf8(text).value();
    for (const char16_t c : units) {
        bytes += static_cast<char>(c & 0xFF);
        bytes += static_cast<char>(c >> 8);
    }
    return bytes;
}

ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const ToolOptions& options) {
#ifdef _WIN32
    if (IsHostProgram(program)) {
        return RunOnHost(program, arguments, options);
    }
#endif
    ToolRun run;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    platform::ChildRequest request;
    request.program = program;
    request.arguments = arguments;
    request.startFolder = options.startFolder;
    request.environment = options.environment;
    request.output = [&run](const char* data, std::size_t size) { run.out.append(data, size); };
    request.errorOutput = [&run](const char* data, std::size_t size) {
        run.err.append(data, size);
    };
    request.pollMilliseconds = 5;
    request.onStarted = options.onStarted;
    if (options.whileRunning) {
        request.pump = [&] { options.whileRunning(run); };
    }
    request.stop = [&] {
        return std::chrono::steady_clock::now() > deadline || (options.stop && options.stop());
    };
    const platform::ChildExit exit = platform::RunChild(request);
    run.termSignal = exit.termSignal;
    run.exitCode = exit.exited ? exit.exitCode : -1;
    if (!exit.started) {
        run.err = exit.error;
    }
    return run;
}

bool MakeClip(const std::string& path, int seconds, const std::string& size) {
    return RunTool("ffmpeg",
                   {"-nostdin", "-v", "error", "-y", "-f", "lavfi", "-i",
                    "testsrc=duration=" + std::to_string(seconds) + ":size=" + size + ":rate=30",
                    "-pix_fmt", "yuv420p", path})
               .exitCode == 0;
}

namespace {

std::string FromHex(std::string_view hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
    }
    return bytes;
}

}  // namespace

bool ReadArchive(const std::string& path, std::vector<ArchiveEntry>& entries) {
    // One line per entry: name, data as hex; method, attributes and the date-time
    // as numbers; all separated by blanks.
    static const char* script = R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as z:
    if z.testzip() is not None:
        sys.exit(3)
    for i in z.infolist():
        raw = i.orig_filename.encode('cp437') if not (i.flag_bits & 0x800) else i.orig_filename.encode('utf-8')
        print(raw.hex() or '-', z.read(i).hex() or '-', i.compress_type, i.external_attr,
              *i.date_time)
)PY";
    const ToolRun run = RunTool("python3", {"-c", script, path});
    if (run.exitCode != 0) {
        return false;
    }
    entries.clear();
    for (const std::string& line : Split(run.out, '\n')) {
        const std::vector<std::string> fields = Split(line, ' ');
        if (fields.size() != 10) {
            continue;
        }
        ArchiveEntry entry;
        entry.rawName = fields[0] == "-" ? "" : FromHex(fields[0]);
        entry.data = fields[1] == "-" ? "" : FromHex(fields[1]);
        entry.method = std::stoi(fields[2]);
        entry.externalAttr = static_cast<uint32_t>(std::stoul(fields[3]));
        for (std::size_t k = 4; k < 10; ++k) {
            entry.dateTime.push_back(std::stoi(fields[k]));
        }
        entries.push_back(std::move(entry));
    }
    return true;
}

bool UnzipTestsClean(const std::string& path) {
    return RunTool("unzip", {"-tqq", path}).exitCode == 0;
}

std::string TemplateAttribute(const std::string& utf16File, const std::string& element,
                              const std::string& name) {
    // The bytes travel as hex on the command line: no file to write, on either system.
    static const char hexDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : utf16File) {
        hex += hexDigits[byte >> 4];
        hex += hexDigits[byte & 15];
    }
    static const char* script = R"PY(
import sys, xml.etree.ElementTree as ET
try:
    root = ET.fromstring(bytes.fromhex(sys.argv[1]))
except ET.ParseError as e:
    sys.stdout.write('<missing: %s>' % e); sys.exit(0)
for e in root.iter(sys.argv[2]):
    sys.stdout.buffer.write(e.get(sys.argv[3], '').encode('utf-8')); sys.exit(0)
sys.stdout.write('<missing: no %s>' % sys.argv[2])
)PY";
    return RunTool("python3", {"-c", script, hex, element, name}).out;
}

int64_t PeakMemoryBytes() {
#ifdef _WIN32
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
               ? static_cast<int64_t>(counters.PeakWorkingSetSize)
               : -1;
#else
    rusage usage{};
    return getrusage(RUSAGE_SELF, &usage) == 0 ? int64_t{usage.ru_maxrss} * 1024 : -1;
#endif
}

bool WaitFor(const std::function<bool()>& condition, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

#ifndef _WIN32

std::string HostPath(const std::string& path) {
    return path;
}

int64_t ExtractingChild(int64_t parent) {
    std::error_code error;
    for (const fs::directory_entry& process : fs::directory_iterator(P("/proc"), error)) {
        const std::optional<int64_t> pid = ParseInteger(Utf8Of(process.path().filename()));
        if (!pid) {
            continue;
        }
        // "pid (name) state ppid ...": the name may hold blanks, so read after its ")".
        const std::string stat = ReadAll(Utf8Of(process.path() / P("stat")));
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            continue;
        }
        const std::vector<std::string> fields = Split(stat.substr(close + 2), ' ');
        if (fields.size() < 2 || ParseInteger(fields[1]) != parent) {
            continue;
        }
        if (stat.find("(ffmpeg)") != std::string::npos &&
            ReadAll(Utf8Of(process.path() / P("cmdline"))).find(".jpg") != std::string::npos) {
            return *pid;
        }
    }
    return 0;
}

bool ProcessExists(int64_t pid) {
    std::error_code error;
    return pid > 0 && fs::exists(P("/proc/" + std::to_string(pid)), error);
}

bool WriteSlowFfmpeg(const std::string& path) {
    std::error_code error;
    if (!WriteFile(path,
                   "#!/bin/sh\n"
                   "case \"$*\" in *.jpg) exec ffmpeg -re \"$@\";; esac\n"
                   "exec ffmpeg \"$@\"\n")) {
        return false;
    }
    fs::permissions(P(path), fs::perms::owner_read | fs::perms::owner_exec, error);
    return !error;
}

#endif

}  // namespace sparkloom::test

int main(int argc, char** argv) {
    doctest::Context context(argc, argv);
    const int failed = context.run();
    if (context.shouldExit() || failed != 0 || sparkloom::test::Skipped().empty()) {
        return failed;
    }
    for (const std::string& why : sparkloom::test::Skipped()) {
        std::cout << "SKIPPED: " << why << '\n';
    }
    return sparkloom::test::kSkippedExitCode;
}
