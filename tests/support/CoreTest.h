#pragma once

// What the core's and the converter's tests share, without any toolkit: a
// scratch folder, whole-file reads and writes, running real programs through
// the project's own child-process layer, generated clips and an independent
// archive reader (Python's zipfile).

#include <doctest/doctest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/Text.h"

namespace sparkloom::test {

namespace fs = std::filesystem;

// A new empty folder under the system's temporary folder, removed with everything
// in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& Path() const { return mPath; }
    // The folder as UTF-8 text, and a name inside it.
    std::string Text() const { return Utf8Of(mPath); }
    std::string File(const std::string& name) const { return Utf8Of(mPath / PathFromUtf8(name)); }

private:
    fs::path mPath;
};

// The path of UTF-8 text; shorter to read in tests.
inline fs::path P(const std::string& utf8) {
    return PathFromUtf8(utf8);
}

// Plain file steps for tests; false (or nothing there) on any failure.
bool Exists(const std::string& path);
bool MakeFolder(const std::string& path);
bool CopyTestFile(const std::string& from, const std::string& to);

std::string ReadAll(const std::string& path);  // "" when unreadable
bool WriteFile(const std::string& path, std::string_view bytes);
// size bytes that deflate cannot shrink, the same for the same seed.
bool WriteNoise(const std::string& path, int64_t size, uint64_t seed);

// Text as the template files hold it: UTF-16LE with a byte-order mark.
std::string Utf16File(const std::string& text);

// A program run to its end.
struct ToolRun {
    int exitCode = -1;  // -1 when it could not start, or was ended by a signal
    int termSignal = 0;
    std::string out;
    std::string err;
};
struct ToolOptions {
    std::vector<std::pair<std::string, std::string>> environment;
    std::string startFolder;
    int timeoutMs = 120000;
    // Called once the program runs, with its process id.
    std::function<void(int64_t)> onStarted;
    // Polled while it runs; true ends it (as the timeout does).
    std::function<bool()> stop;
    // Called between waits with the output so far, to act in the middle of a run.
    std::function<void(const ToolRun& sofar)> whileRunning;
};
ToolRun RunTool(const std::string& program, const std::vector<std::string>& arguments,
                const ToolOptions& options = {});

// A clip of ffmpeg's test pattern: seconds × 30 frames at 64×48.
bool MakeClip(const std::string& path, int seconds = 1, const std::string& size = "64x48");

// One archive entry as Python's zipfile (an independent reader) sees it.
struct ArchiveEntry {
    std::string rawName;  // the name's bytes as stored
    std::string data;
    int method = -1;
    uint32_t externalAttr = 0;
    std::vector<int> dateTime;  // year, month, day, hour, minute, second
};
// Reads every entry with Python's zipfile after testzip() has checked all CRCs.
// Returns false when the archive is unreadable or a CRC is wrong.
bool ReadArchive(const std::string& path, std::vector<ArchiveEntry>& entries);
// `unzip -t` must report the archive free of errors.
bool UnzipTestsClean(const std::string& path);

// The value of one attribute of the first element called element in a template
// (UTF-16LE with a byte-order mark), as Python's XML reader sees it; a text in
// "<missing: ...>" when there is no such element or the file is no XML.
std::string TemplateAttribute(const std::string& utf16File, const std::string& element,
                              const std::string& name);

// The path as programs of the Linux host read it, for paths inside the text
// handed to python3 or unzip; the path itself on Linux. Under Wine, RunTool
// runs those two on the host (windows/HostTools.h) and converts whole
// arguments by itself.
std::string HostPath(const std::string& path);

// The most memory this process has held at once so far, in bytes; -1 when unknown.
int64_t PeakMemoryBytes();
// A case, or one row of it, that cannot run here says why and goes on. When
// nothing failed, the program then ends with kSkippedExitCode, which ctest
// shows as a skip.
void Skip(const std::string& why);
inline constexpr int kSkippedExitCode = 77;

// Waits until condition holds, polling; false when timeoutMs passed first.
bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);

#ifndef _WIN32
// Linux only: processes are found through /proc, and ffmpeg is stood in for by a
// shell script.

// The ffmpeg that writes frames (a ".jpg" pattern among its arguments) whose
// parent is parent, or 0.
int64_t ExtractingChild(int64_t parent);
// Whether a process of that id still exists (a zombie counts).
bool ProcessExists(int64_t pid);
// A stand-in for ffmpeg that reads the clip at its own pace while it writes
// frames (-re), so there is time to act in the middle; written to path.
bool WriteSlowFfmpeg(const std::string& path);
#endif

}  // namespace sparkloom::test
