#include <cwctype>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"

namespace win {

namespace {

bool sameText(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

}  // namespace

bool installColorProfile(std::wstring_view profile) {
    if (!pathExists(profile)) {
        setLastError(err::fileNotFound);
        return false;
    }
    const std::wstring folder = colorDirectory();
    if (sameText(parentPart(profile), folder)) return true;
    createDirectory(folder);
    return copyFile(profile, combine(folder, fileNamePart(profile)), false);
}

bool uninstallColorProfile(std::wstring_view profile, bool deleteFile) {
    if (!pathExists(profile)) {
        setLastError(err::fileNotFound);
        return false;
    }
    return !deleteFile || win::deleteFile(profile);
}

}  // namespace win
