#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/engine/overwrite_checks.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"

namespace mw {

void logAfterPatchCheck(const FileRecord& record, const std::wstring& md5, int& result) {
    if (record.afterPatch.empty()) {
        logInfo(L"Manifest XML doesn't specify the checksum of the file after patch.");
        return;
    }
    logInfo(L"Checksum of the file present at the target location: %s", md5);
    logInfo(L"Checksum after patch specified in the Manifest XML file: %s", record.afterPatch);
    if (sameChecksum(md5, record.afterPatch)) {
        logInfo(
            L"Checksum of the file and checksum after info from XML matches, file is already updated. No "
            L"actions takes place on the file. Patcher will progress.");
        result = validationNothingToDo;
    }
}

void readOnlyStep(FileProbe& probe, const std::wstring& target, int& result) {
    if (!probe.readOnly(target)) return;
    logInfo(
        L"%s is a read-only file. Its attributes needs to be changed to normal, before patcher can "
        L"overwrite the file.",
        target);
    if (!probe.clearReadOnly(target)) {
        logError(L"Unable to set the attributes of the file to normal. Patcher will fail.");
        result = validationCannot;
    } else {
        logInfo(L"Patcher was able to set the attributes of the file to normal.");
    }
}

cFileOperationOverwrite::cFileOperationOverwrite(const FileRecord& record) {
    setStagedPaths(record);
}

int cFileOperationOverwrite::validate(const FileRecord& record) {
    if (!probe_->exists(targetPath_)) {
        logError(L"Patcher was unable to find the file on the target machine: %s", targetPath_);
        return validationCannot;
    }
    logInfo(L"File to be overwritten is present on the target machine. Patcher will now validate the file.");
    const std::wstring md5 = probe_->md5(targetPath_);
    int result = validationGo;
    logAfterPatchCheck(record, md5, result);
    if (result != validationGo) return result;
    if (!record.beforePatch.empty()) {
        logInfo(L"Checksum before patch specified in the Manifest XML file: %s", record.beforePatch);
        if (!sameChecksum(md5, record.beforePatch)) {
            logError(
                L"Checksum before patch info doesn't match with the file on the target machine. "
                L"Overwriting files needs to fulfill this criteria, else patch fails. Patcher will fail.");
            return validationCannot;
        }
        logInfo(
            L"Checksum of the file and checksum before info from the XML matches, it means the file is "
            L"fit for overwritting.");
    } else {
        logInfo(
            L"Checksum before info is not available from the Manifest XML file, so patcher will now "
            L"blindly overwrite the file.");
    }
    readOnlyStep(*probe_, targetPath_, result);
    return result;
}

int cFileOperationOverwrite::execute(const FileRecord& record) {
    normalizeSlashes(targetPath_);
    const int mode = rollbackMode();
    int result = fileOpFailed;
    int validation = validationCannot;
    if (mode == 0) {
        validation = validate(record);
    } else if (mode == 1) {
        int ignored = validationGo;
        readOnlyStep(*probe_, targetPath_, ignored);
        validation = validationGo;
    }
    if (mode != 0 && mode != 1) {
        result = fileOpFailed;
    } else if (validation == validationGo) {
        // The new file is written whole: the old one need not stay in place while it is.
        if (mode == 0 && !moveToBackup()) return fileOpFailed;
        // Gone from here since: an earlier recovery already restored it and a later undo moved it on.
        if (mode == 1 && !fileExists(targetPath_)) {
            logInfo(L"The file %s is no longer there; an earlier rollback already restored it.", targetPath_);
            trailingStepsAskingKind(record);
            return fileOpDone;
        }
        // An overwrite always took its backup: without it the old file cannot come back.
        if (mode == 1 && !fileExists(sourcePath_)) {
            logError(L"The backup %s to restore %s is missing.", sourcePath_, targetPath_);
            return fileOpFailed;
        }
        if (win::copyFile(sourcePath_, targetPath_, false)) {
            logInfo(L"File overwrite operation success.");
            result = fileOpDone;
        } else {
            logError(L"File overwrite operation failed and return error code: %d",
                     static_cast<int>(win::lastError()));
        }
    } else if (validation == validationCannot) {
        if (!fileExists(targetPath_)) {
            logInfo(
                L"File validation failed because the file was not present, so patcher just add the file at "
                L"the target location and the patch will progress.");
            const bool copied = win::copyFile(sourcePath_, targetPath_, false);
            const win::DWORD error = copied ? 0 : win::lastError();
            result = addedInPlace(error);
        }
    } else {
        logInfo(L"File overwrite operation success.");
        result = fileOpNothingToDo;
    }
    trailingStepsAskingKind(record);
    return result;
}

}  // namespace mw
