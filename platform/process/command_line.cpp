#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <mutex>

#include "platform/fs/path.h"
#include "platform/process/command_line_env.h"
#include "platform/process/process.h"
#include "platform/text/text.h"

namespace win {

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// Length of the program name at the start of a command line, as CommandLineToArgvW reads it.
std::size_t programNameEnd(std::wstring_view line, std::wstring& name) {
    std::size_t i = 0;
    if (!line.empty() && line[0] == L'"') {
        i = line.find(L'"', 1);
        if (i == std::wstring_view::npos) i = line.size();
        name.assign(line.substr(1, i - 1));
        return i < line.size() ? i + 1 : i;
    }
    while (i < line.size() && !isBlank(line[i])) ++i;
    name.assign(line.substr(0, i));
    return i;
}

struct ProcessInfo {
    std::mutex mutex;
    bool fromParent = false;
    std::string parentLine;  // UTF-8: converted on use, the text layer may not be ready at load time
    std::vector<std::string> argv;
};

ProcessInfo& info() {
    static ProcessInfo p;
    return p;
}

// Taken (and removed from the environment) as the program loads, so that programs this one starts by
// other means than ChildProcess do not see a command line that was meant for us.
const bool kCaptured = [] {
    auto& p = info();
    if (const char* line = std::getenv(kCommandLineVariable)) {
        p.fromParent = true;
        p.parentLine = line;
        ::unsetenv(kCommandLineVariable);
    }
    return true;
}();

std::vector<std::string> procCmdline() {
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i] == '\0') {
            out.push_back(all.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

}  // namespace

std::vector<std::wstring> splitCommandLine(std::wstring_view line) {
    std::vector<std::wstring> args;
    if (line.empty()) {
        args.push_back(modulePath());
        return args;
    }
    std::wstring name;
    std::size_t i = programNameEnd(line, name);
    args.push_back(name);
    while (i < line.size() && isBlank(line[i])) ++i;
    while (i < line.size()) {
        std::wstring arg;
        std::size_t backslashes = 0;
        int quotes = 0;  // 1 inside quotes
        while (i < line.size()) {
            const wchar_t c = line[i];
            if (isBlank(c) && quotes == 0) break;
            if (c == L'\\') {
                arg.push_back(c);
                ++backslashes;
                ++i;
                continue;
            }
            if (c != L'"') {
                arg.push_back(c);
                backslashes = 0;
                ++i;
                continue;
            }
            if (backslashes % 2 == 0) {
                arg.resize(arg.size() - backslashes / 2);
                ++quotes;
            } else {
                arg.resize(arg.size() - backslashes / 2 - 1);
                arg.push_back(L'"');
            }
            backslashes = 0;
            ++i;
            // Runs of quotes: every third one is literal, as the Windows parser counts them.
            while (i < line.size() && line[i] == L'"') {
                if (++quotes == 3) {
                    arg.push_back(L'"');
                    quotes = 0;
                }
                ++i;
            }
            if (quotes == 2) quotes = 0;
        }
        args.push_back(std::move(arg));
        while (i < line.size() && isBlank(line[i])) ++i;
    }
    return args;
}

std::wstring quoteArgument(std::wstring_view argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring_view::npos)
        return std::wstring(argument);
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes before a quote are doubled, and the quote escaped.
        out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out.push_back(c);
    }
    out.append(backslashes * 2, L'\\');  // the closing quote must stay a quote
    out.push_back(L'"');
    return out;
}

std::wstring commandLine() {
    auto& p = info();
    std::lock_guard lock(p.mutex);
    if (p.fromParent) return fromUtf8(p.parentLine);
    std::vector<std::string> argv = p.argv.empty() ? procCmdline() : p.argv;
    std::wstring line = quoteArgument(modulePath());
    for (std::size_t i = 1; i < argv.size(); ++i) line += L" " + quoteArgument(fromUtf8(argv[i]));
    return line;
}

std::wstring commandLineArguments() {
    const std::wstring line = commandLine();
    std::wstring name;
    std::size_t i = programNameEnd(line, name);
    while (i < line.size() && isBlank(line[i])) ++i;
    return line.substr(i);
}

void initProcess(int argc, char** argv) {
    (void)kCaptured;
    auto& p = info();
    std::lock_guard lock(p.mutex);
    p.argv.assign(argv, argv + argc);
}

DWORD currentProcessId() {
    return static_cast<DWORD>(::getpid());
}

void terminateCurrentProcess() {
    ::kill(::getpid(), SIGKILL);
    std::_Exit(137);  // not reached
}

std::filesystem::path moduleHostPath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

std::wstring modulePath() {
    const auto host = moduleHostPath();
    std::wstring windows = windowsPath(host);
    return windows.empty() ? fromUtf8(host.string()) : windows;
}

}  // namespace win
