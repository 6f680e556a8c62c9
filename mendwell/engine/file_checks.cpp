#include "mendwell/engine/file_checks.h"

#include "mendwell/files/checksum.h"
#include "mendwell/files/versioners.h"
#include "platform/text/text.h"

namespace mw {

std::wstring fileMd5Text(const std::wstring& path) {
    const std::string text = md5Text(path);
    return std::wstring(text.begin(), text.end());
}

bool fileVersionKind(const std::wstring& path, int& kind) {
    versioning::FileVersion version;
    kind = versioning::kindNone;
    return versioning::getFileVersion(win::toUtf8(path).c_str(), &version, &kind) ==
           versioning::versionRecognised;
}

bool compareFileVersions(const std::wstring& first, const std::wstring& second, int& answer, int& firstKind) {
    firstKind = versioning::kindNone;
    answer = versioning::compareVersions(first, second, &firstKind);
    return true;
}

}  // namespace mw
