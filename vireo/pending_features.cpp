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

bool packageApplication(SettingsStore&) {
    return notAvailable(8101);
}

bool runInfoDialog() {
    return notAvailable(8102);
}

}  // namespace vireo
