#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"

namespace mw {

namespace {

// Both files there with the same size and checksum.
bool sameBytes(const std::wstring& a, const std::wstring& b) {
    std::uint64_t sizeA = 0, sizeB = 0;
    if (!win::getFileSize(a, sizeA) || !win::getFileSize(b, sizeB) || sizeA != sizeB) return false;
    const std::wstring md5 = fileMd5Text(a);
    return !md5.empty() && md5 == fileMd5Text(b);
}

}  // namespace

cFileOperationAdd::cFileOperationAdd(const FileRecord& record) {
    setStagedPaths(record);
}

int cFileOperationAdd::validate(const FileRecord& record) {
    const bool present = probe_->exists(targetPath_);
    int result = validationGo;
    if (present) {
        logInfo(
            L"File with same name is already present on target machine at: %s Patcher will verify the "
            L"checksum of the file.",
            targetPath_);
        const std::wstring md5 = probe_->md5(targetPath_);
        if (!record.afterPatch.empty() && sameChecksum(md5, record.afterPatch)) {
            result = validationNothingToDo;
            logInfo(
                L"MD5 checksum info is available. File with same name and same MD5 checksum is already "
                L"present on the target machine. No action takes place on the file. Patcher will "
                L"progress.");
        } else if (!record.afterPatch.empty()) {
            result = validationCannot;
            logError(
                L"MD5 checksum info is available. File with same name but different MD5 checksum is "
                L"present on the target machine at the same location. Patcher will rollback.");
        } else {
            result = validationCannot;
            logError(
                L"No MD5 checksum avalaible. File with same name but different MD5 checksum already is "
                L"present on the target machine at the same location. Patcher will rollback.");
        }
    }
    if (record.afterPatch.empty() || present) {
        const bool tree = probe_->createTree(targetPath_);
        if (present) return result;
        if (tree) return validationGo;
        logError(L"Unable to create the directory tree");
        return validationCannot;
    }
    logInfo(
        L"File to be present is not found on the target machine. Verifying checksum of the file to be "
        L"added.");
    if (!sameChecksum(probe_->md5(stagedFile(record.objectName)), record.afterPatch)) {
        logError(L"MD5 checksum of the file is not verified after extraction from the EXE resource.");
        return validationCannot;
    }
    logInfo(L"MD5 checksum of the file is verified after extraction from the EXE resource.");
    if (!probe_->createTree(targetPath_)) {
        logError(L"Unable to create the directory tree");
        return validationCannot;
    }
    logInfo(L"Directory tree is created successfully.");
    return validationGo;
}

int cFileOperationAdd::execute(const FileRecord& record) {
    normalizeSlashes(targetPath_);
    int result = fileOpFailed;
    if (rollbackMode() == 0) {
        const int validation = validate(record);
        if (validation == validationNothingToDo) {
            result = fileOpNothingToDo;
        } else if (validation == validationGo) {
            if (win::copyFile(sourcePath_, targetPath_, true)) {
                logInfo(L"File added successfully.");
                result = fileOpDone;
            } else {
                logError(L"File addition operation failed and returned the error code : %d",
                         static_cast<int>(win::lastError()));
            }
        }
    } else if (rollbackMode() == 1) {
        // Undoing a remove: without a backup there is nothing to put back. The remove pruned the folders
        // it emptied, so they are made again first; otherwise the file could not come back.
        // A file already put back read-only (by a recovery that was cut short) is replaced again.
        if (fileExists(sourcePath_) && fileExists(targetPath_)) clearReadOnly(targetPath_);
        // No backup and no file: the file is lost, which is no success. (No backup with the file there
        // is an entry that had not touched it yet.)
        if (!fileExists(sourcePath_) && !fileExists(targetPath_)) {
            logError(L"The backup %s to restore %s is missing.", sourcePath_, targetPath_);
            trailingStepsAskingKind(record);
            return fileOpFailed;
        }
        if (sameBytes(sourcePath_, targetPath_)) {
            // Its copy never happened (it failed, or the file is held): only the attributes go back, which
            // a program holding the file does not prevent.
            result = win::setFileAttributes(targetPath_, win::getFileAttributes(sourcePath_)) ? fileOpDone
                                                                                              : fileOpFailed;
        } else {
            result = !fileExists(sourcePath_) ||
                             (createDirectoryTree(targetPath_) && win::copyFile(sourcePath_, targetPath_, false))
                         ? fileOpDone
                         : fileOpFailed;
        }
        if (result == fileOpDone && fileExists(sourcePath_)) restoreLetterCase(targetPath_);
    }
    trailingStepsAskingKind(record);
    return result;
}

}  // namespace mw
