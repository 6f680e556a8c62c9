// The undo entry of a done file entry, appended to the rollback manifest's FileSet.
#pragma once
#include <string>
#include <vector>

#include "mendwell/engine/manifest.h"

#include "platform/xmldom/xmldom.h"

namespace mw {

// The entry turned round: add -> remove (keeping AfterPatch), remove -> add, patch -> overwrite,
// overwrite and blindoverwrite stay, rename stays with its two names exchanged, anything else is
// recorded with an empty operation. Paths are written resolved, as element text. The entry goes first in
// the set, so that the rollback undoes the newest change first.
// An overwrite of a file that was not there is undone by a remove.
win::xml::Node appendFileUndo(win::xml::Node fileSet, const FileRecord& record, bool targetExisted = true);
// Which of an entry's two paths held a file before the entry, and the folders of the destination that
// did not exist yet (outermost first).
struct FileEntryState {
    bool destinationExisted = false;
    bool renamePathExisted = false;
    bool destinationReadOnly = false;
    std::vector<std::wstring> missingFolders;
};
// To the rollback manifest of this run and its journal; nothing when there is none. An entry that
// brought a file where there was none also records the folders it made, so that the rollback takes
// away those and no others.
void recordFileUndo(const FileRecord& record, const FileEntryState& before);
FileEntryState probeFileEntry(const FileRecord& record);
// After an entry failed: true when it left its files as they were, so nothing needs repairing.
bool fileEntryUntouched(const FileRecord& record, const FileEntryState& before);
// Before the entry acts (inside a WriteAhead): the undo entry that repairs it however far it got.
void recordPendingFileUndo(const FileRecord& record, const FileEntryState& before);

}  // namespace mw
