#include "mendwell/engine/file_operations.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"

#include <cwchar>

namespace mw {

cFileOperationTouch::cFileOperationTouch(const FileRecord& record) {
    sourcePath_ = record.destinationPath;
}

int cFileOperationTouch::validate(const FileRecord&) {
    if (!probe_->exists(sourcePath_)) {
        logInfo(L"File to be touched is not present on the system.");
        return validationNothingToDo;
    }
    logInfo(L"file is present on the system.");
    if (!probe_->clearReadOnly(sourcePath_)) {
        logError(L"File is read-only, updater is unable to change its attribute.");
        return validationCannot;
    }
    logInfo(L"file is read-only, updater changed its attributes.");
    return validationGo;
}

int cFileOperationTouch::execute(const FileRecord& record) {
    if (rollbackMode() == 1) return undo(record);
    const int validation = validate(record);
    logInfo(L"Touching file: %s", sourcePath_);
    if (validation == validationNothingToDo) return fileOpUnknown;
    if (validation == validationCannot) return fileOpDone;
    const win::FileTime now = win::currentFileTime();
    win::File file;
    if (!file.open(sourcePath_, win::access::read | win::access::write, win::share::none,
                   win::Disposition::openExisting) ||
        !file.setTimes(nullptr, nullptr, &now)) {
        logError(L"Updater failed to modify the file date stamp");
        return fileOpFailed;
    }
    file.close();
    logInfo(L"File successfully modified");
    return fileOpDone;
}

// The touch cleared the read-only bit and moved the last-write time: both go back. Run again (a
// recovery cut short), it sets the same again.
int cFileOperationTouch::undo(const FileRecord& record) {
    normalizeSlashes(sourcePath_);
    if (!fileExists(sourcePath_)) return fileOpDone;
    bool ok = true;
    if (!record.lastWrite.empty()) {
        const win::FileTime time = std::wcstoull(record.lastWrite.c_str(), nullptr, 10);
        clearReadOnly(sourcePath_);
        ok = win::setFileTimes(sourcePath_, nullptr, nullptr, &time);
    }
    if (record.readOnly == L"true")
        ok = win::setFileAttributes(sourcePath_, win::getFileAttributes(sourcePath_) | win::attr::readOnly) &&
             ok;
    if (!ok) {
        logError(L"Unable to give %s back its attributes and time. Returned error code: %d", sourcePath_,
                 static_cast<int>(win::lastError()));
        return fileOpFailed;
    }
    return fileOpDone;
}

}  // namespace mw
