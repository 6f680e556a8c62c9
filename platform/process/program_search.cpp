#include "platform/process/program_search.h"

#include <algorithm>
#include <vector>

#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/system/system.h"

namespace win {

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

bool regularFile(std::wstring_view windowsPath, std::filesystem::path& host) {
    std::filesystem::path p;
    std::error_code ec;
    if (!hostPath(windowsPath, p) || !std::filesystem::is_regular_file(p, ec)) return false;
    host = p;
    return true;
}

bool resolve(std::wstring name, std::filesystem::path& host) {
    if (name.empty()) return false;
    if (fileNamePart(name).find(L'.') == std::wstring::npos) name += L".exe";
    if (name.find_first_of(L"\\/:") != std::wstring::npos) return regularFile(name, host);
    std::vector<std::wstring> folders;
    const std::wstring self = windowsPath(moduleHostPath());
    if (!self.empty()) folders.push_back(parentPart(self));
    folders.push_back(currentDirectory());
    folders.push_back(systemDirectory());
    folders.push_back(windowsDirectory());
    for (const auto& folder : folders)
        if (regularFile(combine(folder, name), host)) return true;
    return false;
}

}  // namespace

bool findProgram(std::wstring_view line, std::filesystem::path& host, std::size_t& programEnd) {
    if (!line.empty() && line[0] == L'"') {
        std::size_t end = line.find(L'"', 1);
        if (end == std::wstring_view::npos) end = line.size();
        programEnd = std::min(end + 1, line.size());
        if (resolve(std::wstring(line.substr(1, end - 1)), host)) return true;
        setLastError(err::fileNotFound);
        return false;
    }
    std::size_t start = 0;
    while (start < line.size() && isBlank(line[start])) ++start;
    for (std::size_t i = start; i <= line.size(); ++i) {
        if (i < line.size() && !isBlank(line[i])) continue;
        if (i > start && !isBlank(line[i - 1]) &&
            resolve(std::wstring(line.substr(start, i - start)), host)) {
            programEnd = i;
            return true;
        }
    }
    setLastError(err::fileNotFound);
    return false;
}

}  // namespace win
