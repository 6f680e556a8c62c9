// The silent and wizard run modes; each returns a process return code (startup.h).
#pragma once
#include <string>

namespace mw {

// -SILENT: no window; messages go to the parent console.
int runSilentMode(const std::wstring& commandLine);

// The user's run. The wizard dialog is not part of this build: after the administrator check, the
// controller and the product location, it logs that and returns 2.
int runWizardMode();

}  // namespace mw
