// The settings dialog, packaging and the introduction dialog. Until they are part of the extension each
// says so in a message box and reports failure.
#pragma once
#include "vireo/settings_store.h"

namespace vireo {

// The application and installer settings dialog, modal; true when closed with OK.
bool runSettingsDialog(SettingsStore& store);
// Packages the application; true when a package was made.
bool packageApplication(SettingsStore& store);
// The introduction dialog, modal.
bool runInfoDialog();

}  // namespace vireo
