// CDigitalSigDlg: signing with a certificate or preparing an unsigned KITEI package, with the certificate,
// password, remember-password and timestamp choices. OK leaves them in the settings store.
#pragma once
#include "vireo/dialogs/vireo_dialog.h"
#include "vireo/settings_store.h"

namespace vireo {

class CDigitalSigDlg : public VireoDialog {
  public:
    explicit CDigitalSigDlg(SettingsStore& store);

  private:
    void open();
    // Adds the history's existing files that the list does not hold yet.
    void addHistory();
    void enableCertificate(bool on);
    void addCertificate(const std::wstring& path);
    void ok();

    SettingsStore& store_;
};

}  // namespace vireo
