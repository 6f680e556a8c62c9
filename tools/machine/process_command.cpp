// process start | stop | list: programs running under a chosen executable name, so that tests and the
// demo have real running applications for the patcher to find.
//
// `start` copies this very program to the Windows path given (optionally with a version resource
// carrying a FileDescription), creates each module file beside it, and runs the copy with the hidden
// verb `__hold`: it maps each module as executable (so the process list shows it among the process's
// modules), says it is ready, and sleeps until it is stopped or its time runs out.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "tools/machine/command.h"

namespace mw::machinetool {
namespace {

namespace fs = std::filesystem;

constexpr const wchar_t* kProcessHelp =
    L"usage: machine process start WINPATH [--module NAME]... [--hold FILE]... [--description TEXT]\n"
    L"                               [--seconds N]\n"
    L"       machine process stop PID\n"
    L"       machine process list\n"
    L"start   runs a program whose executable is WINPATH (the file is written there, replacing any),\n"
    L"        holding each module NAME (a file made beside it) as a loaded module; prints its process id.\n"
    L"        --hold keeps the file FILE (a Windows path) open, letting others read it but not change it.\n"
    L"        --description gives the program a version resource with that FileDescription (US English).\n"
    L"        The program ends by itself after N seconds (default 600).\n"
    L"stop    ends a program started so.\n"
    L"list    the processes as the patcher lists them: id, executable, path and modules.";

int usage(const std::wstring& why) {
    fail(L"ERROR: " + why + L"\n" + kProcessHelp);
    return kUsage;
}

bool hostOf(const std::wstring& windowsPath, fs::path& host) {
    if (win::hostPath(windowsPath, host)) return true;
    fail(L"ERROR: not a path on this machine: " + windowsPath);
    return false;
}

// The program file: this program's bytes, with a version resource when a description is wanted.
bool writeProgram(const fs::path& target, const std::wstring& description) {
    std::error_code ec;
    fs::create_directories(target.parent_path(), ec);
    const fs::path self = win::moduleHostPath();
    if (description.empty()) {
        fs::remove(target, ec);
        if (!fs::copy_file(self, target, ec)) {
            fail("ERROR: cannot write " + target.string() + ": " + ec.message());
            return false;
        }
    } else {
        win::ResourceWriter writer;
        const win::VersionStrings strings{0x0409, 1200, {{L"FileDescription", description}}};
        writer.add(win::kRtVersion, 1, 0x0409,
                   win::buildVersionInfo({0x00010000u, 0, 0x00010000u, 0}, {strings}));
        std::string error;
        if (!writer.write(self, target, error)) {
            fail("ERROR: " + error);
            return false;
        }
    }
    fs::permissions(target,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    return true;
}

int start(const Args& args) {
    if (args.size() < 2) return usage(L"process start needs WINPATH");
    const std::wstring program = args[1];
    std::vector<std::wstring> modules;
    std::vector<std::wstring> held;
    std::wstring description;
    std::wstring seconds = L"600";
    for (std::size_t i = 2; i < args.size(); ++i) {
        if (i + 1 >= args.size()) return usage(args[i] + L" needs a value");
        const std::wstring& value = args[++i];
        unsigned long long n = 0;
        if (args[i - 1] == L"--module")
            modules.push_back(value);
        else if (args[i - 1] == L"--hold")
            held.push_back(value);
        else if (args[i - 1] == L"--description")
            description = value;
        else if (args[i - 1] == L"--seconds" && parseCount(value, n))
            seconds = value;
        else
            return usage(L"unknown option " + args[i - 1]);
    }
    fs::path host;
    if (!hostOf(program, host) || !writeProgram(host, description)) return kFailure;

    std::vector<std::string> argv{host.string(), "__hold", "--seconds", win::toUtf8(seconds)};
    for (const std::wstring& module : modules) {
        const fs::path file = host.parent_path() / win::toUtf8(module);
        std::error_code ec;
        if (!fs::exists(file, ec)) {
            std::FILE* f = std::fopen(file.c_str(), "wb");
            if (!f) {
                fail("ERROR: cannot write " + file.string());
                return kFailure;
            }
            std::fputs("MZ module held by machine process start", f);
            std::fclose(f);
        }
        argv.push_back("--module");
        argv.push_back(file.string());
    }

    for (const std::wstring& file : held) {
        argv.push_back("--hold");
        argv.push_back(win::toUtf8(file));
    }

    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return kFailure;
    argv.push_back("--ready-fd");
    argv.push_back("3");
    const pid_t pid = ::fork();
    if (pid < 0) return kFailure;
    if (pid == 0) {
        // Detached: its own session, no terminal, and nothing of the caller's output pipes kept open.
        ::setsid();
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0), ::dup2(null, 1), ::dup2(null, 2);
        // Only the readiness pipe goes on (as descriptor 3): an inherited end of the caller's output
        // pipe would keep the caller waiting for as long as the program runs.
        ::dup2(ready[1], 3);
        ::fcntl(3, F_SETFD, 0);
        ::close_range(4, ~0U, 0);
        std::vector<char*> raw;
        for (std::string& a : argv) raw.push_back(a.data());
        raw.push_back(nullptr);
        ::execv(host.c_str(), raw.data());
        ::_exit(127);
    }
    ::close(ready[1]);
    pollfd wait{ready[0], POLLIN, 0};
    char byte = 0;
    const bool started = ::poll(&wait, 1, 10000) == 1 && ::read(ready[0], &byte, 1) == 1;
    ::close(ready[0]);
    if (!started) {
        ::kill(pid, SIGKILL);
        fail(L"ERROR: the program did not start: " + program);
        return kFailure;
    }
    out(std::to_wstring(pid));
    return kSuccess;
}

int stop(const Args& args) {
    unsigned long long pid = 0;
    if (args.size() != 2 || !parseCount(args[1], pid) || pid == 0) return usage(L"process stop needs a PID");
    if (::kill(static_cast<pid_t>(pid), SIGTERM) != 0) {
        fail(L"ERROR: no such process: " + args[1]);
        return kFailure;
    }
    // Gone once /proc no longer shows it running (a zombie of a test's own child counts as gone).
    for (int i = 0; i < 200; ++i) {
        std::error_code ec;
        if (!fs::exists("/proc/" + std::to_string(pid) + "/exe", ec)) return kSuccess;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return kSuccess;
}

int list() {
    for (const win::ProcessEntry& p : win::listProcesses()) {
        std::wstring line = std::to_wstring(p.pid) + L"  " + p.exeName + L"  " + p.fullPath;
        for (std::size_t i = 1; i < p.modules.size(); ++i) line += (i == 1 ? L"  [" : L", ") + p.modules[i];
        if (p.modules.size() > 1) line += L"]";
        out(line);
    }
    return kSuccess;
}

}  // namespace

int processCommand(const Args& args) {
    if (args.empty() || wantsHelp(args)) {
        out(kProcessHelp);
        return args.empty() ? kUsage : kSuccess;
    }
    if (args[0] == L"start") return start(args);
    if (args[0] == L"stop") return stop(args);
    if (args[0] == L"list") return list();
    return usage(L"unknown process command " + args[0]);
}

int holdCommand(const Args& args) {
    std::vector<fs::path> modules;
    std::vector<std::wstring> held;
    int readyFd = -1;
    unsigned long long seconds = 600;
    for (std::size_t i = 0; i + 1 < args.size(); i += 2) {
        unsigned long long n = 0;
        if (args[i] == L"--module") modules.push_back(win::toUtf8(args[i + 1]));
        if (args[i] == L"--hold") held.push_back(args[i + 1]);
        if (args[i] == L"--seconds" && parseCount(args[i + 1], n)) seconds = n;
        if (args[i] == L"--ready-fd" && parseCount(args[i + 1], n)) readyFd = static_cast<int>(n);
    }
    for (const fs::path& module : modules) {
        const int fd = ::open(module.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat st {};
        if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_size == 0 ||
            ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ | PROT_EXEC, MAP_PRIVATE, fd,
                   0) == MAP_FAILED)
            return kFailure;
        ::close(fd);
    }
    // Held through the machine's files, so its share modes keep other processes from changing them.
    std::vector<win::File> handles(held.size());
    for (std::size_t i = 0; i < held.size(); ++i) {
        if (!handles[i].open(held[i], win::access::read, win::share::read, win::Disposition::openExisting))
            return kFailure;
    }
    if (readyFd >= 0) {
        const char ok = '1';
        if (::write(readyFd, &ok, 1) != 1) return kFailure;
        ::close(readyFd);
    }
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return kSuccess;
}

}  // namespace mw::machinetool
