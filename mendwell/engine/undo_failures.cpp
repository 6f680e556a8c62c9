#include "mendwell/engine/undo_failures.h"

#include "mendwell/engine/file_operation.h"
#include "mendwell/engine/registry_operation.h"
#include "mendwell/records/rollback_manifest.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/registry/registry.h"

namespace mw {

namespace {

// Held when another handle keeps the patcher from writing or deleting it (error 32). Opening and closing
// a handle changes nothing on the file.
bool held(const std::wstring& path) {
    if (path.empty() || !win::pathExists(path) || win::isDirectory(path)) return false;
    win::File file;
    if (file.open(path, win::access::read, win::share::none, win::Disposition::openExisting)) return false;
    return win::lastError() == win::err::sharingViolation;
}

}  // namespace

std::vector<UndoFailure>& undoFailures() {
    static std::vector<UndoFailure> failures;
    return failures;
}

UndoFailure fileUndoFailure(const FileRecord& record, int index) {
    UndoFailure failure{L"FileSet", index, record.operation + L" " + record.destinationPath, {}};
    std::wstring destination = record.destinationPath;
    std::wstring renamePath = record.renamePath;
    normalizeSlashes(destination);
    normalizeSlashes(renamePath);
    for (const std::wstring& path : {destination, renamePath})
        if (held(path)) failure.hold += (failure.hold.empty() ? L"the file " : L" and the file ") + path;
    return failure;
}

UndoFailure directoryUndoFailure(const DirectoryRecord& record, int index) {
    return {L"DirectorySet", index, record.operation + L" folder " + record.directoryBase, {}};
}

UndoFailure registryUndoFailure(const RegistryRecord& record, int index) {
    UndoFailure failure{L"PDSSet", index,
                        record.operation + L" " + record.root + L"\\" + record.keyPath + L" " + record.keyName,
                        {}};
    const auto hive = registryHive(record.root);
    win::RegKey key;
    if (hive && key.open(*hive, record.keyPath) == static_cast<win::LONG>(win::err::accessDenied))
        failure.hold = L"the registry key " + record.root + L"\\" + record.keyPath + L" (access denied)";
    return failure;
}

bool settleJournalAfterRollback(const std::wstring& manifestPath, const std::wstring& installFolder) {
    std::vector<JournalEntryRef> keep;
    for (const UndoFailure& failure : undoFailures()) {
        if (failure.hold.empty()) {
            logError(L"The rollback could not undo %s; nothing outside the patcher holds it, so it is not tried again.",
                     failure.entry);
        } else {
            logError(L"The rollback could not undo %s: release %s.", failure.entry, failure.hold);
            keep.push_back({failure.set, failure.index});
        }
    }
    if (!keepJournalEntries(manifestPath, installFolder, keep)) {
        logError(L"Unable to keep the rollback journal beside %s.", manifestPath);
        return false;
    }
    return keep.empty();
}

}  // namespace mw
