// machine: creates and inspects an emulated Windows machine folder.
#include <cstdlib>
#include <iostream>
#include <string>

#include "platform/machine/machine.h"
#include "platform/text/text.h"
#include "tools/machine/command.h"

namespace mw::machinetool {
namespace {

constexpr const wchar_t* kUsageText =
    L"usage: machine [--machine DIR] VERB ...\n"
    L"\n"
    L"  create DIR [--user NAME] [--admin yes|no] [--user-lang 0409] [--system-lang 0409]\n"
    L"             [--acp 1252] [--oemcp 437] [--free C=BYTES]... [--test]\n"
    L"  path WINPATH                  host path of a Windows path\n"
    L"  ls WINPATH                    list a folder\n"
    L"  reg add|query|delete|deny|export|import ...\n"
    L"  service add|query|set ...\n"
    L"  process start|stop|list ...   programs running under a chosen executable name\n"
    L"  acl WINPATH                   a file's access list (inherited or null)\n"
    L"\n"
    L"The machine is the folder given by --machine, else MENDWELL_MACHINE, else the default machine.\n"
    L"Every verb takes --help. Exit codes: 0 success, 1 failure, 2 bad usage.";

// Every verb but create works on an existing machine; say plainly which one is unusable and why.
bool selectMachine(const std::wstring& folder) {
    std::string error;
    if (!folder.empty()) {
        if (!win::Machine::select(std::filesystem::path(win::toUtf8(folder)), error)) {
            fail(error);
            return false;
        }
        return true;
    }
    win::Machine& machine = win::Machine::current();
    if (!machine.ok()) {
        fail(machine.error());
        return false;
    }
    return true;
}

int run(int argc, char** argv) {
    Args args;
    std::wstring folder;
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = win::fromUtf8(argv[i]);
        if (arg == L"--machine" && args.empty()) {
            if (i + 1 >= argc) {
                fail(L"--machine needs a folder");
                return kUsage;
            }
            folder = win::fromUtf8(argv[++i]);
        } else {
            args.push_back(std::move(arg));
        }
    }
    if (args.empty()) {
        fail(kUsageText);
        return kUsage;
    }
    if (args[0] == L"--help" || args[0] == L"-h" || args[0] == L"help") {
        out(kUsageText);
        return kSuccess;
    }
    std::wstring verb = args[0];
    Args rest(args.begin() + 1, args.end());
    if (verb == L"create") return createCommand(rest);
    if (verb == L"__hold") return holdCommand(rest);
    int (*command)(const Args&) = nullptr;
    if (verb == L"path")
        command = pathCommand;
    else if (verb == L"ls")
        command = lsCommand;
    else if (verb == L"reg")
        command = regCommand;
    else if (verb == L"service")
        command = serviceCommand;
    else if (verb == L"process")
        command = processCommand;
    else if (verb == L"acl")
        command = aclCommand;
    if (!command) {
        fail(L"machine: unknown verb '" + verb + L"'\n" + kUsageText);
        return kUsage;
    }
    // Help needs no machine.
    if (!wantsHelp(rest) && !selectMachine(folder)) return kFailure;
    return command(rest);
}

}  // namespace

void out(std::wstring_view text) {
    std::cout << win::toUtf8(text) << '\n';
}
void fail(std::wstring_view text) {
    std::cerr << win::toUtf8(text) << '\n';
}
void fail(const std::string& utf8) {
    std::cerr << utf8 << '\n';
}

bool wantsHelp(const Args& args) {
    for (const auto& a : args) {
        if (a == L"--help" || a == L"-h" || a == L"/?") return true;
    }
    return false;
}

bool parseCount(std::wstring_view text, unsigned long long& value) {
    if (text.empty() || text.size() > 19) return false;
    value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return true;
}

}  // namespace mw::machinetool

int main(int argc, char** argv) {
    return mw::machinetool::run(argc, argv);
}
