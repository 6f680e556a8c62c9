#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/process/process.h"
#include "platform/system/environment_lock.h"
#include "platform/text/text.h"

namespace win {

namespace {

namespace fs = std::filesystem;

// The kernel marks the link of a replaced or removed program.
std::string withoutDeleted(std::string path) {
    constexpr std::string_view suffix = " (deleted)";
    if (path.size() > suffix.size() && path.ends_with(suffix)) path.resize(path.size() - suffix.size());
    return path;
}

std::string firstArgument(const fs::path& procDir) {
    std::ifstream in(procDir / "cmdline", std::ios::binary);
    std::string arg;
    std::getline(in, arg, '\0');
    return arg;
}

// File-backed executable mappings in map order: the program and the shared objects it loaded.
std::vector<std::string> executableMappings(const fs::path& procDir) {
    std::vector<std::string> out;
    std::set<std::string> seen;
    std::ifstream in(procDir / "maps");
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string range, perms, offset, device, inode;
        fields >> range >> perms >> offset >> device >> inode;
        if (perms.size() < 3 || perms[2] != 'x') continue;
        std::string path;
        std::getline(fields >> std::ws, path);
        if (path.empty() || path[0] != '/') continue;
        path = withoutDeleted(path);
        if (seen.insert(path).second) out.push_back(path);
    }
    return out;
}

std::wstring nameOf(const std::string& hostPath) {
    return fromUtf8(fs::path(hostPath).filename().string());
}

fs::path normalFolder(const fs::path& path) {
    std::error_code ec;
    fs::path out = fs::weakly_canonical(path, ec);
    return ec ? path.lexically_normal() : out;
}

// The machine a process is on: the one it was started on, as its environment names it (children
// inherit MENDWELL_MACHINE). A process whose environment cannot be read is the host's, on the default
// machine as this process sees it.
fs::path machineOf(const fs::path& procDir) {
    std::ifstream in(procDir / "environ", std::ios::binary);
    if (!in) {
        std::lock_guard lock(environmentMutex());
        return Machine::folderFor([](const char* name) -> std::string {
            if (std::string_view(name) == "MENDWELL_MACHINE") return {};
            const char* value = std::getenv(name);
            return value ? value : "";
        });
    }
    std::map<std::string, std::string> variables;
    std::string entry;
    while (std::getline(in, entry, '\0')) {
        const std::size_t equals = entry.find('=');
        if (equals != std::string::npos) variables.emplace(entry.substr(0, equals), entry.substr(equals + 1));
    }
    fs::path folder = Machine::folderFor([&](const char* name) -> std::string {
        const auto found = variables.find(name);
        return found == variables.end() ? std::string() : found->second;
    });
    if (folder.is_relative()) {
        std::error_code ec;
        const fs::path cwd = fs::read_symlink(procDir / "cwd", ec);
        if (!ec) folder = cwd / folder;
    }
    return normalFolder(folder);
}

// /proc's entries for processes are their ids: digits only.
bool isProcessFolder(const std::string& name) {
    return !name.empty() &&
           std::all_of(name.begin(), name.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

}  // namespace

std::vector<ProcessEntry> listProcesses() {
    std::vector<ProcessEntry> list;
    // Only this machine's programs: one started on another machine (another test's, say) is not here.
    const fs::path here = normalFolder(fs::absolute(Machine::current().root()));
    const DWORD self = currentProcessId();
    std::error_code ec;
    for (const auto& dir : fs::directory_iterator("/proc", ec)) {
        const std::string name = dir.path().filename().string();
        if (!isProcessFolder(name)) continue;
        ProcessEntry entry;
        entry.pid = static_cast<DWORD>(std::stoul(name));
        // This process is on the machine it chose last, whatever environment it started with.
        if (entry.pid != self && machineOf(dir.path()) != here) continue;
        std::error_code linkError;
        std::string exe = fs::read_symlink(dir.path() / "exe", linkError).string();
        if (!linkError) {
            exe = withoutDeleted(exe);
            std::wstring windows = windowsPath(exe);
            entry.fullPath = windows.empty() ? fromUtf8(exe) : windows;
        } else {
            // Not ours to inspect: still listed by the name it was started with, as Windows lists it.
            exe = firstArgument(dir.path());
            if (exe.empty()) continue;  // kernel threads and processes that are gone
        }
        entry.exeName = nameOf(exe);
        entry.modules.push_back(entry.exeName);
        for (const auto& mapped : executableMappings(dir.path())) {
            if (mapped != exe) entry.modules.push_back(nameOf(mapped));
        }
        list.push_back(std::move(entry));
    }
    return list;
}

std::vector<DWORD> processesHoldingFile(std::wstring_view path) {
    std::vector<DWORD> holders;
    fs::path host;
    struct stat file {};
    if (!hostPath(path, host) || ::stat(host.c_str(), &file) != 0) return holders;
    std::error_code ec;
    for (const auto& dir : fs::directory_iterator("/proc", ec)) {
        const std::string name = dir.path().filename().string();
        if (!isProcessFolder(name)) continue;
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(dir.path() / "fd", fdError)) {
            struct stat open {};
            if (::stat(fd.path().c_str(), &open) == 0 && open.st_dev == file.st_dev &&
                open.st_ino == file.st_ino) {
                holders.push_back(static_cast<DWORD>(std::stoul(name)));
                break;
            }
        }
    }
    return holders;
}

bool terminateProcess(DWORD pid) {
    if (pid == 0 || ::kill(static_cast<pid_t>(pid), SIGKILL) != 0) {
        setLastError(errno == ESRCH ? err::invalidParameter : err::accessDenied);
        return false;
    }
    // TerminateProcess returns once the process is on its way out; here it has gone when it can no
    // longer be signalled or is a zombie of a parent that has not reaped it.
    for (int i = 0; i < 500 && ::kill(static_cast<pid_t>(pid), 0) == 0; ++i) {
        std::string stat;
        std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
        std::getline(in, stat);
        const std::size_t close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') break;
        ::usleep(10000);
    }
    return true;
}

}  // namespace win
