// CIconPreviewDlg: the application's four icon images with their previews. OK stores the paths, an
// empty one as "none".
#pragma once
#include "vireo/dialogs/vireo_dialog.h"
#include "vireo/settings_store.h"

namespace vireo {

class CIconPreviewDlg : public VireoDialog {
  public:
    explicit CIconPreviewDlg(SettingsStore& store);

  private:
    void open();
    void ok();

    SettingsStore& store_;
};

}  // namespace vireo
