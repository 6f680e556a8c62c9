// The undo entry of a done file entry, appended to the rollback manifest's FileSet.
#pragma once
#include "mendwell/engine/manifest.h"

#include "platform/xmldom/xmldom.h"

namespace mw {

// The entry turned round: add -> remove (keeping AfterPatch), remove -> add, patch -> overwrite,
// overwrite and blindoverwrite stay, rename stays with its two names exchanged, anything else is
// recorded with an empty operation. Paths are written resolved, as element text. The entry goes first in
// the set, so that the rollback undoes the newest change first.
win::xml::Node appendFileUndo(win::xml::Node fileSet, const FileRecord& record);
// To the rollback manifest of this run and its journal; nothing when there is none.
void recordFileUndo(const FileRecord& record);

}  // namespace mw
