#include "tests/support/testmachine.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace {

// Tests never open windows a user would have to close: Qt draws offscreen, in the test programs and in
// the programs they run (unless the caller chose a platform).
const bool kOffscreen = [] { return ::setenv("QT_QPA_PLATFORM", "offscreen", 0) == 0; }();

}  // namespace

namespace testing_support {
namespace fs = std::filesystem;

namespace {

fs::path makeTempDir(const char* prefix) {
    static std::atomic<int> counter{0};
    fs::path base = fs::temp_directory_path();
    for (int attempt = 0; attempt < 1000; ++attempt) {
        fs::path p =
            base / (std::string(prefix) + std::to_string(getpid()) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(p, ec)) return p;
    }
    throw std::runtime_error("cannot create a temporary folder");
}

std::string narrow(std::wstring_view w) {
    std::string s;
    for (wchar_t c : w) {
        if (c < 0x80) {
            s += static_cast<char>(c);
        } else if (c < 0x800) {
            s += static_cast<char>(0xC0 | (c >> 6));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            s += static_cast<char>(0xE0 | (c >> 12));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            s += static_cast<char>(0xF0 | (c >> 18));
            s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            s += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return s;
}

}  // namespace

TestMachine::TestMachine(const win::MachineProfile& profile) : root_(makeTempDir("mw-machine-")) {
    std::string error;
    // Every test machine honours the test hooks (the fault injection of the patcher).
    win::MachineProfile forTests = profile;
    forTests.forTests = true;
    if (!win::Machine::create(root_, forTests, error)) throw std::runtime_error("machine create: " + error);
    if (!win::Machine::select(root_, error)) throw std::runtime_error("machine select: " + error);
}

TestMachine::~TestMachine() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

fs::path TestMachine::host(std::wstring_view windowsPath) const {
    std::string p = narrow(windowsPath);
    if (p.size() < 2 || p[1] != ':') throw std::runtime_error("not a drive path: " + p);
    std::string drive =
        std::string("drive_") + static_cast<char>(std::tolower(static_cast<unsigned char>(p[0])));
    fs::path out = root_ / drive;
    std::string rest = p.substr(2);
    std::stringstream ss(rest);
    std::string part;
    while (std::getline(ss, part, '\\')) {
        if (!part.empty()) out /= part;
    }
    return out;
}

void TestMachine::writeFile(std::wstring_view windowsPath, std::string_view bytes) const {
    fs::path p = host(windowsPath);
    fs::create_directories(p.parent_path());
    writeHostFile(p, bytes);
}

std::string TestMachine::readFile(std::wstring_view windowsPath) const {
    return readHostFile(host(windowsPath));
}

bool TestMachine::exists(std::wstring_view windowsPath) const {
    return fs::exists(host(windowsPath));
}

TempDir::TempDir() : path_(makeTempDir("mw-tmp-")) {}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

RunResult runProgram(const fs::path& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment, bool outputClosed) {
    RunResult result;
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string kv(*e);
        auto eq = kv.find('=');
        if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    for (const auto& [k, v] : environment) env[k] = v;
    std::vector<std::string> envStrings;
    for (const auto& [k, v] : env) envStrings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : envStrings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argStrings{program.string()};
    argStrings.insert(argStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& s : argStrings) argv.push_back(s.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe(pipeFds) != 0) return result;
    int unread[2] = {-1, -1};
    if (outputClosed && pipe(unread) == 0) close(unread[0]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outputClosed ? unread[1] : pipeFds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (unread[1] >= 0) close(unread[1]);
    if (rc != 0) {
        close(pipeFds[0]);
        return result;
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) result.output.append(buf, static_cast<size_t>(n));
    close(pipeFds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        result.exitCode = 128 + WTERMSIG(status);
    return result;
}

fs::path binDir() {
    return MENDWELL_BIN_DIR;
}
fs::path sourceDir() {
    return MENDWELL_SOURCE_DIR;
}
fs::path buildDir() {
    return MENDWELL_BUILD_DIR;
}

std::string readHostFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeHostFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + path.string());
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testing_support
