#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <vector>

extern char** environ;

namespace sparkloom::platform {

namespace {

constexpr std::size_t kReadSize = 10240;

// Owns one descriptor, so that every path out of RunChild closes it.
class Fd {
public:
    explicit Fd(int fd = -1) : mFd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Close(); }
    int Get() const { return mFd; }
    void Reset(int fd) {
        Close();
        mFd = fd;
    }
    void Close() {
        if (mFd >= 0) {
            ::close(mFd);  // on Linux the descriptor is gone even when close reports EINTR
            mFd = -1;
        }
    }

private:
    int mFd;
};

std::string ErrorText(const std::string& what, int error) {
    return what + ": " + std::generic_category().message(error);
}

// The environment the child gets: the caller's, with request's settings over it.
std::vector<std::string> ChildEnvironment(const ChildRequest& request) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        const std::string name = text.substr(0, text.find('='));
        const bool replaced = std::any_of(request.environment.begin(), request.environment.end(),
                                          [&](const auto& set) { return set.first == name; });
        if (!replaced) {
            entries.push_back(text);
        }
    }
    for (const auto& [name, value] : request.environment) {
        entries.push_back(name + "=" + value);
    }
    return entries;
}

// Starts the child with outFd as stdout, errFd as stderr and /dev/null as stdin.
// Returns 0 or an errno value; a program that cannot be executed is reported here.
// File names on this system are the bytes of their UTF-8 text.
int Spawn(const ChildRequest& request, int outFd, int errFd, int nullFd, pid_t& pid) {
    std::vector<std::string> args{request.program};
    args.insert(args.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment = ChildEnvironment(request);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    const std::string& folder = request.startFolder;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    int error = posix_spawn_file_actions_init(&actions);
    if (error != 0) {
        return error;
    }
    error = posix_spawnattr_init(&attr);
    if (error != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return error;
    }
    // Signals blocked or ignored here (SIGPIPE, say) must not stay so in the child.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    const int setup[] = {
        posix_spawnattr_setflags(
            &attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP),
        posix_spawnattr_setpgroup(&attr, 0),
        posix_spawnattr_setsigmask(&attr, &none),
        posix_spawnattr_setsigdefault(&attr, &all),
        posix_spawn_file_actions_adddup2(&actions, nullFd, STDIN_FILENO),
        posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO),
        posix_spawn_file_actions_adddup2(&actions, errFd, STDERR_FILENO),
        // Descriptors that others opened without O_CLOEXEC stay out of the child too.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1),
        folder.empty() ? 0 : posix_spawn_file_actions_addchdir_np(&actions, folder.c_str()),
    };
    const auto failed =
        std::find_if(std::begin(setup), std::end(setup), [](int e) { return e != 0; });
    error = failed != std::end(setup) ? *failed
                                      : posix_spawnp(&pid, request.program.c_str(), &actions, &attr,
                                                     argv.data(), envp.data());
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    return error;
}

// Whether the child has ended, leaving it to be reaped.
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Asks a child to end and, when it does not, ends it hard.
class Stopper {
public:
    Stopper(pid_t pid, const StopRequest& stop) : mPid(pid), mStop(stop) {}
    // Called between waits; returns whether a stop is under way.
    bool Poll() {
        if (!mAsked && mStop && mStop()) {
            mAsked = true;
            ::kill(-mPid, SIGTERM);  // the whole group: what the child started stops too
            mAskedAt = std::chrono::steady_clock::now();
        } else if (mAsked && !mKilled &&
                   std::chrono::steady_clock::now() - mAskedAt >
                       std::chrono::milliseconds(kStopGraceMilliseconds)) {
            mKilled = true;
            ::kill(-mPid, SIGKILL);
        }
        return mAsked;
    }
    bool Asked() const { return mAsked; }

private:
    pid_t mPid;
    const StopRequest& mStop;
    bool mAsked = false;
    bool mKilled = false;
    std::chrono::steady_clock::time_point mAskedAt;
};

}  // namespace

ChildExit RunChild(const ChildRequest& request) {
    ChildExit result;
    const std::string& program = request.program;
    const int waitMs =
        std::max(request.pollMilliseconds, 1);  // 0 would spin, -1 would block the pump

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.error = ErrorText("No pipe for " + program, errno);
        return result;
    }
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    const bool separate = static_cast<bool>(request.errorOutput);
    Fd errorRead;
    Fd errorWrite;
    if (separate) {
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            result.error = ErrorText("No pipe for " + program, errno);
            return result;
        }
        errorRead.Reset(ends[0]);
        errorWrite.Reset(ends[1]);
    }
    Fd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (devNull.Get() < 0) {
        result.error = ErrorText("No /dev/null for " + program, errno);
        return result;
    }

    pid_t pid = -1;
    if (int error = Spawn(request, writeEnd.Get(), separate ? errorWrite.Get() : writeEnd.Get(),
                          devNull.Get(), pid);
        error != 0) {
        result.error = ErrorText(program + " could not be started", error);
        return result;
    }
    result.started = true;
    // From here on only the child and whatever inherits from it hold the write ends, so
    // EOF means that all of them have closed them.
    writeEnd.Close();
    errorWrite.Close();
    devNull.Close();
    if (request.onStarted) {
        request.onStarted(pid);
    }

    Stopper stopper(pid, request.stop);
    std::array<char, kReadSize> buffer;
    bool outputOpen = true;
    bool errorsOpen = separate;
    while (outputOpen || errorsOpen) {
        if (request.pump) {
            request.pump();
        }
        // A child that holds its output open after being killed (a grandchild keeps
        // the pipe) must not keep the caller waiting: a stopped run ends with the child.
        if (stopper.Poll() && HasEnded(pid)) {
            break;
        }
        pollfd waiters[2] = {{outputOpen ? readEnd.Get() : -1, POLLIN, 0},
                             {errorsOpen ? errorRead.Get() : -1, POLLIN, 0}};
        const int ready = ::poll(waiters, 2, waitMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            continue;
        }
        if (ready < 0) {
            break;  // cannot wait on the pipes any more; still reap the child below
        }
        for (int which = 0; which < 2; ++which) {
            if (waiters[which].fd < 0 || waiters[which].revents == 0) {
                continue;
            }
            const ssize_t got = ::read(waiters[which].fd, buffer.data(), buffer.size());
            const OutputSink& sink = which == 0 ? request.output : request.errorOutput;
            if (got > 0) {
                if (sink) {
                    sink(buffer.data(), static_cast<std::size_t>(got));
                }
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                (which == 0 ? outputOpen : errorsOpen) = false;
            }
        }
    }
    readEnd.Close();
    errorRead.Close();

    // The output is closed, but the child may still be running: keep the events flowing.
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            result.error = ErrorText("Lost " + program, errno);
            return result;
        }
        if (done == 0) {
            if (request.pump) {
                request.pump();
            }
            stopper.Poll();
            ::poll(nullptr, 0, waitMs);
        }
    }
    result.stopped = stopper.Asked();
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.termSignal = WTERMSIG(status);
    }
    return result;
}

}  // namespace sparkloom::platform
