#include "platform/machine/folders.h"

#include "platform/system/system.h"

namespace win {

namespace {

const int kFolders[] = {
    csidl::desktop,
    csidl::programs,
    csidl::personal,
    csidl::startup,
    csidl::startMenu,
    csidl::fonts,
    csidl::commonStartMenu,
    csidl::commonPrograms,
    csidl::commonStartup,
    csidl::appData,
    csidl::localAppData,
    csidl::commonAppData,
    csidl::windows,
    csidl::system,
    csidl::programFiles,
    csidl::profile,
    csidl::programFilesCommon,
    csidl::commonDocuments,
};

std::wstring stripBackslash(std::wstring path) {
    // "C:\" keeps its backslash; any other folder is given without one.
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return path;
}

std::wstring folder(const MachineProfile& p, int id);

std::wstring under(const MachineProfile& p, int base, const wchar_t* rest) {
    return folder(p, base) + rest;
}

std::wstring folder(const MachineProfile& p, int id) {
    if (auto it = p.folders.find(id); it != p.folders.end() && !it->second.empty())
        return stripBackslash(it->second);
    const std::wstring commonMenu = L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu";
    switch (id) {
        case csidl::windows:
            return stripBackslash(p.windowsDirectory.empty() ? L"C:\\Windows" : p.windowsDirectory);
        case csidl::system:
            return under(p, csidl::windows, L"\\System32");
        case csidl::fonts:
            return under(p, csidl::windows, L"\\Fonts");
        case csidl::programFiles:
            return L"C:\\Program Files";
        case csidl::programFilesCommon:
            return under(p, csidl::programFiles, L"\\Common Files");
        case csidl::commonAppData:
            return L"C:\\ProgramData";
        case csidl::commonDocuments:
            return L"C:\\Users\\Public\\Documents";
        case csidl::profile:
            return L"C:\\Users\\" + p.userName;
        case csidl::appData:
            return under(p, csidl::profile, L"\\AppData\\Roaming");
        case csidl::localAppData:
            return under(p, csidl::profile, L"\\AppData\\Local");
        case csidl::startMenu:
            return under(p, csidl::appData, L"\\Microsoft\\Windows\\Start Menu");
        case csidl::programs:
            return under(p, csidl::startMenu, L"\\Programs");
        case csidl::startup:
            return under(p, csidl::programs, L"\\Startup");
        case csidl::personal:
            return under(p, csidl::profile, L"\\Documents");
        case csidl::desktop:
            return under(p, csidl::profile, L"\\Desktop");
        case csidl::commonStartMenu:
            return commonMenu;
        case csidl::commonPrograms:
            return under(p, csidl::commonStartMenu, L"\\Programs");
        case csidl::commonStartup:
            return under(p, csidl::commonPrograms, L"\\Startup");
        default:
            return {};
    }
}

}  // namespace

bool machineFolder(const MachineProfile& profile, int id, std::wstring& out) {
    bool known = false;
    for (int f : kFolders) known = known || f == id;
    if (!known) return false;
    out = folder(profile, id);
    return true;
}

const int* knownFolders(std::size_t& count) {
    count = std::size(kFolders);
    return kFolders;
}

}  // namespace win
