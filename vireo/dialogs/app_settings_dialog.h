// CAppSettingsDlg: "KITE — Настройки приложения и программы установки", the application's descriptor
// fields, window style, custom descriptor, signing summary, destination and included files. OK (and
// "Публикация файла KITE") applies them to the settings store and the default descriptor.
#pragma once
#include <string>
#include <vector>

#include "vireo/dialogs/vireo_dialog.h"
#include "vireo/settings_store.h"

namespace vireo {

class CAppSettingsDlg : public VireoDialog {
  public:
    explicit CAppSettingsDlg(SettingsStore& store);

  private:
    void open();
    void enableFields();
    void showSigning();
    void addListLine(const std::wstring& path);
    bool apply();
    void storeIncluded();

    SettingsStore& store_;
    std::wstring lmvPath_;            // "\" separators
    std::wstring defaultDescriptor_;  // "\" separators
    bool descriptorUsable_ = true;    // the descriptor shown parsed cleanly
};

}  // namespace vireo
