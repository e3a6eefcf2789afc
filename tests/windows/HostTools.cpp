#include "windows/HostTools.h"

#include <windows.h>

#include <chrono>

#include "platform/WideText_win.h"

namespace sparkloom::test {

namespace {

// Wine's own exports for crossing between its paths and the host's.
using ToUnix = char*(__cdecl*)(const wchar_t*);
using ToDos = wchar_t*(__cdecl*)(const char*);

template <typename Function>
Function WineExport(const char* name) {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr ? reinterpret_cast<Function>(GetProcAddress(kernel, name)) : nullptr;
}

bool IsWindowsPath(const std::string& text) {
    const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
    return text.size() >= 3 && letter(text[0]) && text[1] == ':' &&
           (text[2] == '\\' || text[2] == '/');
}

// text inside single quotes, for sh.
std::string Quoted(const std::string& text) {
    return "'" + ReplaceAll(text, "'", "'\\''") + "'";
}

}  // namespace

std::string HostPath(const std::string& path) {
    static const ToUnix toUnix = WineExport<ToUnix>("wine_get_unix_file_name");
    if (toUnix == nullptr) {
        return path;
    }
    char* unix = toUnix(platform::WideOf(path).c_str());
    if (unix == nullptr) {
        return path;
    }
    std::string result(unix);
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

// ffmpeg too: the tests' clips are made by the host's, as the ffmpeg.exe that
// ships only reads video.
bool IsHostProgram(const std::string& program) {
    return program == "python3" || program == "unzip" || program == "sh" || program == "ffprobe" ||
           program == "ffmpeg";
}

ToolRun RunOnHost(const std::string& program, const std::vector<std::string>& arguments,
                  const ToolOptions& options) {
    ToolRun run;
    static const ToDos toDos = WineExport<ToDos>("wine_get_dos_file_name");
    if (toDos == nullptr) {
        run.err = program + " runs on the Linux host, which only Wine reaches";
        return run;
    }
    TempDir work;
    const std::string unixWork = HostPath(work.Text());
    const std::string folder =
        options.startFolder.empty() ? Utf8Of(fs::current_path()) : options.startFolder;
    std::string command = "cd " + Quoted(HostPath(folder)) + " || exit 1\n";
    for (const auto& [name, value] : options.environment) {
        command += "export " + name + "=" + Quoted(value) + "\n";
    }
    command += Quoted(program);
    for (const std::string& argument : arguments) {
        command += " " + Quoted(IsWindowsPath(argument) ? HostPath(argument) : argument);
    }

    wchar_t* dosShell = toDos("/bin/sh");
    const std::wstring shell(dosShell != nullptr ? dosShell : L"/bin/sh");
    HeapFree(GetProcessHeap(), 0, dosShell);
    // Each attempt writes files of its own. Wine starts a Linux program by
    // forking itself, and under load a start now and then never reaches the
    // program; one that has not said so within a while is tried again.
    const auto launch = [&](int attempt, std::string& error) {
        const std::string n = std::to_string(attempt);
        const std::string files = unixWork + "/" + n;
        std::string script = ": >" + Quoted(files + ".started") + "\n" + command + " </dev/null >" +
                             Quoted(files + ".out") + " 2>" + Quoted(files + ".err") + "\n";
        // The status file appears whole or not at all.
        script += "echo $? >" + Quoted(files + ".part") + " && mv " + Quoted(files + ".part") +
                  " " + Quoted(files + ".status") + "\n";
        const std::string scriptPath = work.File(n + ".sh");
        if (!WriteFile(scriptPath, script)) {
            error = "cannot write " + scriptPath;
            return false;
        }
        std::wstring line =
            L"\"" + shell + L"\" \"" + platform::WideOf(HostPath(scriptPath)) + L"\"";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &startup, &process)) {
            error = "/bin/sh could not be started: " + platform::SystemMessage(GetLastError());
            return false;
        }
        // Wine gives no handle of a Linux process; the status file tells its end.
        for (HANDLE handle : {process.hProcess, process.hThread}) {
            if (handle != nullptr) {
                CloseHandle(handle);
            }
        }
        return true;
    };

    constexpr int kAttempts = 3;
    constexpr auto kStartWithin = std::chrono::seconds(20);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
    int attempts = 0;
    auto launchedAt = std::chrono::steady_clock::now();
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (attempts == 0 || (attempts < kAttempts && now - launchedAt > kStartWithin &&
                              !fs::exists(P(work.File(std::to_string(attempts) + ".started"))))) {
            if (!launch(++attempts, run.err)) {
                return run;
            }
            launchedAt = now;
        }
        for (int k = 1; k <= attempts; ++k) {
            const std::string files = work.File(std::to_string(k));
            if (fs::exists(P(files + ".status"))) {
                run.exitCode = static_cast<int>(
                    ParseInteger(Trimmed(ReadAll(files + ".status"))).value_or(-1));
                run.out = ReadAll(files + ".out");
                run.err = ReadAll(files + ".err");
                return run;
            }
        }
        if (now > deadline) {
            run.err = program + " did not end within " + std::to_string(options.timeoutMs) +
                      " ms (" + std::to_string(attempts) + " starts)";
            return run;
        }
        Sleep(5);
    }
}

}  // namespace sparkloom::test
