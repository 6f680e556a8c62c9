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
    std::wstring destinationOnDisk;     // the destination as spelt on the disk, when it existed
    std::wstring destinationLastWrite;  // its last-write time, decimal
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
// Before the colour step changes the profile at `profile` in the colour folder to one whose MD5 text is
// `incomingMd5`: the undo entries that put the folder back as it was (its own profile from a backup of
// its own, or none). False when that backup cannot be taken: the step then leaves the folder alone.
// Nothing outside a normal run with a rollback manifest.
bool recordColourProfileUndo(const std::wstring& profile, const std::wstring& incomingMd5);

}  // namespace mw
