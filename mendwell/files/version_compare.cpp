#include <algorithm>
#include <array>
#include <cstddef>

#include "mendwell/files/versioners.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/resources/resources.h"
#include "platform/system/system.h"
#include "platform/text/format.h"
#include "platform/text/text.h"

namespace mw::versioning {

namespace {

std::array<std::uint32_t, 4> parts(const FileVersion& v) {
    return {v.major, v.minor, v.build, v.revision};
}

bool fullyKnown(const FileVersion& v) {
    for (std::uint32_t p : parts(v))
        if (p == kUnknownPart) return false;
    return true;
}

void logVersion(std::wstring_view format, const std::wstring& path, const FileVersion& v) {
    logInfo(format, path, v.major, v.minor, v.build, v.revision);
}

// A versioner recognised the first file: its answer decides, by the numbers.
int compareByVersioner(const std::wstring& first, const std::wstring& second, const FileVersion& a) {
    logInfo(L"Orvex File Versioner is followed for this file.");
    logVersion(L"Version of the file %s: %d.%d.%d.%d", first, a);
    FileVersion b;
    int kind = kindNone;
    getFileVersion(win::toUtf8(second).c_str(), &b, &kind);
    logVersion(L"Version of the file %s: %d.%d.%d.%d", second, b);
    int answer = 1;
    // An unrecognised second file has no version to weigh: replace, as in every other unknown case.
    if (compareVersionNumbers(b, a, answer) != numbersCompared) return 1;
    return answer;
}

int compareByResource(const std::wstring& first, const std::wstring& second) {
    logInfo(L"OS file versioner is followed for this file.");
    std::wstring firstText;
    if (osFileVersionText(first, firstText) != 0) {
        logInfo(L"Version info is not available for the file. File will be blindly overwritten.");
        return 1;
    }
    std::wstring secondText = L"0.0.0.0";
    osFileVersionText(second, secondText);
    const FileVersion a = parseVersionText(firstText);
    const FileVersion b = parseVersionText(secondText);
    logVersion(L"version of the file %s: %d.%d.%d.%d", first, a);
    logVersion(L"version of the file %s: %d.%d.%d.%d", second, b);
    const auto pa = parts(a);
    const auto pb = parts(b);
    for (std::size_t i = 0; i < pa.size(); ++i) {
        if (pa[i] < pb[i]) return 1;
        if (pa[i] > pb[i]) return -1;
    }
    return 0;
}

}  // namespace

int compareVersions(const std::wstring& first, const std::wstring& second, int* firstKind) {
    FileVersion a;
    int kind = kindNone;
    const int status = getFileVersion(win::toUtf8(first).c_str(), &a, &kind);
    if (firstKind) *firstKind = status == versionRecognised ? kind : kindNone;
    if (status == versionRecognised) return compareByVersioner(first, second, a);
    if (status == versionNotRecognised) return compareByResource(first, second);
    return 1;
}

int compareVersionNumbers(const FileVersion& a, const FileVersion& b, int& answer) {
    if (!fullyKnown(a) || !fullyKnown(b)) return numbersUnknown;
    const auto pa = parts(a);
    const auto pb = parts(b);
    // Compared as the unsigned numbers they are: a part of 2^31 or more is a larger version.
    for (std::size_t i = 0; i < pa.size(); ++i) {
        if (pa[i] != pb[i]) {
            answer = pa[i] < pb[i] ? -1 : 1;
            return numbersCompared;
        }
    }
    answer = 0;
    return numbersCompared;
}

int osFileVersionText(const std::wstring& path, std::wstring& text) {
    std::vector<std::uint8_t> block;
    if (!win::readVersionBlock(std::wstring_view(path), block) || block.empty()) {
        text = L"0.0.0.0";
        return -1;
    }
    // The fixed file information after the root block's key; a damaged block gives none.
    win::VersionInfo info;
    if (!win::parseVersionInfo(block, info)) return -1;
    const std::uint32_t ms = info.fileVersionMS;
    const std::uint32_t ls = info.fileVersionLS;
    text = win::format(L"%d.%d.%d.%d", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
    return 0;
}

FileVersion parseVersionText(std::wstring_view text) {
    text = text.substr(0, 31);
    FileVersion v{0, 0, 0, 0};
    std::uint32_t* out[4] = {&v.major, &v.minor, &v.build, &v.revision};
    std::size_t start = 0;
    for (std::uint32_t* part : out) {
        if (start > text.size()) break;
        std::size_t dot = text.find(L'.', start);
        if (dot == std::wstring_view::npos) dot = text.size();
        std::uint64_t n = 0;
        for (std::size_t i = start; i < dot && text[i] >= L'0' && text[i] <= L'9'; ++i)
            n = std::min<std::uint64_t>(n * 10 + static_cast<std::uint64_t>(text[i] - L'0'), kUnknownPart);
        *part = static_cast<std::uint32_t>(n);
        start = dot + 1;
    }
    return v;
}

bool fileDescription(const std::wstring& path, std::wstring& text) {
    std::vector<std::uint8_t> block;
    if (!win::pathExists(path) || !win::readVersionBlock(std::wstring_view(path), block)) return false;
    const auto translations = win::versionTranslations(block);
    for (std::uint16_t language : {win::userDefaultLangId(), std::uint16_t{1033}}) {
        for (const auto& [lang, codePage] : translations) {
            if (lang != language) continue;
            if (win::versionString(block, lang, codePage, L"FileDescription", text)) return true;
            break;  // the first translation in this language decides
        }
    }
    return false;
}

}  // namespace mw::versioning
