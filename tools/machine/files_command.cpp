// create, path and ls: the machine folder and its drives.
#include <cwctype>
#include <filesystem>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/text/text.h"
#include "tools/machine/command.h"

namespace mw::machinetool {
namespace {

constexpr const wchar_t* kCreateHelp =
    L"usage: machine create DIR [--user NAME] [--admin yes|no] [--user-lang 0409] [--system-lang 0409]\n"
    L"                          [--acp 1252] [--oemcp 437] [--free C=BYTES]... [--test]\n"
    L"Makes a new machine folder: drive_c with the Windows folders, machine.ini and store.db.\n"
    L"--test makes it a machine for tests, where the patcher honours MENDWELL_FAULT.\n"
    L"Languages are hexadecimal language identifiers; code pages and byte counts are decimal.";
constexpr const wchar_t* kPathHelp = L"usage: machine path WINPATH\nPrints the host path of a Windows path.";
constexpr const wchar_t* kLsHelp =
    L"usage: machine ls WINPATH\nLists a folder (or the files a pattern names).";

bool parseHex16(std::wstring_view text, std::uint16_t& value) {
    if (text.empty() || text.size() > 4) return false;
    unsigned v = 0;
    for (wchar_t c : text) {
        if (!std::iswxdigit(static_cast<wint_t>(c))) return false;
        v = v * 16 + static_cast<unsigned>(
                         std::iswdigit(static_cast<wint_t>(c)) ? c - L'0' : (std::towlower(c) - L'a' + 10));
    }
    value = static_cast<std::uint16_t>(v);
    return true;
}

}  // namespace

int createCommand(const Args& args) {
    if (wantsHelp(args)) {
        out(kCreateHelp);
        return kSuccess;
    }
    win::MachineProfile profile;
    std::wstring folder;
    auto usage = [](const std::wstring& why) {
        fail(L"machine create: " + why + L"\n" + kCreateHelp);
        return kUsage;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (a.rfind(L"--", 0) != 0) {
            if (!folder.empty()) return usage(L"one folder only");
            folder = a;
            continue;
        }
        if (a == L"--test") {
            profile.forTests = true;
            continue;
        }
        if (i + 1 >= args.size()) return usage(a + L" needs a value");
        const std::wstring& v = args[++i];
        unsigned long long n = 0;
        if (a == L"--user") {
            if (v.empty()) return usage(L"the user name is empty");
            profile.userName = v;
        } else if (a == L"--admin") {
            if (v != L"yes" && v != L"no") return usage(L"--admin takes yes or no");
            profile.administrator = v == L"yes";
        } else if (a == L"--user-lang" || a == L"--system-lang") {
            std::uint16_t lang = 0;
            if (!parseHex16(v, lang))
                return usage(a + L" takes a hexadecimal language identifier such as 0409");
            (a == L"--user-lang" ? profile.userLanguage : profile.systemLanguage) = lang;
        } else if (a == L"--acp" || a == L"--oemcp") {
            if (!parseCount(v, n) || n == 0 || n > 65535) return usage(a + L" takes a code page number");
            (a == L"--acp" ? profile.ansiCodePage : profile.oemCodePage) = static_cast<unsigned>(n);
        } else if (a == L"--free") {
            if (v.size() < 3 || v[1] != L'=' || !std::iswalpha(static_cast<wint_t>(v[0])) ||
                !parseCount(v.substr(2), n)) {
                return usage(L"--free takes DRIVE=BYTES, e.g. C=1048576");
            }
            profile.freeBytes[win::toUpper(v[0])] = n;
        } else {
            return usage(L"unknown option " + a);
        }
    }
    if (folder.empty()) return usage(L"no folder given");
    std::string error;
    if (!win::Machine::create(std::filesystem::path(win::toUtf8(folder)), profile, error)) {
        fail(error);
        return kFailure;
    }
    out(L"Created machine " + folder);
    return kSuccess;
}

int pathCommand(const Args& args) {
    if (wantsHelp(args)) {
        out(kPathHelp);
        return kSuccess;
    }
    if (args.size() != 1) {
        fail(kPathHelp);
        return kUsage;
    }
    std::filesystem::path host;
    if (!win::hostPath(args[0], host)) {
        fail(args[0] + L": not a path on this machine (error " + std::to_wstring(win::lastError()) + L")");
        return kFailure;
    }
    out(win::fromUtf8(host.string()));
    return kSuccess;
}

int lsCommand(const Args& args) {
    if (wantsHelp(args)) {
        out(kLsHelp);
        return kSuccess;
    }
    if (args.size() != 1) {
        fail(kLsHelp);
        return kUsage;
    }
    std::wstring pattern = args[0];
    if (win::isDirectory(pattern)) pattern = win::combine(pattern, L"*");
    win::FindFile find;
    win::FindData data;
    if (!find.first(pattern, data)) {
        fail(args[0] + L": nothing found (error " + std::to_wstring(win::lastError()) + L")");
        return kFailure;
    }
    do {
        if (data.name == L"." || data.name == L"..") continue;
        std::wstring size = (data.attributes & win::attr::directory) ? L"<DIR>" : std::to_wstring(data.size);
        std::wstring flags;
        flags += (data.attributes & win::attr::readOnly) ? L'R' : L'-';
        flags += (data.attributes & win::attr::hidden) ? L'H' : L'-';
        flags += (data.attributes & win::attr::system) ? L'S' : L'-';
        out(flags + L" " + std::wstring(size.size() < 14 ? 14 - size.size() : 0, L' ') + size + L"  " +
            data.name);
    } while (find.next(data));
    return kSuccess;
}

}  // namespace mw::machinetool
