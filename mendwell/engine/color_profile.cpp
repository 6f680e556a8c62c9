#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/engine/file_undo.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"

namespace mw {

namespace {

// The colour directory is asked into a 260-byte buffer: directory, "\" and name must fit 129 characters.
constexpr std::size_t kColourPathLimit = 129;

}  // namespace

void installColorProfile(const std::wstring& target, int rollbackMode, bool install) {
    // The colour folder has undo entries of its own, which put back exactly the profile it held (or
    // none); installing the product's restored file there would replace that.
    if (rollbackMode == 1) return;
    // A blind overwrite that moved its file on has nothing here to install, and would only delete.
    if (install && !fileExists(target)) return;
    const std::wstring folder = win::colorDirectory();
    const std::wstring name = win::fileNamePart(target);
    if (folder.size() + 1 + name.size() > kColourPathLimit) {
        logError(L"The colour profile %s is not installed: its path in the colour directory is too long.",
                 target);
        return;
    }
    const std::wstring profile = folder + L"\\" + name;
    if (sameTextIgnoringCase(profile, target)) {
        // Put straight into the colour directory: taking it out first would delete the new file itself.
        if (install) win::installColorProfile(profile);
        return;
    }
    bool replace = true;
    if (rollbackMode != 1 && fileExists(profile)) {
        int answer = 0;
        int kind = kNoFileKind;
        // Ours goes in unless it is the older one (answer 1). Taken the other way round, a newer
        // profile would never be installed and an older one would replace a newer.
        replace = !compareFileVersions(target, profile, answer, kind) || answer != 1;
    }
    // A newer profile already installed stays: taking it out without putting ours in would lose it.
    if (install && !replace) {
        logInfo(L"A newer colour profile is already installed at %s; it is kept.", profile);
        return;
    }
    if (!recordColourProfileUndo(profile, fileMd5Text(target))) return;
    const std::wstring old = profile + L"._orxOLD";
    if (fileExists(profile)) win::copyFile(profile, old, false);
    win::uninstallColorProfile(profile, true);
    if (install) {
        win::copyFile(target, profile, false);
        win::installColorProfile(profile);
    }
    win::deleteFile(old);
}

}  // namespace mw
