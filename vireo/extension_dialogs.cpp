#include "vireo/extension_dialogs.h"

#include "vireo/dialogs/app_settings_dialog.h"
#include "vireo/dialogs/digital_signature_dialog.h"
#include "vireo/dialogs/info_alert_dialog.h"
#include "vireo/dialogs/timestamp_retry_dialog.h"

namespace vireo {

bool runSettingsDialog(SettingsStore& store) {
    return CAppSettingsDlg(store).doModal() == 1;
}

bool runDigitalSignatureDialog(SettingsStore& store) {
    return CDigitalSigDlg(store).doModal() == 1;
}

int runTimestampRetryDialog() {
    const int answer = CTimestampRetryDlg().doModal();
    // A dialog nobody could answer cancels.
    return answer == 1 || answer == 12 ? answer : 2;
}

void runInfoDialog() {
    CInfoAlertDlg().doModal();
}

}  // namespace vireo
