// CTimestampRetryDlg: packaging could not reach the timestamp server. 1 retries, 12 goes on without
// timestamps, 2 cancels.
#pragma once
#include "vireo/dialogs/vireo_dialog.h"

namespace vireo {

class CTimestampRetryDlg : public VireoDialog {
  public:
    CTimestampRetryDlg();
};

}  // namespace vireo
