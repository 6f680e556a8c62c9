#include "vireo/dialogs/timestamp_retry_dialog.h"

#include "vireo/resources/dialog_templates.h"

namespace vireo {

CTimestampRetryDlg::CTimestampRetryDlg() : VireoDialog(timestampRetryTemplate()) {
    for (int id : {1, 2}) dialog_.onCommand(id, [this, id] { dialog_.end(id); });
    dialog_.onCommand(4103, [this] { dialog_.end(12); });
}

}  // namespace vireo
