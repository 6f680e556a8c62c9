#include "vireo/paths.h"

#include <algorithm>

#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "platform/text/text.h"

namespace vireo {

namespace {

bool startsWithNoCase(std::wstring_view text, std::wstring_view prefix) {
    return text.size() >= prefix.size() && win::iequals(text.substr(0, prefix.size()), prefix);
}

}  // namespace

std::wstring uriToPath(const wchar_t* uri) {
    std::wstring_view rest = uri ? std::wstring_view(uri) : std::wstring_view();
    bool dropped = false;
    for (std::wstring_view prefix : {L"http://", L"file:///", L"file://localhost/"}) {
        if (startsWithNoCase(rest, prefix)) {
            rest.remove_prefix(prefix.size());
            dropped = true;
            break;
        }
    }
    if (!dropped && startsWithNoCase(rest, L"file:") && (rest.size() == 5 || rest[5] != L'/'))
        rest.remove_prefix(5);
    std::wstring out;
    out.reserve(rest.size());
    for (std::size_t i = 0; i < rest.size(); ++i) {
        const wchar_t c = rest[i];
        if (c == L'/') {
            out.push_back(L'\\');
        } else if (c == L'|') {
            out.push_back(L':');
        } else if (c == L'%') {
            if (i + 2 < rest.size() && rest[i + 1] == L'2' && rest[i + 2] == L'0') {
                out.push_back(L' ');
                i += 2;
            }
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::wstring baseName(std::wstring_view path) {
    const auto slash = path.rfind(L'\\');
    const auto dot = path.rfind(L'.');
    if (slash == std::wstring_view::npos || dot == std::wstring_view::npos || dot <= slash + 1)
        return std::wstring(path);
    return std::wstring(path.substr(slash + 1, dot - slash - 1));
}

std::wstring folderOf(std::wstring_view path) {
    const auto slash = path.rfind(L'\\');
    if (slash == std::wstring_view::npos) return std::wstring(path);
    return std::wstring(path.substr(0, slash + 1));
}

std::wstring forwardSlashes(std::wstring_view path) {
    std::wstring out(path);
    std::replace(out.begin(), out.end(), L'\\', L'/');
    return out;
}

std::wstring backSlashes(std::wstring_view path) {
    std::wstring out(path);
    std::replace(out.begin(), out.end(), L'/', L'\\');
    return out;
}

bool fileExists(std::wstring_view path) {
    const win::DWORD attributes = win::getFileAttributes(path);
    return attributes != win::attr::invalid && !(attributes & win::attr::directory);
}

void findHostFolder(SettingsStore& store) {
    // The tool's main program owns the focused window; its folder is the host folder.
    const std::wstring program = win::modulePath();
    const auto slash = program.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : program.substr(0, slash + 1);
    store.set(key::hostFolder, forwardSlashes(folder));
}

}  // namespace vireo
