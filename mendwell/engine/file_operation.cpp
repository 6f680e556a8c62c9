#include "mendwell/engine/file_operation.h"

#include <cwctype>

#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"

namespace mw {

int cFileOperation::rollbackMode() {
    return patchGlobals().rollbackMode;
}

std::wstring cFileOperation::stagedFile(const std::wstring& objectName) {
    return workPath(L"\\StagingArea\\" + objectName);
}

std::wstring cFileOperation::backupFile(const std::wstring& objectName) {
    return workPath(L"\\BackUp\\" + objectName);
}

void cFileOperation::setStagedPaths(const FileRecord& record) {
    targetPath_ = record.destinationPath;
    if (rollbackMode() == 0) {
        sourcePath_ = stagedFile(record.objectName);
        backupPath_ = backupFile(record.objectName);
    } else if (rollbackMode() == 1) {
        sourcePath_ = backupFile(record.objectName);
    }
}

int cFileOperation::addedInPlace(win::DWORD copyError) const {
    if (fileExists(targetPath_)) {
        logInfo(L"File overwrite operation success.");
        return fileOpDone;
    }
    logInfo(L"File overwrite operation failed and return error code: %d.", static_cast<int>(copyError));
    return fileOpFailed;
}

bool cFileOperation::writeBackup(const std::wstring& from) const {
    if (fileExists(backupPath_)) {
        win::setLastError(80);
        return false;
    }
    const std::wstring part = backupPath_ + L".part";
    if (fileExists(part)) clearReadOnly(part);
    if (!win::copyFile(from, part, false)) return false;
    if (originalAttributes_ != win::attr::invalid && (originalAttributes_ & win::attr::readOnly)) {
        const win::DWORD attributes = win::getFileAttributes(part);
        win::setFileAttributes(part, (attributes & ~win::attr::normal) | win::attr::readOnly);
    }
    if (win::moveFile(part, backupPath_, 0)) return true;
    const win::DWORD error = win::lastError();
    clearReadOnly(part);
    win::deleteFile(part);
    win::setLastError(error);
    return false;
}

bool cFileOperation::takeBackup() const {
    if (writeBackup(targetPath_)) return true;
    const win::DWORD error = win::lastError();
    logInfo(L"Location of the original file on the target machine: %s", targetPath_);
    logInfo(L"Location of the target machine to take backup: %s", backupPath_);
    logError(L"Unable to take the backup of the original file. Patcher will fail. Return error code: %d",
             static_cast<int>(error));
    return false;
}

bool cFileOperation::moveToBackup() const {
    if (!fileExists(backupPath_) && win::moveFile(targetPath_, backupPath_, 0)) {
        // The backup carries the read-only bit the target had before the entry cleared it.
        if (originalAttributes_ != win::attr::invalid && (originalAttributes_ & win::attr::readOnly)) {
            const win::DWORD attributes = win::getFileAttributes(backupPath_);
            win::setFileAttributes(backupPath_, (attributes & ~win::attr::normal) | win::attr::readOnly);
        }
        return true;
    }
    return takeBackup();
}

void cFileOperation::commonTrailingSteps(const FileRecord& record, bool colourStep, int fileKind,
                                         bool install) const {
    if (record.touch == L"true") {
        cFileOperationTouch touch(record);
        touch.execute(record);
    }
    if (colourStep && fileKind == kColorProfileKind)
        installColorProfile(targetPath_, rollbackMode(), install);
}

void cFileOperation::trailingStepsAskingKind(const FileRecord& record) const {
    int kind = kNoFileKind;
    const bool known = fileVersionKind(targetPath_, kind);
    commonTrailingSteps(record, known, kind, true);
}

bool fileExists(const std::wstring& path) {
    return win::pathExists(path);
}

bool createDirectoryTree(const std::wstring& path) {
    for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        const std::wstring prefix = path.substr(0, at);
        if (win::isDirectory(prefix)) continue;
        if (!win::createDirectory(prefix)) {
            const win::DWORD error = win::lastError();
            if (error != 0) {
                logError(L"Directory creation failed creating the directory \"%s\". Returned error code: %d",
                         prefix, static_cast<int>(error));
                return false;
            }
        }
    }
    return true;
}

// A prefix without "\" (the bare drive) is never tried: "C:" names the current folder of drive C.
namespace {

std::wstring& productFolder() {
    static std::wstring folder;
    return folder;
}

}  // namespace

