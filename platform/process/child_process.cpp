#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/fs/path.h"
#include "platform/process/command_line_env.h"
#include "platform/process/process.h"
#include "platform/process/program_search.h"
#include "platform/system/environment_lock.h"
#include "platform/text/text.h"

extern char** environ;

namespace win {

namespace {

constexpr DWORD kStillActive = 259;
constexpr DWORD kWaitTimeout = 258;

DWORD spawnError(int e) {
    switch (e) {
        case ENOENT:
            return err::fileNotFound;
        case ENOTDIR:
            return err::pathNotFound;
        case ENOEXEC:
            return err::badExeFormat;
        case ENOMEM:
            return err::notEnoughMemory;
        default:
            return err::accessDenied;
    }
}

// Windows has no execute bit: a program copied into the machine may lack it.
void makeExecutable(const std::filesystem::path& program) {
    struct stat st {};
    if (::stat(program.c_str(), &st) != 0 || (st.st_mode & S_IXUSR)) return;
    ::chmod(program.c_str(), st.st_mode | S_IXUSR | ((st.st_mode & S_IRGRP) ? S_IXGRP : 0) |
                                 ((st.st_mode & S_IROTH) ? S_IXOTH : 0));
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && iequals(fromUtf8(a), fromUtf8(b));
}

std::vector<std::string> childEnvironment(const std::wstring& commandLine, const std::wstring& directory,
                                          const ChildOptions& options) {
    std::vector<std::pair<std::string, std::string>> vars;
    std::unique_lock lock(environmentMutex());
    for (char** e = environ; *e; ++e) {
        std::string_view kv(*e);
        const auto eq = kv.find('=');
        if (eq == std::string_view::npos) continue;
        vars.emplace_back(std::string(kv.substr(0, eq)), std::string(kv.substr(eq + 1)));
    }
    lock.unlock();
    auto set = [&vars](std::string name, std::string value) {
        // Windows variable names ignore case: replace whatever spelling is there.
        for (auto& [n, v] : vars) {
            if (sameName(n, name)) {
                v = std::move(value);
                return;
            }
        }
        vars.emplace_back(std::move(name), std::move(value));
    };
    for (const auto& [name, value] : options.environment) set(toUtf8(name), toUtf8(value));
    set(kCommandLineVariable, toUtf8(commandLine));
    set(kCurrentDirectoryVariable, toUtf8(directory));
    std::vector<std::string> out;
    for (auto& [n, v] : vars) out.push_back(n + "=" + v);
    return out;
}

}  // namespace

struct ChildProcess::State {
    pid_t pid = -1;
    int pidfd = -1;
    int outFd = -1;
    bool reaped = false;
    DWORD code = kStillActive;
    std::string output;

    ~State() {
        if (outFd >= 0) ::close(outFd);
        if (pidfd >= 0) ::close(pidfd);
        if (pid > 0 && !reaped) ::waitpid(pid, nullptr, WNOHANG);  // no zombie when it already ended
    }

    void readAvailable() {
        char buffer[16384];
        while (outFd >= 0) {
            const ssize_t n = ::read(outFd, buffer, sizeof buffer);
            if (n > 0) {
                output.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) {  // every writer closed its end
                ::close(outFd);
                outFd = -1;
            }
            return;
        }
    }

