#include "mendwell/engine/file_operations.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"

namespace mw {

cFileOperationRename::cFileOperationRename(const FileRecord& record) {
    targetPath_ = record.renamePath;
    if (rollbackMode() == 0) {
        sourcePath_ = record.destinationPath;
        backupPath_ = backupFile(record.objectName);
    } else if (rollbackMode() == 1) {
        sourcePath_ = backupFile(record.objectName);
    }
}

int cFileOperationRename::validate(const FileRecord& record) {
    if (probe_->exists(sourcePath_)) {
        if (!record.beforePatch.empty()) {
            logInfo(L"checksum before of the file as specified in the Manifest XML file: %s",
                    record.beforePatch);
            if (!verifyChecksum(*probe_, sourcePath_, record.beforePatch, ChecksumMessages::rename)) {
                return validationCannot;
            }
            logInfo(L"Patcher is verifying the file for READ-ONLY attributes.");
        } else {
            logInfo(
                L"No checksum before info is available at Manifest XML file. Patcher will progress and check "
                L"for READ-ONLY attributes of the file.");
        }
        if (!probe_->clearReadOnly(sourcePath_)) {
            logError(L"Patcher fails to set the attributes of the file from READ-ONLY to NORMAL.");
            return validationCannot;
        }
        logInfo(L"Patcher has successfully set the attributes of the file from READ-ONLY to NORMAL.");
        if (probe_->createTree(targetPath_)) return validationGo;
        logError(L"Patcher is unable to create the directory tree to rename the file: %s", targetPath_);
        return validationCannot;
    }
    if (probe_->exists(targetPath_)) {
        logInfo(L"Patcher found that file with renamed path is already present at the target location: %s",
                targetPath_);
        logInfo(L"Patcher is verifying the checksum of the file.");
        logInfo(L"checksum after of the file specified in the Manifest XML file: %s", record.afterPatch);
        return verifyChecksum(*probe_, targetPath_, record.afterPatch, ChecksumMessages::rename)
                   ? validationNothingToDo
                   : validationCannot;
    }
    logError(L"Patcher is unable to find the file to rename on the target location: %s", sourcePath_);
    return validationCannot;
}

int cFileOperationRename::execute(const FileRecord& record) {
    normalizeSlashes(sourcePath_);
    normalizeSlashes(targetPath_);
    int result = fileOpFailed;
    if (rollbackMode() == 0) {
        if (validate(record) != validationGo) {
            if (fileExists(targetPath_)) {
                result = verifyChecksum(targetPath_, record.afterPatch, ChecksumMessages::rename)
                             ? fileOpNothingToDo
                             : fileOpFailed;
            }
        } else {
            clearReadOnly(sourcePath_);
            win::copyFile(sourcePath_, backupPath_, true);
            if (win::moveFile(sourcePath_, targetPath_, win::moveflag::writeThrough)) {
                if (verifyChecksum(targetPath_, record.afterPatch, ChecksumMessages::rename)) {
                    logInfo(L"File renamed successfully.");
                    result = fileOpDone;
                } else {
                    win::moveFile(targetPath_, sourcePath_, win::moveflag::writeThrough);
                }
            } else if (fileExists(targetPath_)) {
                if (verifyChecksum(targetPath_, record.afterPatch, ChecksumMessages::rename)) {
                    logInfo(L"File with same name already present.");
                    logInfo(L"File renamed successfully.");
                    result = fileOpNothingToDo;
                } else {
                    logError(L"File with same name, but different MD5 checksum already present.");
                    logError(L"File rename operation failed.");
                }
            }
        }
    } else if (rollbackMode() == 1) {
        // The undo entry carries the two names exchanged: this moves the file back to its old name.
        std::wstring destination = record.destinationPath;
        std::wstring renamePath = record.renamePath;
        normalizeSlashes(destination);
        normalizeSlashes(renamePath);
        // The old name's folder may have been pruned since. The folders the rename made for the new
        // name have undo entries of their own. A failure is logged, and the rollback goes on.
        // The backup stays as it is: a blind overwrite's undo of its move shares the object name, and
        // puts its backup back, read-only bit and all, right after.
        clearReadOnly(destination);
        if (!createDirectoryTree(renamePath) ||
            !win::moveFile(destination, renamePath, win::moveflag::writeThrough))
            logError(L"Patcher is unable to move the file back to its old name: %s", renamePath);
        // The bit the rename cleared comes back with the old name (also when an earlier recovery moved it).
        if (record.readOnly == L"true" && fileExists(renamePath))
            win::setFileAttributes(renamePath, win::getFileAttributes(renamePath) | win::attr::readOnly);
        result = fileOpDone;
    }
    commonTrailingSteps(record, false, kNoFileKind, true);
    return result;
}

}  // namespace mw
