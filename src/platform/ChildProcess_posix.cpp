#include "platform/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QElapsedTimer>
#include <QFile>
#include <algorithm>
#include <array>
#include <cerrno>
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
    void Close() {
        if (mFd >= 0) {
            ::close(mFd);  // on Linux the descriptor is gone even when close reports EINTR
            mFd = -1;
        }
    }

private:
    int mFd;
};

QString ErrorText(const QString& what, int error) {
    return QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(std::strerror(error)));
}

// Starts the child with the pipe's write end as stdout and stderr and /dev/null as stdin.
// Returns 0 or an errno value; a program that cannot be executed is reported here.
int Spawn(const QString& program, const QStringList& arguments, const QString& startFolder,
          int outFd, int nullFd, pid_t& pid) {
    const QByteArray file = QFile::encodeName(program);
    std::vector<QByteArray> args{file};
    for (const QString& argument : arguments) {
        args.push_back(QFile::encodeName(argument));
    }
    std::vector<char*> argv;
    for (QByteArray& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const QByteArray folder = QFile::encodeName(startFolder);

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
        posix_spawn_file_actions_adddup2(&actions, outFd, STDERR_FILENO),
        // Descriptors that others opened without O_CLOEXEC stay out of the child too.
        posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1),
        folder.isEmpty() ? 0 : posix_spawn_file_actions_addchdir_np(&actions, folder.constData()),
    };
    const auto failed =
        std::find_if(std::begin(setup), std::end(setup), [](int e) { return e != 0; });
    error = failed != std::end(setup)
                ? *failed
                : posix_spawnp(&pid, file.constData(), &actions, &attr, argv.data(), environ);
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
            mAskedAt.start();
        } else if (mAsked && !mKilled && mAskedAt.hasExpired(kStopGraceMilliseconds)) {
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
    QElapsedTimer mAskedAt;
};

}  // namespace

ChildExit RunChild(const QString& program, const QStringList& arguments, const QString& startFolder,
                   const OutputSink& sink, const EventPump& pump, int pollMilliseconds,
                   const StopRequest& stop) {
    ChildExit result;
    const int waitMs = std::max(pollMilliseconds, 1);  // 0 would spin, -1 would block the pump

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.error = ErrorText(QStringLiteral("No pipe for %1").arg(program), errno);
        return result;
    }
    Fd readEnd(ends[0]);
    Fd writeEnd(ends[1]);
    Fd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (devNull.Get() < 0) {
        result.error = ErrorText(QStringLiteral("No /dev/null for %1").arg(program), errno);
        return result;
    }

    pid_t pid = -1;
    if (int error = Spawn(program, arguments, startFolder, writeEnd.Get(), devNull.Get(), pid);
        error != 0) {
        result.error = ErrorText(QStringLiteral("%1 could not be started").arg(program), error);
        return result;
    }
    result.started = true;
    // From here on only the child and whatever inherits from it hold the write end, so
    // EOF means that all of them have closed it.
    writeEnd.Close();
    devNull.Close();

    Stopper stopper(pid, stop);
    std::array<char, kReadSize> buffer;
    for (;;) {
        if (pump) {
            pump();
        }
        // A child that holds its output open after being killed (a grandchild keeps
        // the pipe) must not keep the caller waiting: a stopped run ends with the child.
        if (stopper.Poll() && HasEnded(pid)) {
            break;
        }
        pollfd waiter{readEnd.Get(), POLLIN, 0};
        const int ready = ::poll(&waiter, 1, waitMs);
        if (ready == 0 || (ready < 0 && errno == EINTR)) {
            continue;
        }
        if (ready < 0) {
            break;  // cannot wait on the pipe any more; still reap the child below
        }
        const ssize_t got = ::read(readEnd.Get(), buffer.data(), buffer.size());
        if (got > 0) {
            if (sink) {
                sink(buffer.data(), static_cast<std::size_t>(got));
            }
        } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
    }
    readEnd.Close();

    // The output is closed, but the child may still be running: keep the events flowing.
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            break;
        }
        if (done < 0 && errno != EINTR) {
            result.error = ErrorText(QStringLiteral("Lost %1").arg(program), errno);
            return result;
        }
        if (done == 0) {
            if (pump) {
                pump();
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
