#include <cstdlib>
#include <cwctype>
#include <mutex>

#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/system/environment_lock.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

extern char** environ;

namespace win {

namespace {

constexpr DWORD kEnvVarNotFound = 203;

// The host spelling of a variable whose name matches without regard to case.
bool findHost(std::wstring_view name, std::string& hostName, std::string& value) {
    for (char** e = environ; *e; ++e) {
        std::string_view kv(*e);
        const auto eq = kv.find('=');
        if (eq == std::string_view::npos || eq == 0) continue;
        if (iequals(fromUtf8(kv.substr(0, eq)), name)) {
            hostName.assign(kv.substr(0, eq));
            value.assign(kv.substr(eq + 1));
            return true;
        }
    }
    return false;
}

bool isWindowsFolder(std::wstring_view value) {
    return value.size() >= 3 && std::iswalpha(value[0]) && value[1] == L':' && value[2] == L'\\';
}

std::wstring folder(int csidl) {
    std::wstring path;
    shellFolder(csidl, path);
    return path;
}

struct Default {
    const wchar_t* name;
    bool isFolder;
    std::wstring (*value)();
};

// The temp folder made for the machine, so that asking again costs no host call. Dropped when the
// environment is set or another machine is selected.
struct MadeTemp {
    std::mutex mutex;
    std::uint64_t generation = ~0ULL;
    std::wstring folder;
};

MadeTemp& madeTemp() {
    static MadeTemp made;
    return made;
}

void forgetMadeTemp() {
    MadeTemp& made = madeTemp();
    std::lock_guard lock(made.mutex);
    made.folder.clear();
}

std::wstring tempFolder() {
    std::wstring temp = folder(csidl::localAppData) + L"\\Temp";
    MadeTemp& made = madeTemp();
    std::lock_guard lock(made.mutex);
    const std::uint64_t generation = Machine::generation();
    if (made.generation == generation && made.folder == temp) return temp;
    // Windows always has the user's temp folder; programs create theirs inside it.
    std::filesystem::path host;
    std::error_code ec;
    if (!hostPath(temp, host)) return temp;
    std::filesystem::create_directories(host, ec);
    if (!ec) {
        made.generation = generation;
        made.folder = temp;
    }
    return temp;
}

const Default kDefaults[] = {
    {L"TEMP", true, tempFolder},
    {L"TMP", true, tempFolder},
    {L"APPDATA", true, [] { return folder(csidl::appData); }},
    {L"LOCALAPPDATA", true, [] { return folder(csidl::localAppData); }},
    {L"USERPROFILE", true, [] { return folder(csidl::profile); }},
    {L"USERNAME", false, [] { return Machine::current().profile().userName; }},
    {L"SystemRoot", true, [] { return windowsDirectory(); }},
    {L"windir", true, [] { return windowsDirectory(); }},
    {L"SystemDrive", false, [] { return windowsDirectory().substr(0, 2); }},
    {L"ProgramFiles", true, [] { return folder(csidl::programFiles); }},
    {L"CommonProgramFiles", true, [] { return folder(csidl::programFilesCommon); }},
    {L"ProgramData", true, [] { return folder(csidl::commonAppData); }},
    {L"ALLUSERSPROFILE", true, [] { return folder(csidl::commonAppData); }},
    {L"COMPUTERNAME", false, [] { return std::wstring(L"MENDWELL"); }},
};

const Default* defaultFor(std::wstring_view name) {
    for (const auto& d : kDefaults)
        if (iequals(d.name, name)) return &d;
    return nullptr;
}

bool validName(std::wstring_view name) {
    if (name.empty() || name.find(L'=') != std::wstring_view::npos) {
        setLastError(err::invalidParameter);
        return false;
    }
    return true;
}

}  // namespace

std::mutex& environmentMutex() {
    static std::mutex m;
    return m;
}

std::optional<std::wstring> getEnv(std::wstring_view name) {
    const Default* d = defaultFor(name);
    {
        std::lock_guard lock(environmentMutex());
        std::string hostName, value;
        if (findHost(name, hostName, value)) {
            std::wstring text = fromUtf8(value);
            // Host folders such as TEMP=/tmp mean nothing on the machine.
            if (!d || !d->isFolder || isWindowsFolder(text)) return text;
        }
    }
    if (d) return d->value();
    setLastError(kEnvVarNotFound);
    return std::nullopt;
}

bool setEnv(std::wstring_view name, std::wstring_view value) {
    if (!validName(name)) return false;
    forgetMadeTemp();
    std::lock_guard lock(environmentMutex());
    std::string hostName, old;
    if (!findHost(name, hostName, old)) hostName = toUtf8(name);
    return ::setenv(hostName.c_str(), toUtf8(value).c_str(), 1) == 0;
}

bool unsetEnv(std::wstring_view name) {
    if (!validName(name)) return false;
    forgetMadeTemp();
    std::lock_guard lock(environmentMutex());
    std::string hostName, old;
    while (findHost(name, hostName, old)) ::unsetenv(hostName.c_str());
    return true;
}

}  // namespace win
