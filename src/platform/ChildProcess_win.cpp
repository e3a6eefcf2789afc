#include "platform/ChildProcess.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

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

// The output of both pipes, read by one thread each and handed to the caller's
// thread, so the sinks run where the caller runs and the pipes never fill.
class Drain {
public:
    void Add(HANDLE pipe, int which) {
        ++mOpen;
        mReaders.emplace_back([this, pipe, which] {
            std::string buffer(kReadSize, '\0');
            for (;;) {
                DWORD got = 0;
                if (!ReadFile(pipe, buffer.data(), kReadSize, &got, nullptr) || got == 0) {
                    break;
                }
                std::lock_guard lock(mLock);
                mChunks.push_back({which, buffer.substr(0, got)});
                mChanged.notify_all();
            }
            std::lock_guard lock(mLock);
            --mOpen;
            mChanged.notify_all();
        });
    }
    // Waits at most waitMs for output; passes what arrived to the sinks.
    // Returns false once every pipe is closed and all was passed on.
    bool Serve(int waitMs, const OutputSink& output, const OutputSink& errors) {
        std::vector<std::pair<int, std::string>> chunks;
        bool open = false;
        {
            std::unique_lock lock(mLock);
            mChanged.wait_for(lock, std::chrono::milliseconds(waitMs),
                              [this] { return !mChunks.empty() || mOpen == 0; });
            chunks.swap(mChunks);
            open = mOpen > 0;
        }
        for (const auto& [which, data] : chunks) {
            const OutputSink& sink = which == 0 || !errors ? output : errors;
            if (sink) {
                sink(data.data(), data.size());
            }
        }
        return open || !chunks.empty();
    }
    void Join() {
        for (std::thread& reader : mReaders) {
            reader.join();
        }
        mReaders.clear();
    }
    ~Drain() { Join(); }

private:
    std::mutex mLock;
    std::condition_variable mChanged;
    std::vector<std::pair<int, std::string>> mChunks;
    int mOpen = 0;
    std::vector<std::thread> mReaders;
};

// The caller's environment with request's settings over it, as CreateProcessW
// takes it: NUL-separated, ending with two NULs, sorted by name.
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

    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE ends[2];
    if (!CreatePipe(&ends[0], &ends[1], &inheritable, 0)) {
        result.error = ErrorText("No pipe for " + program, GetLastError());
        return result;
    }
    Handle readEnd(ends[0]);
    Handle writeEnd(ends[1]);
    SetHandleInformation(readEnd.Get(), HANDLE_FLAG_INHERIT, 0);
    const bool separate = static_cast<bool>(request.errorOutput);
    Handle errorRead;
    Handle errorWrite;
    if (separate) {
        if (!CreatePipe(&ends[0], &ends[1], &inheritable, 0)) {
            result.error = ErrorText("No pipe for " + program, GetLastError());
            return result;
        }
        errorRead.Reset(ends[0]);
        errorWrite.Reset(ends[1]);
        SetHandleInformation(errorRead.Get(), HANDLE_FLAG_INHERIT, 0);
    }
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
    HANDLE inherited[3] = {nul.Get(), writeEnd.Get(), separate ? errorWrite.Get() : writeEnd.Get()};
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
    startup.StartupInfo.hStdOutput = writeEnd.Get();
    startup.StartupInfo.hStdError = separate ? errorWrite.Get() : writeEnd.Get();
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
    AssignProcessToJobObject(job.Get(), processHandle.Get());
    ResumeThread(threadHandle.Get());
    result.started = true;
    writeEnd.Close();
    errorWrite.Close();
    nul.Close();
    if (request.onStarted) {
        request.onStarted(static_cast<int64_t>(process.dwProcessId));
    }

    Drain drain;
    drain.Add(readEnd.Get(), 0);
    if (separate) {
        drain.Add(errorRead.Get(), 1);
    }
    bool asked = false;
    std::chrono::steady_clock::time_point askedAt;
    const auto poll = [&] {
        if (!asked && request.stop && request.stop()) {
            asked = true;
            askedAt = std::chrono::steady_clock::now();
            // ffmpeg has no console to be asked on; ending the job ends it and
            // anything it started, and closes its pipes.
            TerminateJobObject(job.Get(), 1);
        }
    };
    for (;;) {
        if (request.pump) {
            request.pump();
        }
        poll();
        if (!drain.Serve(waitMs, request.output, request.errorOutput)) {
            break;
        }
    }
    drain.Join();
    while (WaitForSingleObject(processHandle.Get(), static_cast<DWORD>(waitMs)) == WAIT_TIMEOUT) {
        if (request.pump) {
            request.pump();
        }
        poll();
    }
    DWORD code = 0;
    GetExitCodeProcess(processHandle.Get(), &code);
    result.stopped = asked;
    result.exited = true;
    result.exitCode = static_cast<int>(code);
    return result;
}

}  // namespace sparkloom::platform
