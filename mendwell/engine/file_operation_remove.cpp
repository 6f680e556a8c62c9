#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"

namespace mw {

cFileOperationRemove::cFileOperationRemove(const FileRecord& record) {
    setStagedPaths(record);
}

int cFileOperationRemove::validate(const FileRecord& record) {
    if (!probe_->exists(targetPath_)) {
        logInfo(L"File to be removed is not present at: %s ", targetPath_);
        return validationNothingToDo;
    }
    logInfo(L"File to be removed is present at: %s", targetPath_);
    if (!record.beforePatch.empty()) {
        logInfo(L"checksum before of the file as specified in the Manifest XML file: %s", record.beforePatch);
        if (!verifyChecksum(*probe_, targetPath_, record.beforePatch, ChecksumMessages::remove))
            return validationCannot;
    }
    logInfo(L"Patcher is verifying the file to be removed for READ-ONLY attributes.");
    if (!probe_->readOnly(targetPath_)) {
        logInfo(L"File is not found to be READ-ONLY.");
        return validationGo;
    }
    logInfo(L"File is found to be READ-ONLY");
    if (!probe_->exists(targetPath_)) {
        logError(L"Patcher is unable to get the attributes of the READ-ONLY file.");
        return validationCannot;
    }
    if (!probe_->clearReadOnly(targetPath_)) {
        logError(
            L"Patcher cannot set the attributes of the file from READ-ONLY to NORMAL. Patcher is unable to "
            L"delete the file so patching fails.");
        return validationCannot;
    }
    logInfo(L"Patcher successfully set the attributes of the file from READ-ONLY to NORMAL.");
    return validationGo;
}

int cFileOperationRemove::execute(const FileRecord& record) {
    normalizeSlashes(targetPath_);
    int result = fileOpFailed;
    bool deleteStep = false;
    if (rollbackMode() == 0) {
        const int validation = validate(record);
        if (validation == validationGo) {
            // The backup is the only copy the rollback can restore: no backup, no delete.
            deleteStep = takeBackup();
        } else {
            writeBackup(targetPath_);
            if (validation == validationNothingToDo) result = fileOpNothingToDo;
        }
    } else if (rollbackMode() == 1) {
        // Undoing an add: a file already gone is what the undo wants (a repeated recovery meets it).
        if (!fileExists(targetPath_)) {
            logInfo(L"File to be removed is not present at: %s ", targetPath_);
            result = fileOpDone;
        } else if (!record.afterPatch.empty() && !sameChecksum(fileMd5Text(targetPath_), record.afterPatch)) {
            // Not the file the run added: an earlier recovery already put the product's own one back.
            logInfo(L"The file at %s is not the one the patch added; it stays.", targetPath_);
            result = fileOpDone;
        } else {
            clearReadOnly(targetPath_);
            deleteStep = true;
        }
    }
    if (deleteStep && win::deleteFile(targetPath_)) {
        result = fileOpDone;
        // Undoing an add, only the folders that run made may go, and its undo entries name them: a
        // folder the product had before (its install folder, say) stays even when it is left empty.
        if (rollbackMode() == 0) pruneEmptyFolders(targetPath_);
    }
    commonTrailingSteps(record, false, kNoFileKind, true);
    return result;
}

}  // namespace mw
