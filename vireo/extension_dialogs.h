// The dialogs the extension's commands and packaging open.
#pragma once
#include "vireo/settings_store.h"

namespace vireo {

// The application and installer settings dialog, modal; true when closed with OK.
bool runSettingsDialog(SettingsStore& store);
// Packages the application (packaging_host.cpp); true when the run reached the developer tool.
bool packageApplication(SettingsStore& store);
// The digital signature dialog, modal; true when closed with OK.
bool runDigitalSignatureDialog(SettingsStore& store);
// The timestamp retry dialog, modal: 1 retry, 12 without timestamps, 2 cancel.
int runTimestampRetryDialog();
// The introduction dialog, modal.
void runInfoDialog();

}  // namespace vireo
