#include "vireo/pending_features.h"

#include "platform/ui/messagebox.h"
#include "vireo/string_table.h"

namespace vireo {

namespace {

bool notAvailable(std::uint16_t message) {
    win::messageBox(loadString(message), L"Orvex Lumen TX4", win::mb::ok | win::mb::iconWarning);
    return false;
}

}  // namespace

bool runSettingsDialog(SettingsStore&) {
    return notAvailable(8100);
}

bool runDigitalSignatureDialog(SettingsStore&) {
    return notAvailable(8103);
}

int runTimestampRetryDialog() {
    notAvailable(8104);
    return 2;  // Cancel: the run ends without a message
}

bool runInfoDialog() {
    return notAvailable(8102);
}

}  // namespace vireo
