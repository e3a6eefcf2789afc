#include "platform/ChildProcess.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string_view>
#include <vector>

#include "platform/CommandLine.h"
#include "platform/WideText_win.h"

namespace sparkloom::platform {

namespace {

constexpr DWORD kReadSize = 10240;

// Owns one handle, so that every path out of RunChild closes it.
class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : mHandle(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Close(); }
    HANDLE Get() const { return mHandle; }
    void Reset(HANDLE handle) {
        Close();
        mHandle = handle;
    }
    void Close() {
        if (mHandle != nullptr && mHandle != INVALID_HANDLE_VALUE) {
            CloseHandle(mHandle);
        }
        mHandle = nullptr;
    }

private:
    HANDLE mHandle;
};

std::string ErrorText(const std::string& what, DWORD error) {
    return what + ": " + SystemMessage(error);
}

// One output of the child: a named pipe, since only those can be read with a
// timeout, whose write end the child inherits. The output is over once the
// child has ended and the pipe holds nothing more. Waiting for every holder of
// the write end to close it would wait for strangers too: the console host
// started beside a child, and under Wine the desktop process the child's
// first window call starts, inherit the handles and live on.
class Output {
public:
    Output() { mOverlapped.hEvent = mEvent.Get(); }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { Finish({}); }

    // Makes the pipe; writeEnd becomes the inheritable end for the child.
    bool Open(Handle& writeEnd, std::string& error) {
        static std::atomic<unsigned> serial = 0;
        const std::wstring name = L"\\\\.\\pipe\\sparkloom-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++serial);
        mRead.Reset(CreateNamedPipeW(
            name.c_str(),
            PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
            PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, kReadSize, 0, nullptr));
        if (mRead.Get() == INVALID_HANDLE_VALUE || mEvent.Get() == nullptr) {
            error = SystemMessage(GetLastError());
            return false;
        }
        SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        writeEnd.Reset(CreateFileW(name.c_str(), GENERIC_WRITE, 0, &inheritable, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (writeEnd.Get() == INVALID_HANDLE_VALUE) {
            error = SystemMessage(GetLastError());
            return false;
        }
        mOpen = true;
        return true;
    }

    bool IsOpen() const { return mOpen; }
    // Signalled when the read under way has ended.
    HANDLE Event() const { return mEvent.Get(); }

    // Reads on: passes on what a finished read brought and starts the next
    // one, until one is under way or the pipe is closed.
    void Serve(const OutputSink& sink) {
        while (mOpen) {
            if (mPending) {
                DWORD got = 0;
                if (!GetOverlappedResult(mRead.Get(), &mOverlapped, &got, FALSE)) {
                    if (GetLastError() == ERROR_IO_INCOMPLETE) {
                        return;
                    }
                    mOpen = false;  // closed by every writer, or broken
                }
                mPending = false;
                if (got > 0 && sink) {
                    sink(mBuffer.data(), got);
                }
                continue;
            }
            ResetEvent(mEvent.Get());
            if (!ReadFile(mRead.Get(), mBuffer.data(), kReadSize, nullptr, &mOverlapped) &&
                GetLastError() != ERROR_IO_PENDING) {
                mOpen = false;
                return;
            }
            mPending = true;
        }
    }

    // Whether bytes wait in the pipe that no read has taken yet.
    bool HoldsMore() const {
        DWORD available = 0;
        return mOpen && PeekNamedPipe(mRead.Get(), nullptr, 0, nullptr, &available, nullptr) &&
               available > 0;
    }

    // Stops reading, passing on what the read under way had already taken.
    void Finish(const OutputSink& sink) {
        if (mPending) {
            DWORD got = 0;
            CancelIoEx(mRead.Get(), &mOverlapped);
            if (GetOverlappedResult(mRead.Get(), &mOverlapped, &got, TRUE) && got > 0 && sink) {
                sink(mBuffer.data(), got);
            }
            mPending = false;
        }
        mOpen = false;
    }

private:
    Handle mRead;
    Handle mEvent{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OVERLAPPED mOverlapped{};
    std::vector<char> mBuffer = std::vector<char>(kReadSize);
    bool mOpen = false;
    bool mPending = false;
};

// The caller's environment with request's settings over it, as CreateProcessW
// takes it: sorted by name regardless of case, NUL-separated, ending with two NULs.
std::wstring EnvironmentBlock(const ChildRequest& request) {
    std::vector<std::wstring> entries;
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = block; *entry != L'\0'; entry += wcslen(entry) + 1) {
            const std::wstring text(entry);
            const std::wstring name = text.substr(0, text.find(L'=', 1));
            const bool replaced = std::any_of(
                request.environment.begin(), request.environment.end(), [&](const auto& set) {
                    return CompareStringOrdinal(WideOf(set.first).c_str(), -1, name.c_str(), -1,
                                                TRUE) == CSTR_EQUAL;
                });
            if (!replaced) {
                entries.push_back(text);
            }
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : request.environment) {
        entries.push_back(WideOf(name) + L"=" + WideOf(value));
    }
    const auto nameOf = [](const std::wstring& entry) {
        return std::wstring_view(entry).substr(0, entry.find(L'=', 1));
    };
    std::stable_sort(entries.begin(), entries.end(), [&](const auto& a, const auto& b) {
        const std::wstring_view x = nameOf(a);
        const std::wstring_view y = nameOf(b);
        return CompareStringOrdinal(x.data(), static_cast<int>(x.size()), y.data(),
                                    static_cast<int>(y.size()), TRUE) == CSTR_LESS_THAN;
    });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    block += L'\0';
    return block;
}

}  // namespace

ChildExit RunChild(const ChildRequest& request) {
    ChildExit result;
    const std::string& program = request.program;
    const int waitMs = std::max(request.pollMilliseconds, 1);

    const bool separate = static_cast<bool>(request.errorOutput);
    Output outputs[2];
    Handle writeEnds[2];
    std::string pipeError;
    if (!outputs[0].Open(writeEnds[0], pipeError) ||
        (separate && !outputs[1].Open(writeEnds[1], pipeError))) {
        result.error = "No pipe for " + program + ": " + pipeError;
        return result;
    }
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    Handle nul(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                           OPEN_EXISTING, 0, nullptr));
    if (nul.Get() == INVALID_HANDLE_VALUE) {
        result.error = ErrorText("No NUL device for " + program, GetLastError());
        return result;
    }

