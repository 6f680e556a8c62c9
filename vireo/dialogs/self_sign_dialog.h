// CSelfSignDlg: creates a self-signed certificate file through the developer tool; after a successful
// creation the settings store names it as the certificate.
#pragma once
#include <string>

#include "vireo/dialogs/vireo_dialog.h"
#include "vireo/settings_store.h"

namespace vireo {

class CSelfSignDlg : public VireoDialog {
  public:
    explicit CSelfSignDlg(SettingsStore& store);

    // The developer tool's arguments for the fields, each value inserted as typed.
    static std::wstring arguments(const std::wstring& publisher, const std::wstring& unit,
                                  const std::wstring& organisation, const std::wstring& country,
                                  const std::wstring& keyType, const std::wstring& saveAs,
                                  const std::wstring& password);
    // The tool made the certificate (the dialog closes with OK after a failed creation too).
    bool created() const { return created_; }

  private:
    void ok();

    SettingsStore& store_;
    bool created_ = false;
};

}  // namespace vireo
