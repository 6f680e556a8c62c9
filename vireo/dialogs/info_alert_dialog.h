// CInfoAlertDlg: the introduction to developing for KITE, shown by "OpenInfoDialog" until the user asks
// not to see it again.
#pragma once
#include "vireo/dialogs/static_link.h"
#include "vireo/dialogs/vireo_dialog.h"

namespace vireo {

class CInfoAlertDlg : public VireoDialog {
  public:
    CInfoAlertDlg();

  private:
    CStaticLink link_;
};

}  // namespace vireo