    bool reap(bool block) {
        if (reaped) return true;
        int status = 0;
        pid_t r;
        do r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
        while (r < 0 && errno == EINTR);
        if (r != pid) return false;
        reaped = true;
        if (WIFEXITED(status))
            code = static_cast<DWORD>(WEXITSTATUS(status));
        else if (WIFSIGNALED(status))
            code = 128 + static_cast<DWORD>(WTERMSIG(status));
        // Whatever the child wrote before it ended is in the pipe; a grandchild that still holds the
        // pipe does not keep us waiting.
        readAvailable();
        return true;
    }
};

ChildProcess::ChildProcess() : state_(std::make_unique<State>()) {}
ChildProcess::~ChildProcess() = default;

namespace {

// fork and exec, the child asking the kernel to kill it when its parent goes. Between the two only
// async-signal-safe calls: the parent may have other threads. The exec's error comes back through a
// pipe that the exec closes.
int spawnEndingWithParent(const std::filesystem::path& program, std::vector<char*>& args,
                          std::vector<char*>& envp, const std::filesystem::path& hostDirectory,
                          const ChildOptions& options, int outFd, pid_t& pid) {
    int errorPipe[2];
    if (::pipe2(errorPipe, O_CLOEXEC) != 0) return errno;
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        const int e = errno;
        ::close(errorPipe[0]);
        ::close(errorPipe[1]);
        return e;
    }
    if (child == 0) {
        ::close(errorPipe[0]);
        int e = 0;
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) ::_exit(127);
        if (options.hideWindow) {
            // A new session keeps the death signal set above; only the terminal is left behind.
            if (::setsid() < 0) e = errno;
            const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (null >= 0 && null != 0) ::dup2(null, 0);
        }
        if (options.captureOutput && (::dup2(outFd, 1) < 0 || ::dup2(outFd, 2) < 0)) e = errno;
        if (e == 0 && !hostDirectory.empty() && ::chdir(hostDirectory.c_str()) != 0) e = errno;
        if (e == 0) {
            ::execve(program.c_str(), args.data(), envp.data());
            e = errno;
        }
        [[maybe_unused]] const ssize_t n = ::write(errorPipe[1], &e, sizeof e);
        ::_exit(127);
    }
    ::close(errorPipe[1]);
    int e = 0;
    ssize_t n;
    do n = ::read(errorPipe[0], &e, sizeof e);
    while (n < 0 && errno == EINTR);
    ::close(errorPipe[0]);
    if (n == static_cast<ssize_t>(sizeof e)) {
        ::waitpid(child, nullptr, 0);
        return e;
    }
    pid = child;
    return 0;
}

bool spawn(const std::filesystem::path& program, const std::vector<std::string>& argv,
           const std::vector<std::string>& env, const std::filesystem::path& hostDirectory,
           const ChildOptions& options, pid_t& pid, int& outFd) {
    int pipeFds[2] = {-1, -1};
    if (options.captureOutput && ::pipe2(pipeFds, O_CLOEXEC) != 0) {
        setLastError(err::notEnoughMemory);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A program without a window has no console either: in a session of its own it cannot open the
    // terminal the patcher was started from (/dev/tty) and write past a captured or silent output.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (options.hideWindow) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    if (options.hideWindow) posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (options.captureOutput) {
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    }
    if (!hostDirectory.empty()) posix_spawn_file_actions_addchdir_np(&actions, hostDirectory.c_str());

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);

    pid_t child = -1;
    const int rc = options.endWithParent
                       ? spawnEndingWithParent(program, args, envp, hostDirectory, options, pipeFds[1], child)
                       : ::posix_spawn(&child, program.c_str(), &actions, &attributes, args.data(),
                                       envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (options.captureOutput) ::close(pipeFds[1]);
    if (rc != 0) {
        if (options.captureOutput) ::close(pipeFds[0]);
        setLastError(spawnError(rc));
        return false;
    }
    pid = child;
    if (options.captureOutput) {
        ::fcntl(pipeFds[0], F_SETFL, ::fcntl(pipeFds[0], F_GETFL) | O_NONBLOCK);
        outFd = pipeFds[0];
    }
    return true;
}

int openPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    return -1;
#endif
}

bool prepare(const ChildOptions& options, std::wstring& directory, std::filesystem::path& hostDirectory) {
    directory = options.currentDirectory.empty() ? currentDirectory() : options.currentDirectory;
    std::wstring full;
    if (!fullPath(directory, full) || !hostPath(full, hostDirectory)) return false;
    std::error_code ec;
    if (!std::filesystem::is_directory(hostDirectory, ec)) {
        setLastError(err::directory);
        return false;
    }
    directory = full;
    return true;
}

}  // namespace

