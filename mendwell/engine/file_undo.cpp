#include "mendwell/engine/file_undo.h"

#include "mendwell/engine/patch_controller.h"
#include "mendwell/records/rollback_manifest.h"

namespace mw {

win::xml::Node appendFileUndo(win::xml::Node fileSet, const FileRecord& record) {
    const std::wstring& op = record.operation;
    std::wstring undo;
    if (op == L"add") {
        undo = L"remove";
    } else if (op == L"remove") {
        undo = L"add";
    } else if (op == L"patch") {
        undo = L"overwrite";
    } else if (op == L"overwrite" || op == L"blindoverwrite" || op == L"rename") {
        undo = op;
    }
    // Newest first, as the other sets: a rollback then undoes two changes of one file in reverse order.
    win::xml::Node file = fileSet.prependElement(L"File");
    file.appendElement(L"Operation", undo);
    file.appendElement(L"ObjectName", record.objectName);
    if (op == L"rename") {
        file.appendElement(L"DestinationPath", record.renamePath);
        file.appendElement(L"RenamePath", record.destinationPath);
    } else {
        file.appendElement(L"DestinationPath", record.destinationPath);
    }
    if (op == L"add" && !record.afterPatch.empty()) {
        file.appendElement(L"Checksum").appendElement(L"AfterPatch", record.afterPatch);
    }
    return file;
}

void recordFileUndo(const FileRecord& record) {
    if (RollbackManifestFile* manifest = rollbackManifest()) {
        manifest->journal(appendFileUndo(manifest->fileSet(), record));
    }
}

}  // namespace mw
