// The silent and wizard run modes; each returns a process return code (startup.h).
#pragma once
#include <string>

namespace mw {

// -SILENT: no window; messages go to the parent console.
int runSilentMode(const std::wstring& commandLine);

// The user's run: the wizard, then the process return code from the final patch state.
int runWizardMode();

}  // namespace mw
