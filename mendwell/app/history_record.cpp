#include "mendwell/app/history_record.h"

#include "mendwell/engine/patch_controller.h"
#include "mendwell/records/patch_history.h"
#include "mendwell/records/product_validation.h"
#include "mendwell/records/rollback_manifest.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"

namespace mw {

namespace {
bool written = false;
}  // namespace

bool historyWritten() {
    return written;
}

void writeHistoryWhenPatched(const PatcherConfigRecord& config) {
    const std::wstring code = detectedProductCode(config);
    written = false;
    setPatchedRecord({PatchHistoryFile::pathFor(code), [config, code] {
                          const RollbackManifestFile* undo = rollbackManifest();
                          PatchHistoryFile history(code);
                          if (history.record(config, undo ? undo->path() : workPath(L"\\RollbackManifest.xml")))
                              return written = true;
                          logError(L"The patch history file %s could not be written.", history.path());
                          return false;
                      }});
}

}  // namespace mw