bool ChildProcess::start(std::wstring_view commandLine, const ChildOptions& options) {
    if (state_->pid > 0) {
        setLastError(err::invalidParameter);
        return false;
    }
    std::filesystem::path program;
    std::size_t programEnd = 0;
    if (!findProgram(commandLine, program, programEnd)) return false;
    std::wstring directory;
    std::filesystem::path hostDirectory;
    if (!prepare(options, directory, hostDirectory)) return false;
    makeExecutable(program);

    const std::wstring line(commandLine);
    // Host programs read argv: the arguments that follow the program as it was found (a Windows runtime
    // would split an unquoted "C:\Program Files\x.exe" at its blank; commandLine() keeps the text).
    std::vector<std::string> argv{program.string()};
    auto parts = splitCommandLine(L"x " + line.substr(programEnd));
    for (std::size_t i = 1; i < parts.size(); ++i) argv.push_back(toUtf8(parts[i]));
    if (!spawn(program, argv, childEnvironment(line, directory, options), hostDirectory, options, state_->pid,
               state_->outFd))
        return false;
    state_->pidfd = openPidfd(state_->pid);
    setLastError(err::success);
    return true;
}

bool ChildProcess::startHost(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                             const ChildOptions& options) {
    if (state_->pid > 0) {
        setLastError(err::invalidParameter);
        return false;
    }
    std::wstring directory;
    std::filesystem::path hostDirectory;
    if (!prepare(options, directory, hostDirectory)) return false;
    std::wstring shown = windowsPath(program);
    std::wstring line = quoteArgument(shown.empty() ? fromUtf8(program.string()) : shown);
    std::vector<std::string> argv{program.string()};
    for (const auto& a : arguments) {
        line += L" " + quoteArgument(a);
        argv.push_back(toUtf8(a));
    }
    if (!spawn(program, argv, childEnvironment(line, directory, options), hostDirectory, options, state_->pid,
               state_->outFd))
        return false;
    state_->pidfd = openPidfd(state_->pid);
    setLastError(err::success);
    return true;
}

bool ChildProcess::wait(DWORD timeoutMs) {
    auto& s = *state_;
    if (s.pid <= 0) {
        setLastError(err::invalidHandle);
        return false;
    }
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (s.reap(false)) return true;
        int waitMs = -1;
        if (timeoutMs != kInfinite) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) {
                setLastError(kWaitTimeout);
                return false;
            }
            waitMs = static_cast<int>(std::min<long long>(left, 1000 * 1000));
        }
        // Without a process descriptor the end of the child is noticed by polling.
        if (s.pidfd < 0 && (waitMs < 0 || waitMs > 10)) waitMs = 10;
        pollfd fds[2];
        nfds_t n = 0;
        if (s.outFd >= 0) fds[n++] = {s.outFd, POLLIN, 0};
        if (s.pidfd >= 0) fds[n++] = {s.pidfd, POLLIN, 0};
        if (n == 0 && waitMs < 0) {
            if (s.reap(true)) return true;
            continue;
        }
        // Reading while waiting: a child never blocks on a full pipe.
        if (::poll(fds, n, waitMs) > 0) s.readAvailable();
    }
}

bool ChildProcess::exitCode(DWORD& code) const {
    if (state_->pid <= 0) {
        setLastError(err::invalidHandle);
        return false;
    }
    state_->reap(false);
    code = state_->code;
    return true;
}

const std::string& ChildProcess::output() const {
    return state_->output;
}

DWORD ChildProcess::pid() const {
    return state_->pid > 0 ? static_cast<DWORD>(state_->pid) : 0;
}

bool ChildProcess::kill() {
    auto& s = *state_;
    if (s.pid <= 0) {
        setLastError(err::invalidHandle);
        return false;
    }
    if (s.reaped) {
        setLastError(err::accessDenied);  // as TerminateProcess on a process that has ended
        return false;
    }
    if (s.pidfd >= 0) {
#ifdef SYS_pidfd_send_signal
        if (::syscall(SYS_pidfd_send_signal, s.pidfd, SIGKILL, nullptr, 0) == 0) return wait(kInfinite);
#endif
    }
    ::kill(s.pid, SIGKILL);  // the child is not reaped yet, so its pid cannot have been reused
    return wait(kInfinite);
}

}  // namespace win
