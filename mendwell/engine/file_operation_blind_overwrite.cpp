#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/engine/overwrite_checks.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"

namespace mw {

cFileOperationBlindOverwrite::cFileOperationBlindOverwrite(const FileRecord& record) {
    setStagedPaths(record);
    const std::size_t dot = record.destinationPath.rfind(L'.');
    if (dot == std::wstring::npos || sourcePath_.empty()) return;
    // A dotted folder name gives a "extension" with a separator in it; that copy fails and the staged
    // file is used as it is.
    const std::wstring withExtension = sourcePath_ + record.destinationPath.substr(dot);
    if (win::copyFile(sourcePath_, withExtension, false)) sourcePath_ = withExtension;
}

int cFileOperationBlindOverwrite::validate(const FileRecord& record) {
    int result = validationGo;
    if (probe_->exists(targetPath_)) {
        logInfo(
            L"File to be overwritten is present on the target machine. Patcher will now validate the "
            L"file.");
        const std::wstring md5 = probe_->md5(targetPath_);
        logAfterPatchCheck(record, md5, result);
        int answer = 1;
        if (!probe_->compareVersions(targetPath_, sourcePath_, answer, fileKind_)) {
            logCritical(L"compareVersions functions failed to return a valid result.");
            logCritical(L"Version comparison of two files return an error.");
            answer = 1;
        }
        if (answer == -1) {
            logInfo(
                L"File on the machine is already a higher version. No action on the file. Updater will "
                L"progress.");
            result = validationNothingToDo;
        } else {
            logInfo(L"File is validated.");
            readOnlyStep(*probe_, targetPath_, result);
        }
    } else {
        logInfo(L"Patcher was unable to find the file on the target machine: %s", targetPath_);
        result = validationCannot;
    }
    // Renamed already: a file at RenamePath with the after-patch checksum is the finished work of an
    // earlier run.
    if (result == validationCannot && record.renamePath != record.destinationPath &&
        !probe_->exists(record.destinationPath) && probe_->exists(record.renamePath)) {
        const std::wstring md5 = probe_->md5(record.renamePath);
        if (!record.afterPatch.empty()) {
            logInfo(L"Checksum of the file present at the target location: %s", md5);
            logInfo(L"Checksum after patch specified in the Manifest XML file: %s", record.afterPatch);
            if (sameChecksum(md5, record.afterPatch)) {
                logInfo(
                    L"Checksum of the file and checksum after info from XML matches, the file is already "
                    L"updated. No actions takes place on the file. Patcher will progress.");
                result = validationNothingToDo;
            }
        } else {
            logInfo(L"Manifest XML doesn't specify the checksum of the file after patch.");
        }
    }
    return result;
}

int cFileOperationBlindOverwrite::execute(const FileRecord& record) {
    normalizeSlashes(targetPath_);
    const int mode = rollbackMode();
    bool install = true;
    int result = fileOpFailed;
    if (mode == 0) {
        const int validation = validate(record);
        if (validation == validationGo) {
            if (!takeBackup()) return fileOpFailed;
            if (win::copyFile(sourcePath_, targetPath_, false)) {
                logInfo(L"File overwrite operation success.");
                result = fileOpDone;
            } else {
                logError(L"File overwrite operation failed and return error code: %d",
                         static_cast<int>(win::lastError()));
            }
        } else if (validation == validationCannot) {
            if (!fileExists(targetPath_)) {
                logInfo(L"The file was not present, so patcher added the file at the target location.");
                win::DWORD error = 0;
                if (!createDirectoryTree(targetPath_)) {
                    error = win::lastError();
                } else if (!win::copyFile(sourcePath_, targetPath_, false)) {
                    error = win::lastError();
                }
                result = addedInPlace(error);
            }
        } else {
            logInfo(L"File overwrite operation success.");
            result = fileOpNothingToDo;
        }
    } else if (mode == 1) {
        // Undo: the file the run moved on to the new name goes, the backup goes back; a file the run
        // added (no backup) goes away.
        std::wstring movedTo = record.renamePath;
        normalizeSlashes(movedTo);
        if (!movedTo.empty() && !sameTextIgnoringCase(movedTo, targetPath_) && fileExists(movedTo)) {
            clearReadOnly(movedTo);
            if (!win::deleteFile(movedTo)) {
                logError(L"Unable to delete the file at the new name %s. Returned error code: %d", movedTo,
                         static_cast<int>(win::lastError()));
                return fileOpFailed;
            }
        }
        const bool backup = fileExists(sourcePath_);
        bool ok = false;
        if (backup) {
            if (fileExists(targetPath_)) clearReadOnly(targetPath_);
            ok = win::copyFile(sourcePath_, targetPath_, false);
            if (ok) restoreLetterCase(targetPath_);
        } else {
            clearReadOnly(targetPath_);
            ok = win::deleteFile(targetPath_);
            install = false;
        }
        if (ok || !backup) {
            logInfo(L"File overwrite operation success.");
            result = fileOpDone;
        } else {
            logError(L"File overwrite operation failed and return error code: %d",
                     static_cast<int>(win::lastError()));
        }
    }

    std::wstring renamePath = record.renamePath;
    normalizeSlashes(renamePath);
    if (mode == 0 && (result == fileOpDone || result == fileOpNothingToDo) && !renamePath.empty() &&
        renamePath != targetPath_ && fileExists(targetPath_)) {
        result =
            win::moveFile(targetPath_, renamePath, win::moveflag::writeThrough) ? fileOpDone : fileOpFailed;
    }
    commonTrailingSteps(record, true, fileKind_, install);
    return result;
}

}  // namespace mw
