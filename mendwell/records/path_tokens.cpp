#include "mendwell/records/path_tokens.h"

#include <array>
#include <memory>

#include "mendwell/base/patchlog.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"

namespace mw {

namespace {

constexpr std::size_t kTokenCount = 12;
const wchar_t* const kInstallDirToken = L"[INSTALLDIR]";
const wchar_t* const kInstallLanguageToken = L"[installLanguage]";

struct TokenRow {
    const wchar_t* token;
    const wchar_t* label;
};
constexpr std::array<TokenRow, kTokenCount> kRows = {{
    {L"[Common]", L"Common Files: %s"},
    {L"[OrvexProgramFiles]", L"Orvex Program Files: %s"},
    {L"[OrvexCommon]", L"Orvex Common: %s"},
    {L"[ProgramFiles]", L"Program Files: %s"},
    {L"[SharedApplicationData]", L"Shared Application Data: %s"},
    {L"[SharedDocuments]", L"Shared Documents: %s"},
    {L"[Utilities]", L"Utilities: %s"},
    {L"[FontsFolder]", L"Fonts Folder: %s"},
    {L"[StartMenu]", L"Start menu: %s"},
    {L"[StartUp]", L"Start up: %s"},
    {L"[UserRoamingAppData]", L"User Roaming Data: %s"},
    {L"[System32Folder]", L"System32 Folder: %s"},
}};

// A folder the machine cannot name maps to an empty value rather than to a stale one.
std::wstring shellPath(int csidl) {
    std::wstring path;
    if (!win::shellFolder(csidl, path)) return {};
    return win::removeBackslash(path);
}

}  // namespace

int PathTokenMap::fillFolderTokens() {
    logCritical(L"new pathTokenRecord");
    auto pathTokenRecord = std::make_unique<std::array<std::wstring, kTokenCount>>();
    logCritical(L"new absolutePathRecord");
    auto absolutePathRecord = std::make_unique<std::array<std::wstring, kTokenCount>>();
    auto& paths = *absolutePathRecord;

    // Derived folders are made right after their base.
    paths[0] = shellPath(win::csidl::programFilesCommon);
    paths[2] = paths[0] + L"\\Orvex";
    paths[6] = paths[2];
    paths[3] = shellPath(win::csidl::programFiles);
    paths[1] = paths[3] + L"\\Orvex";
    paths[4] = shellPath(win::csidl::commonAppData);
    paths[5] = shellPath(win::csidl::commonDocuments);
    paths[7] = shellPath(win::csidl::fonts);
    paths[8] = shellPath(win::csidl::startMenu);
    paths[9] = shellPath(win::csidl::startup);
    paths[10] = shellPath(win::csidl::appData);
    paths[11] = shellPath(win::csidl::system);

    for (std::size_t i = 0; i < kTokenCount; ++i) {
        (*pathTokenRecord)[i] = kRows[i].token;
        add((*pathTokenRecord)[i], paths[i]);
    }
    logCritical(L"\r\n Token paths as computed by the patcher... \r\n");
    for (std::size_t i = 0; i < kTokenCount; ++i) logCritical(kRows[i].label, paths[i]);
    logCritical(L"delete pathTokenRecord");
    pathTokenRecord.reset();
    logCritical(L"delete absolutePathRecord");
    absolutePathRecord.reset();
    return PatchLog::instance().status();
}

void PathTokenMap::add(const std::wstring& token, const std::wstring& value) {
    map_.emplace(token, value);
}

std::wstring PathTokenMap::resolve(const std::wstring& path) const {
    if (path.empty() || path[0] != L'[') return path;
    std::size_t close = path.find(L']');
    if (close == std::wstring::npos) return path;
    std::wstring token = path.substr(0, close + 1);
    auto it = map_.find(token);
    if (it == map_.end()) return path;
    if (token == kInstallLanguageToken) return it->second;
    return it->second + path.substr(close + 1);
}

std::wstring registryDataBackslash(const std::wstring& data) {
    if (data.empty() || data[0] != L'[' || data == kInstallLanguageToken) return data;
    std::size_t close = data.find(L']');
    if (close == std::wstring::npos || data.find(L"]\\") != std::wstring::npos) return data;
    std::wstring out = data;
    out.insert(close + 1, L"\\");
    return out;
}

FileEntryPaths prepareFilePaths(const std::wstring& source, const std::wstring& target,
                                const std::wstring& installDir) {
    PathTokenMap map;
    map.fillFolderTokens();
    FileEntryPaths first{map.resolve(source), map.resolve(target)};
    map.add(kInstallDirToken, installDir);
    return FileEntryPaths{map.resolve(first.source), map.resolve(first.target)};
}

std::wstring prepareDirectoryPath(const std::wstring& path, const std::wstring& installDir) {
    std::wstring trimmed = path;
    if (!trimmed.empty() && trimmed.back() == L'\\') trimmed.pop_back();
    PathTokenMap map;
    map.fillFolderTokens();
    std::wstring first = map.resolve(trimmed);
    map.add(kInstallDirToken, installDir);
    return map.resolve(first);
}

std::wstring prepareRegistryValue(const std::wstring& data, const std::wstring& installDir,
                                  const std::wstring& installLanguage) {
    PathTokenMap map;
    map.fillFolderTokens();
    std::wstring first = map.resolve(registryDataBackslash(data));
    map.add(kInstallDirToken, installDir);
    map.add(kInstallLanguageToken, installLanguage);
    return map.resolve(first);
}

}  // namespace mw
