#include "mendwell/engine/file_undo.h"

#include "mendwell/engine/fault_injection.h"
#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operation.h"
#include "mendwell/engine/patch_controller.h"
#include "mendwell/engine/undo_record.h"
#include "mendwell/records/rollback_manifest.h"
#include "mendwell/base/workfolder.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"

namespace mw {

namespace {

bool movesOnAfterOverwrite(const FileRecord& record) {
    std::wstring destination = record.destinationPath;
    std::wstring renamePath = record.renamePath;
    normalizeSlashes(destination);
    normalizeSlashes(renamePath);
    return !renamePath.empty() && !sameTextIgnoringCase(renamePath, destination);
}

}  // namespace

win::xml::Node appendFileUndo(win::xml::Node fileSet, const FileRecord& record, bool targetExisted) {
    const std::wstring& op = record.operation;
    std::wstring undo;
    if (op == L"add" || (op == L"overwrite" && !targetExisted)) {
        // An overwrite of a missing file adds it; its undo takes it away again.
        undo = L"remove";
    } else if (op == L"remove") {
        undo = L"add";
    } else if (op == L"patch") {
        undo = L"overwrite";
    } else if (op == L"overwrite" || op == L"blindoverwrite" || op == L"rename" || op == L"touch") {
        undo = op;
    }
    // Newest first, as the other sets: a rollback then undoes two changes of one file in reverse order.
    win::xml::Node file = fileSet.prependElement(L"File");
    file.appendElement(L"Operation", undo);
    file.appendElement(L"ObjectName", record.objectName);
    if (op == L"rename") {
        file.appendElement(L"DestinationPath", record.renamePath);
        file.appendElement(L"RenamePath", record.destinationPath);
        if (record.readOnly == L"true") file.appendElement(L"ReadOnly", L"true");
    } else {
        file.appendElement(L"DestinationPath", record.destinationPath);
        // A blind overwrite that moved its file on: the file at the new name goes, the old one comes back.
        if (op == L"blindoverwrite" && movesOnAfterOverwrite(record))
            file.appendElement(L"RenamePath", record.renamePath);
        if (op == L"touch") {
            if (record.readOnly == L"true") file.appendElement(L"ReadOnly", L"true");
            if (!record.lastWrite.empty()) file.appendElement(L"LastWrite", record.lastWrite);
        }
    }
    if ((op == L"add" || undo == L"remove") && !record.afterPatch.empty()) {
        file.appendElement(L"Checksum").appendElement(L"AfterPatch", record.afterPatch);
    }
    return file;
}

namespace {

// Ops that put a file where there was none (an overwrite of a missing file adds it; a rename moves one
// to its new name).
bool bringsNewFile(const FileRecord& record, const FileEntryState& before) {
    const std::wstring& op = record.operation;
    if (op == L"rename") return before.destinationExisted && !before.renamePathExisted;
    return !before.destinationExisted &&
           (op == L"add" || op == L"overwrite" || op == L"patch" || op == L"blindoverwrite");
}

}  // namespace

void recordFileUndo(const FileRecord& record, const FileEntryState& before) {
    if (RollbackManifestFile* manifest = rollbackManifest()) {
        injectedKillBeforeRecord();
        FileRecord undone = record;
        if (record.operation == L"touch" && !before.destinationExisted) return;
        // The file comes back under the name it had, not the entry's spelling of it.
        if (!before.destinationOnDisk.empty()) undone.destinationPath = before.destinationOnDisk;
        if (before.destinationReadOnly) undone.readOnly = L"true";
        undone.lastWrite = before.destinationLastWrite;
        // The undo of a file the run put in place takes away only that file: a recovery run twice must
        // not take the product's own one that an earlier pass already put back.
        if (undone.afterPatch.empty() && !before.destinationExisted) {
            std::wstring destination = record.destinationPath;
            normalizeSlashes(destination);
            undone.afterPatch = fileMd5Text(destination);
        }
        // A blind overwrite that left the file as it was (a newer one) and only moved it on: a rename.
        if (record.operation == L"blindoverwrite" && movesOnAfterOverwrite(record) && before.destinationExisted &&
            !win::pathExists(workPath(L"\\BackUp\\" + record.objectName)))
            undone.operation = L"rename";
        manifest->journal(appendFileUndo(manifest->fileSet(), undone, before.destinationExisted));
        if (bringsNewFile(record, before)) recordDirectoryAddUndo(before.missingFolders);
    }
}

FileEntryState probeFileEntry(const FileRecord& record) {
    std::wstring destination = record.destinationPath;
    std::wstring renamePath = record.renamePath;
    normalizeSlashes(destination);
    normalizeSlashes(renamePath);
    FileEntryState state;
    state.destinationExisted = fileExists(destination);
    state.renamePathExisted = !renamePath.empty() && fileExists(renamePath);
    state.destinationReadOnly = state.destinationExisted && isReadOnly(destination);
    if (state.destinationExisted) state.destinationOnDisk = pathAsOnDisk(destination);
    win::FileTimes times;
    if (record.operation == L"touch" && state.destinationExisted && win::getFileTimes(destination, times))
        state.destinationLastWrite = std::to_wstring(times.lastWrite);
    // The folders of the path the entry puts a file at (a rename's new name), found by walking up from
    // its folder to the first that exists. A file already there has them all. Never the bare drive: a
    // prefix without "\\" is not a folder a run could make.
    const bool rename = record.operation == L"rename";
    const std::wstring& made = rename ? renamePath : destination;
    if (made.empty() || (rename ? state.renamePathExisted : state.destinationExisted)) return state;
    const std::size_t root = made.find(L'\\');
    for (std::size_t at = made.rfind(L'\\'); at != std::wstring::npos && root != std::wstring::npos && at > root;
         at = made.rfind(L'\\', at - 1)) {
        std::wstring folder = made.substr(0, at);
        if (win::isDirectory(folder)) break;
        state.missingFolders.insert(state.missingFolders.begin(), std::move(folder));
    }
    return state;
}

bool fileEntryUntouched(const FileRecord& record, const FileEntryState& before) {
    const FileEntryState now = probeFileEntry(record);
    const std::wstring& op = record.operation;
    if (op == L"rename")
        return now.destinationExisted == before.destinationExisted &&
               now.renamePathExisted == before.renamePathExisted;
    if (!before.destinationExisted) return !now.destinationExisted;
    // A read-only bit cleared for a copy that then failed is a change the backup must undo.
    if (now.destinationExisted && now.destinationReadOnly != before.destinationReadOnly) return false;
    if (op == L"add" || op == L"touch") return true;
    // The operations take their backup before they write: without one the file was not written; with
    // one, the file is as it was when it still reads the same. A file that cannot be read could not
    // have been written either.
    const std::wstring backup = workPath(L"\\BackUp\\" + record.objectName);
    std::wstring destination = record.destinationPath;
    normalizeSlashes(destination);
    std::string saved;
    std::string current;
    if (!win::readFile(backup, saved)) return true;
    if (!win::readFile(destination, current)) return now.destinationExisted;
    return saved == current;
}

void recordPendingFileUndo(const FileRecord& entryRecord, const FileEntryState& before) {
    RollbackManifestFile* manifest = rollbackManifest();
    if (!manifest) return;
    FileRecord record = entryRecord;
    if (!before.destinationOnDisk.empty()) record.destinationPath = before.destinationOnDisk;
    const std::wstring& op = record.operation;
    auto entry = [&](const wchar_t* operation, const std::wstring& destination) {
        win::xml::Node file = manifest->fileSet().prependElement(L"File");
        file.appendElement(L"Operation", operation);
        file.appendElement(L"ObjectName", record.objectName);
        file.appendElement(L"DestinationPath", destination);
        return file;
    };
    if (op == L"rename") {
        // Only a rename that can happen is undone: moving back never replaces a file.
        if (before.destinationExisted && !before.renamePathExisted) {
            win::xml::Node undo = entry(L"rename", record.renamePath);
            undo.appendElement(L"RenamePath", record.destinationPath);
            if (before.destinationReadOnly) undo.appendElement(L"ReadOnly", L"true");
        }
    } else if (op == L"add") {
        // An add never changes a file that is there; the one it brings is known by its checksum.
        if (!before.destinationExisted) {
            const std::wstring md5 = fileMd5Text(workPath(L"\\StagingArea\\" + record.objectName));
            win::xml::Node undo = entry(L"remove", record.destinationPath);
            if (!md5.empty()) undo.appendElement(L"Checksum").appendElement(L"AfterPatch", md5);
        }
    } else if (op == L"remove" || op == L"overwrite" || op == L"patch" || op == L"blindoverwrite") {
        // The backup, once it exists, is the file as it was: it goes back (nothing when there is none,
        // since the entry then had not touched the file); a file that was not there goes away.
        entry(before.destinationExisted ? L"add" : L"remove", record.destinationPath);
        // A blind overwrite may have moved the file on to a name where there was none: a file the run
        // added goes from there; the product's own moves back first, and its backup then goes over it.
        if (op == L"blindoverwrite" && movesOnAfterOverwrite(record) && !before.renamePathExisted) {
            if (before.destinationExisted) {
                win::xml::Node undo = entry(L"rename", record.renamePath);
                undo.appendElement(L"RenamePath", record.destinationPath);
                if (before.destinationReadOnly) undo.appendElement(L"ReadOnly", L"true");
            } else
                entry(L"remove", record.renamePath);
        }
    } else if (op == L"touch" && before.destinationExisted) {
        win::xml::Node undo = entry(L"touch", record.destinationPath);
        if (before.destinationReadOnly) undo.appendElement(L"ReadOnly", L"true");
        if (!before.destinationLastWrite.empty())
            undo.appendElement(L"LastWrite", before.destinationLastWrite);
    }
    if (bringsNewFile(record, before)) recordDirectoryAddUndo(before.missingFolders);
}

bool recordColourProfileUndo(const std::wstring& profile, const std::wstring& incomingMd5) {
    RollbackManifestFile* manifest = rollbackManifest();
    if (!manifest || !manifest->isOpen() || patchGlobals().rollbackMode != 0) return true;
    const auto entry = [&](const wchar_t* operation, const std::wstring& objectName,
                           const std::wstring& path) {
        win::xml::Node file = manifest->fileSet().prependElement(L"File");
        file.appendElement(L"Operation", operation);
        file.appendElement(L"ObjectName", objectName);
        file.appendElement(L"DestinationPath", path);
        return file;
    };
    const std::wstring name = win::fileNamePart(profile);
    if (!win::pathExists(profile)) {
        // Only the profile this run puts there goes: a recovery run twice finds it gone or another.
        win::xml::Node undo = entry(L"remove", name, profile);
        if (!incomingMd5.empty()) undo.appendElement(L"Checksum").appendElement(L"AfterPatch", incomingMd5);
        return manifest->journal(undo);
    }
    // The first backup is the folder's own profile: a later entry of the run finds it taken.
    const std::wstring backup = workPath(L"\\BackUp\\colour-folder~" + name);
    if (!win::pathExists(backup)) {
        const std::wstring part = backup + L".part";
        if (win::pathExists(part)) clearReadOnly(part);
        if (!win::copyFile(profile, part, false) || !win::moveFile(part, backup, 0)) {
            logError(L"Unable to take the backup of the colour profile %s. Returned error code: %d", profile,
                     static_cast<int>(win::lastError()));
            return false;
        }
    }
    const std::wstring onDisk = pathAsOnDisk(profile);
    bool ok = manifest->journal(entry(L"add", L"colour-folder~" + name, onDisk));
    // The step copies the profile aside under this name and deletes it again; a kill between leaves it.
    if (!win::pathExists(profile + L"._orxOLD"))
        ok = manifest->journal(entry(L"remove", name + L"._orxOLD", onDisk + L"._orxOLD")) && ok;
    return ok;
}

}  // namespace mw