void setProductFolder(std::wstring folder) {
    normalizeSlashes(folder);
    while (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    productFolder() = std::move(folder);
}

void pruneEmptyFolders(const std::wstring& file) {
    const std::wstring& product = productFolder();
    std::wstring folder = file;
    for (std::size_t at = folder.rfind(L'\\'); at != std::wstring::npos; at = folder.rfind(L'\\')) {
        folder.resize(at);
        if (folder.find(L'\\') == std::wstring::npos) return;
        // Only below the product's folder: C:\Program Files and the maker's folder are not the run's.
        if (!product.empty() && (folder.size() <= product.size() ||
                                 !sameTextIgnoringCase(folder.substr(0, product.size()), product) ||
                                 folder[product.size()] != L'\\'))
            return;
        if (!win::removeDirectory(folder)) return;
    }
}

bool isReadOnly(const std::wstring& path) {
    const win::DWORD attributes = win::getFileAttributes(path);
    return attributes != win::attr::invalid && (attributes & win::attr::readOnly) != 0;
}

bool clearReadOnly(const std::wstring& path) {
    const win::DWORD attributes = win::getFileAttributes(path);
    return win::setFileAttributes(path, (attributes & ~win::attr::readOnly) | win::attr::normal);
}

bool sameTextIgnoringCase(const std::wstring& a, const std::wstring& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::towlower(a[i]) != std::towlower(b[i])) return false;
    }
    return true;
}

bool sameChecksum(const std::wstring& md5, const std::wstring& expected) {
    return sameTextIgnoringCase(md5, expected);
}

bool verifyChecksum(const std::wstring& path, const std::wstring& expected, ChecksumMessages messages) {
    return verifyChecksum(freshProbe(), path, expected, messages);
}

bool verifyChecksum(FileProbe& probe, const std::wstring& path, const std::wstring& expected,
                    ChecksumMessages messages) {
    if (!probe.exists(path)) return false;
    const std::wstring md5 = probe.md5(path);
    const bool remove = messages == ChecksumMessages::remove;
    if (messages == ChecksumMessages::patch) {
        logInfo(L"Checksum of the file as computed from the target location: %s", md5);
    } else if (messages == ChecksumMessages::rename) {
        logInfo(L"checksum of the file as computed from the target location: %s", md5);
    } else {
        logInfo(L"checksum of the file as computed from the file at target location: %s", md5);
    }
    // An unreadable file has no MD5 text and so never matches, not even an empty checksum.
    const bool match = !md5.empty() && sameChecksum(md5, expected);
    if (match) {
        logInfo(remove ? L"Checksum verified." : L"checksum verified.");
    } else {
        logInfo(remove ? L"Checksum failed." : L"checksum failed.");
    }
    return match;
}

void normalizeSlashes(std::wstring& path) {
    for (wchar_t& c : path) {
        if (c == L'/') c = L'\\';
    }
}

std::wstring pathAsOnDisk(const std::wstring& path) {
    // A full path is answered by one lookup; listing each folder costs ten host calls a name.
    std::wstring onDisk;
    if (win::pathInDiskCase(path, onDisk)) return onDisk;
    std::size_t at = path.find(L'\\');
    if (at == std::wstring::npos) return path;
    std::wstring out = path.substr(0, at);
    while (at != std::wstring::npos) {
        const std::size_t next = path.find(L'\\', at + 1);
        const std::wstring name =
            path.substr(at + 1, next == std::wstring::npos ? std::wstring::npos : next - at - 1);
        win::FindFile find;
        win::FindData found;
        if (name.empty() || name.find_first_of(L"*?") != std::wstring::npos ||
            !find.first(out + L"\\" + name, found))
            return out + path.substr(at);
        out += L"\\" + found.name;
        at = next;
    }
    return out;
}

void restoreLetterCase(const std::wstring& path) {
    const std::wstring onDisk = pathAsOnDisk(path);
    if (onDisk != path && sameTextIgnoringCase(onDisk, path))
        win::moveFile(onDisk, path, win::moveflag::writeThrough);
}

std::unique_ptr<cFileOperation> makeFileOperation(const FileRecord& record) {
    const std::wstring& op = record.operation;
    if (op == L"add") return std::make_unique<cFileOperationAdd>(record);
    if (op == L"remove") return std::make_unique<cFileOperationRemove>(record);
    if (op == L"patch") return makePatchOperation(record);
    if (op == L"rename") return std::make_unique<cFileOperationRename>(record);
    if (op == L"blindoverwrite") return std::make_unique<cFileOperationBlindOverwrite>(record);
    if (op == L"overwrite") return std::make_unique<cFileOperationOverwrite>(record);
    if (op == L"touch") return std::make_unique<cFileOperationTouch>(record);
    return nullptr;
}

int runFileOperation(const FileRecord& record) {
    const std::wstring& op = record.operation;
    const std::unique_ptr<cFileOperation> operation = makeFileOperation(record);
    if (!operation && op == L"patch") {
        logError(L"The operation %s is not part of this build; the entry cannot be carried out.",
                 L"cFileOperationPatch");
        return fileOpFailed;
    }
    if (!operation) {
        // Left alone, as an unknown operation is; said in the log, where a misspelling can be found.
        logWarning(L"Unknown file operation \"%s\" for %s; the entry is left alone.", op,
                   record.destinationPath);
        return fileOpUnknown;
    }
    std::wstring target = record.destinationPath;
    normalizeSlashes(target);
    // The operations clear the read-only bit before they take their backup; the backup gets it back so
    // that the rollback, which copies the backup with its attributes, restores the file as it was.
    if (op != L"rename") operation->setOriginalAttributes(win::getFileAttributes(target));
    return operation->execute(record);
}

}  // namespace mw
