// Undo entries a rollback run could not carry out. The rollback goes on past them; at its end the journal
// keeps only those that something outside the patcher still holds (a file open in another process, a
// denied registry key): once that is released, the next start finishes the repair. The others cannot
// be repaired by waiting and block nothing.
#pragma once
#include <string>
#include <vector>

#include "mendwell/engine/manifest.h"

namespace mw {

struct UndoFailure {
    std::wstring set;    // the element name of the entry's set in the rollback manifest: "FileSet", ...
    int index = 0;       // its position in that set
    std::wstring entry;  // what it undoes, for the log
    std::wstring hold;   // what must be released before it can be repaired; empty when nothing can
};

// The failures of the current (or last) rollback run; cleared when a rollback run starts.
std::vector<UndoFailure>& undoFailures();

UndoFailure fileUndoFailure(const FileRecord& record, int index);
UndoFailure directoryUndoFailure(const DirectoryRecord& record, int index);
UndoFailure registryUndoFailure(const RegistryRecord& record, int index);

// After the rollback run: the journal of `workFolderPath` keeps the repairable failures only, or goes.
// Logs each failure. True when the journal is gone.
bool settleJournalAfterRollback(const std::wstring& manifestPath, const std::wstring& installFolder);

}  // namespace mw
