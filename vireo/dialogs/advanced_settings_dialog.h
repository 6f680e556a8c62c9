// CAdvancedSettingsDlg: the descriptor's file types, initial window and install folders. OK updates the
// current descriptor document (saved by the settings dialog) and the program menu setting.
#pragma once
#include <vector>

#include "vireo/descriptor.h"
#include "vireo/dialogs/vireo_dialog.h"
#include "vireo/settings_store.h"

namespace vireo {

class CAdvancedSettingsDlg : public VireoDialog {
  public:
    explicit CAdvancedSettingsDlg(SettingsStore& store);

  private:
    void open();
    void showTypes();
    void editType(int index);  // -1 adds one
    void ok();

    SettingsStore& store_;
    // The file types as the dialog will leave them; those no longer present are removed on OK.
    std::vector<FileTypeRecord> records_;
    // Per record: added or changed in the file-type dialog. Only those are written back, so a type the
    // author did not touch stays as the file has it, whatever the record's fields could hold.
    std::vector<bool> edited_;
};

}  // namespace vireo
