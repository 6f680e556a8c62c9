// The process entry of the patcher: single instance, administrator check, log, command line, run mode,
// backup clean-up and the process return code.
#pragma once
#include <string>
#include <string_view>

#include "mendwell/base/config_record.h"
#include "platform/win.h"

namespace mw {

// Process return codes.
enum ReturnCode : int {
    returnPatched = 0,
    returnWizardOther = 2,
    returnAlreadyUpdated = 3,
    returnRestartNeeded = 4,
    returnNotLocated = 5,
    returnValidationRefused = 6,
    returnFailed = 9,
    returnAlreadyRunning = 12,
    returnNotAdministrator = 13,
};

inline constexpr std::wstring_view kInstanceMutexName = L"Mendwell-{A4B940A7-E84E-4d5e-A076-032F00217215}";

// The whole run. `commandLine` is the arguments part of the process's command line; it is upper-cased
// here before it is searched.
int patcherMain(std::wstring commandLine);

// The -LOGLEVEL rules on an upper-cased command line: 2 without the switch; otherwise the first of
// "=0"/"= 0" .. "=3"/"= 3" found anywhere on the line, or 0 when none is.
int logLevelFromCommandLine(std::wstring_view commandLine);

// True when a non-empty command line holds neither SILENT nor LOGLEVEL, or CHECK without SILENT.
bool hasUnknownParameter(std::wstring_view commandLine);

// True when SILENT is written without its dash: the silent mode refuses such a line with its usage.
bool isMistypedSilent(std::wstring_view commandLine);

// <application data>\Orvex\PatcherLogs\<Name> <NewVersion>.log; both folders are created.
std::wstring logFilePath(const PatcherConfigRecord& config);

// Deletes every file in the work folder's backup subfolder, logging each one.
void cleanBackupFolder();
// Steps 9 and 10: the backups go, the log ends and closes.
void endRun();
// The wizard's fault handler: the ERROR line with the fault's code, the closing lines, and the end of
// the process with result 2. It runs inside the fault, so it only writes prepared bytes; the backups
// stay for the next start, which recovers a half-done run from its journal.
[[noreturn]] void endRunAfterFault(win::DWORD exceptionCode);
// Installs endRunAfterFault with the log made ready for it, and removes it again.
void armFaultHandler();
void disarmFaultHandler();

// A user text by dictionary key ("$$$/tvr/...") from the dictionary of the user's language; empty when
// there is none, and callers fall back to their English text.
std::wstring localizedText(std::wstring_view key);

// The refusal shown to a user who is not an administrator: the dictionary's text and caption when it
// has either, else the built-in English ones.
void showNotAdministratorMessage();

}  // namespace mw