    // Whatever the child starts dies with the job, and the job with us: no
    // ffmpeg outlives the program, even when it is ended hard.
    Handle job(CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job.Get() == nullptr ||
        !SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        result.error = ErrorText("No job object for " + program, GetLastError());
        return result;
    }

    // Only the three standard handles go to the child, not every inheritable
    // handle this process holds.
    HANDLE errorEnd = separate ? writeEnds[1].Get() : writeEnds[0].Get();
    HANDLE inherited[3] = {nul.Get(), writeEnds[0].Get(), errorEnd};
    const DWORD inheritedCount = separate ? 3 : 2;
    SIZE_T attributeSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &attributeSize);
    std::vector<char> attributeStore(attributeSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributeStore.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &attributeSize) ||
        !UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                   inheritedCount * sizeof(HANDLE), nullptr, nullptr)) {
        result.error = ErrorText("No start-up attributes for " + program, GetLastError());
        return result;
    }
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nul.Get();
    startup.StartupInfo.hStdOutput = writeEnds[0].Get();
    startup.StartupInfo.hStdError = errorEnd;
    startup.lpAttributeList = attributes;

    std::wstring commandLine = WideOf(QuotedCommandLine(program, request.arguments));
    std::wstring environment = EnvironmentBlock(request);
    const std::wstring folder = WideOf(request.startFolder);
    PROCESS_INFORMATION process{};
    const BOOL started =
        CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT |
                           EXTENDED_STARTUPINFO_PRESENT,
                       environment.data(), folder.empty() ? nullptr : folder.c_str(),
                       &startup.StartupInfo, &process);
    const DWORD startError = GetLastError();
    DeleteProcThreadAttributeList(attributes);
    if (!started) {
        result.error = ErrorText(program + " could not be started", startError);
        return result;
    }
    Handle processHandle(process.hProcess);
    Handle threadHandle(process.hThread);
    // Still suspended, so nothing it starts escapes the job.
    const bool inJob = AssignProcessToJobObject(job.Get(), processHandle.Get()) != 0;
    ResumeThread(threadHandle.Get());
    result.started = true;
    for (Handle& end : writeEnds) {
        end.Close();
    }
    nul.Close();
    if (request.onStarted) {
        request.onStarted(static_cast<int64_t>(process.dwProcessId));
    }

    const OutputSink* sinks[2] = {&request.output,
                                  separate ? &request.errorOutput : &request.output};
    bool asked = false;
    bool exited = false;
    for (;;) {
        if (request.pump) {
            request.pump();
        }
        if (!asked && request.stop && request.stop()) {
            asked = true;
            // ffmpeg has no console to be asked on; ending the job ends it and
            // anything it started.
            if (inJob) {
                TerminateJobObject(job.Get(), 1);
            } else {
                TerminateProcess(processHandle.Get(), 1);
            }
        }
        std::vector<HANDLE> waits;
        for (int k = 0; k < 2; ++k) {
            outputs[k].Serve(*sinks[k]);
            if (outputs[k].IsOpen()) {
                waits.push_back(outputs[k].Event());
            }
        }
        if (!exited) {
            exited = WaitForSingleObject(processHandle.Get(), 0) == WAIT_OBJECT_0;
        }
        // What the child wrote is in the pipe once it has ended; what it
        // started ends with the job when this returns.
        if (exited && !outputs[0].HoldsMore() && !outputs[1].HoldsMore()) {
            break;
        }
        if (!exited) {
            waits.push_back(processHandle.Get());
        }
        if (waits.empty()) {
            Sleep(static_cast<DWORD>(waitMs));
        } else {
            WaitForMultipleObjects(static_cast<DWORD>(waits.size()), waits.data(), FALSE,
                                   static_cast<DWORD>(waitMs));
        }
    }
    for (int k = 0; k < 2; ++k) {
        outputs[k].Finish(*sinks[k]);
    }
    DWORD code = 0;
    GetExitCodeProcess(processHandle.Get(), &code);
    result.stopped = asked;
    result.exited = true;
    result.exitCode = static_cast<int>(code);
    return result;
}

}  // namespace sparkloom::platform
