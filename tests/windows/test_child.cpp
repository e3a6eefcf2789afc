// A child for the Windows process tests. By its first argument:
//   --wait           prints its process id and waits to be ended;
//   --leave          starts "--wait" in a process that inherits its output,
//                    prints that process's id and ends at once;
//   --hold PROGRAM.. runs the program through the project's child-process
//                    layer, passing its output on, and so holds its job;
// otherwise it prints each argument as UTF-8, one a line, in hex, so that
// blanks, quotes and backslashes come back exactly.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/ChildProcess.h"
#include "platform/WideText_win.h"

int wmain(int argc, wchar_t* argv[]) {
    _setmode(_fileno(stdout), _O_BINARY);  // LF stays LF
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(sparkloom::platform::Utf8OfWide(argv[i]));
    }
    const std::string mode = arguments.empty() ? "" : arguments[0];
    if (mode == "--wait") {
        std::printf("%lu\n", GetCurrentProcessId());
        std::fflush(stdout);
        Sleep(INFINITE);
    }
    if (mode == "--leave") {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring line = L"\"" + std::wstring(self) + L"\" --wait";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                            &startup, &process)) {
            return 3;
        }
        std::printf("%lu\n", process.dwProcessId);
        return 0;
    }
    if (mode == "--hold" && arguments.size() >= 2) {
        const sparkloom::platform::ChildExit exit = sparkloom::platform::RunChild(
            arguments[1], {arguments.begin() + 2, arguments.end()}, "",
            [](const char* data, std::size_t size) {
                std::fwrite(data, 1, size, stdout);
                std::fflush(stdout);
            },
            {}, 15);
        return exit.exitCode;
    }
    for (const std::string& argument : arguments) {
        for (const unsigned char c : argument) {
            std::printf("%02x", c);
        }
        std::printf("\n");
    }
    return 0;
}
