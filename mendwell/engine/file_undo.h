// The undo entry of a done file entry, appended to the rollback manifest's FileSet.
#pragma once
#include "mendwell/engine/manifest.h"

namespace win::xml {
class Node;
}

namespace mw {

// The entry turned round: add -> remove (keeping AfterPatch), remove -> add, patch -> overwrite,
// overwrite and blindoverwrite stay, rename stays with its two names exchanged, anything else is
// recorded with an empty operation. Paths are written resolved, as element text.
void appendFileUndo(win::xml::Node fileSet, const FileRecord& record);
// To the rollback manifest of this run; nothing when there is none.
void recordFileUndo(const FileRecord& record);

}  // namespace mw
