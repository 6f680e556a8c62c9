// Running applications of the product: the process list with display names, and the check made before
// patching against the configuration's running-application patterns.
#pragma once
#include <string>
#include <vector>

namespace mw {

struct RunningProcess {
    std::wstring fileName;     // the executable's file name (or the control-panel module's)
    std::wstring displayName;  // FileDescription in the user's language, else US English, else fileName
};

// Every process of the machine's host. A "rundll32.exe" hosting "TandemTX4.cpl" also yields an entry for
// that module, shown as "Orvex Tandem TX4 Preferences"; rundll32 itself is listed under its file name.
std::vector<RunningProcess> listProcesses();

// Display names (each once, in the order found) of the processes whose file name matches one of the
// patterns: Perl-syntax regular expressions searched anywhere in the name, case-sensitive. Logs the
// check; when any runs, sets the validation reason 9 (applications running) and logs them at ERROR.
std::vector<std::wstring> findRunningApplications(const std::vector<std::wstring>& patterns);

// The names as the log, the wizard and the update manager show them: each preceded by "\r\n".
std::wstring runningApplicationsText(const std::vector<std::wstring>& names);

}  // namespace mw
