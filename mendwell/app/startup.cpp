#include "mendwell/app/startup.h"

#include <array>
#include <cstdlib>
#include <exception>

#include "mendwell/app/update_manager.h"
#include "mendwell/base/config_reader.h"
#include "mendwell/base/localized_strings.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/app/recovery.h"
#include "mendwell/app/run_modes.h"
#include "mendwell/app/signature_check.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/resources/resources.h"
#include "platform/system/fault_handler.h"
#include "platform/system/mutex.h"
#include "platform/system/system.h"
#include "platform/text/format.h"
#include "platform/text/text.h"
#include "platform/ui/messagebox.h"

namespace mw {

namespace {

bool contains(std::wstring_view text, std::wstring_view what) {
    return text.find(what) != std::wstring_view::npos;
}

const wchar_t* const kUsage =
    L"\r\nUsage: Mendwell.exe <-Silent> <-Loglevel>\r\nSilent, Loglevel are case-insensitive\r\n specify "
    L"loglevel=0(error), 1(warning), 2(info, default) or 3(debug)"
    // The usage lines above stay as they always were; the check switch is told after them.
    L"\r\n -Silent -Check: judges the patch, reports what it would do and changes nothing";

// Entry step 3: the log is named after the product and the version the patch brings.
// A config.xml that cannot be used still gets a log (named "Mendwell.log" when it names no product),
// and what is wrong with it is said there and on standard error.
void openLog() {
    PatcherConfigRecord config;
    ConfigReader reader(win::Module::self());
    reader.copyTo(config);
    PatchLog::instance().open(logFilePath(config), false, logFormatText);
    if (!reader.problem().empty()) {
        win::printToStandardError(L"Mendwell: " + reader.problem() + L"\n");
        logError(L"%s", reader.problem());
    }
}

// Characters no Windows file name may hold become "_"; a device name ("CON", "NUL", ...) gets a "_"
// before it.
std::wstring safeFileName(std::wstring name) {
    for (wchar_t& c : name)
        if (c < 0x20 || std::wstring_view(L"<>:\"/\\|?*").find(c) != std::wstring_view::npos) c = L'_';
    static constexpr std::wstring_view kDevices[] = {
        L"CON",  L"PRN",  L"AUX",  L"NUL",  L"COM1", L"COM2", L"COM3", L"COM4", L"COM5", L"COM6", L"COM7",
        L"COM8", L"COM9", L"LPT1", L"LPT2", L"LPT3", L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9"};
    std::wstring stem = win::toUpper(name.substr(0, name.find(L'.')));
    while (!stem.empty() && stem.back() == L' ') stem.pop_back();
    for (std::wstring_view device : kDevices)
        if (stem == device) return L"_" + name;
    return name;
}

int runModes(const std::wstring& commandLine) {
    if (const std::optional<int> refused = refuseUntrustedPatcher(commandLine)) return *refused;
    int result = returnWizardOther;
    if (contains(commandLine, L"SILENT")) {
        logInfo(L"Initiating patch silently...");
        result = runSilentMode(commandLine);
        if (result != returnWizardOther) return result;
    }
    logInfo(L"Checkin if its intiated via QUD...");
    result = runUpdateManagerMode();
    if (result != returnWizardOther) return result;

    logInfo(L"Mendwell was not initiated via QUD or with <Silent> option, user will be presented the UI now");
    // Whatever escapes the wizard ends the run as "another state".
    try {
        return runWizardMode();
    } catch (...) {
        return returnWizardOther;
    }
}

}  // namespace

std::wstring localizedText(std::wstring_view key) {
    return lookupString(key);
}

int logLevelFromCommandLine(std::wstring_view commandLine) {
    if (!contains(commandLine, L"-LOGLEVEL=") && !contains(commandLine, L"-LOGLEVEL =")) return 2;
    static constexpr std::array<std::pair<std::wstring_view, std::wstring_view>, 4> kLevels{{
        {L"=0", L"= 0"},
        {L"=1", L"= 1"},
        {L"=2", L"= 2"},
        {L"=3", L"= 3"},
    }};
    for (int level = 0; level < 4; ++level) {
        const auto& [tight, spaced] = kLevels[static_cast<std::size_t>(level)];
        if (contains(commandLine, tight) || contains(commandLine, spaced)) return level;
    }
    return 0;
}

bool hasUnknownParameter(std::wstring_view commandLine) {
    // CHECK only means something silently: elsewhere the run would patch for real.
    if (contains(commandLine, L"CHECK") && !contains(commandLine, L"SILENT")) return true;
    return !commandLine.empty() && !contains(commandLine, L"SILENT") && !contains(commandLine, L"LOGLEVEL");
}

bool isMistypedSilent(std::wstring_view commandLine) {
    return contains(commandLine, L"SILENT") && !contains(commandLine, L"-SILENT");
}

std::wstring logFilePath(const PatcherConfigRecord& config) {
    std::wstring folder;
    win::shellFolder(win::csidl::appData, folder);
    folder = win::removeBackslash(folder) + L"\\Orvex";
    win::createDirectory(folder);
    folder += L"\\PatcherLogs";
    win::createDirectory(folder);
    const std::wstring name =
        config.productName.empty() ? L"Mendwell" : config.productName + L" " + config.newVersion;
    return folder + L"\\" + safeFileName(name) + L".log";
}

void cleanBackupFolder() {
    const std::wstring previous = win::currentDirectory();
    if (win::setCurrentDirectory(workPath(L"\\backup"))) {
        win::FindFile find;
        win::FindData entry;
        // Every entry is named, "." and ".." included; deleting those (or a subfolder) simply fails.
        for (bool more = find.first(L"*", entry); more; more = find.next(entry)) {
            logInfo(L"deleting backup file: %s", entry.name);
            // Backups keep the read-only bit of the file they saved; it must not keep them on the disk.
            if (entry.attributes & win::attr::readOnly) win::setFileAttributes(entry.name, win::attr::normal);
            win::deleteFile(entry.name);
        }
    }
    win::setCurrentDirectory(previous);
}

void showNotAdministratorMessage() {
    std::wstring text = localizedText(L"$$$/tvr/error/message/NoAdmin");
    std::wstring caption = localizedText(L"$$$/tvr/heading/caption");
    if (text.empty() && caption.empty()) {
        text = L"You are not logged in as an administrator. Please login as an administrator and try again";
        caption = L"Orvex Software Update";
    }
    win::messageBox(text, caption, win::mb::ok | win::mb::iconError);
}

namespace {
constexpr const wchar_t* kPatchingEnds = L"patching ends.";
constexpr const wchar_t* kClosingLine =
    L"************************************************************************************";
}  // namespace

void endRun() {
    // The backups go only with the journal: a run not yet patched or rolled back needs them at the next
    // start.
    if (!win::pathExists(workPath(L"\\RollbackManifest.xml.journal"))) cleanBackupFolder();
    logInfo(L"%s", kPatchingEnds);
    logInfo(L"%s", kClosingLine);
    PatchLog::instance().flush();
    PatchLog::instance().close();
}

void endRunAfterFault(win::DWORD exceptionCode) {
    // "Returned error code = Exception Code = <code>", built without formatting or allocating.
    wchar_t message[64] = L"Returned error code = Exception Code = ";
    std::size_t at = 0;
    while (message[at] != L'\0') ++at;
    wchar_t digits[12];
    int n = 0;
    do {
        digits[n++] = static_cast<wchar_t>(L'0' + exceptionCode % 10);
        exceptionCode /= 10;
    } while (exceptionCode != 0);
    while (n > 0) message[at++] = digits[--n];
    message[at] = L'\0';

    // What escapes the wizard ends the run with the closing lines and "another state"; the process
    // cannot go on after a fault, so it ends here (the single-instance lock goes with it).
    PatchLog& log = PatchLog::instance();
    log.writeInFault(logTypeError, message);
    log.writeInFault(logTypeInfo, kPatchingEnds);
    log.writeInFault(logTypeInfo, kClosingLine);
    log.endInFault();
    win::faultSafeExit(returnWizardOther);
}

void armFaultHandler() {
    PatchLog::instance().prepareForFault();
    win::setFaultHandler(endRunAfterFault);
}

void disarmFaultHandler() {
    win::setFaultHandler(nullptr);
    PatchLog::instance().endFaultPreparation();
}

int patcherMain(std::wstring commandLine) {
    commandLine = win::toUpper(commandLine);

    // 1. One patcher at a time; a second one leaves no trace.
    win::NamedMutex instance;
    bool alreadyExists = false;
    if (!instance.create(kInstanceMutexName, alreadyExists)) {
        if (alreadyExists) return returnAlreadyRunning;
        // Not another patcher: the machine cannot hold the lock at all, which is the unusable machine
        // of the start, named on standard error.
        win::printToStandardError(
            L"Mendwell: the single-instance lock cannot be created on this machine (error " +
            std::to_wstring(win::lastError()) + L")\n");
        return returnFailed;
    }

    // 2. Refused before any log is open, in every mode.
    if (!win::isAdministrator()) {
        showNotAdministratorMessage();
        instance.release();
        return returnNotAdministrator;
    }

    // The patcher's file is checked against its signature before anything is taken out of it.
    checkOwnSignature();

    // 3.-4.
    openLog();
    PatchLog::instance().setLevel(logLevelFromCommandLine(commandLine));

    // 5. The process ends here; the log closes at exit.
    if (hasUnknownParameter(commandLine)) {
        logError(
            L"Patcher is passed with parameter \" %s \". Patcher doesnot recognise the parameter. Please "
            L"refer the command line usage.",
            commandLine);
        win::printToParentConsole(kUsage);
        return returnFailed;
    }

    // A run that died earlier is undone before this one does anything, but only for a command line that
    // will run: a mistyped switch must not change the product. SILENT without its dash is refused by the
    // silent mode itself.
    if (!isMistypedSilent(commandLine)) recoverUnfinishedRuns();

    // 6.-7.
    logInfo(L"patching starts.");
    logInfo(L"command line specified: %s", commandLine);
    const int result = runModes(commandLine);

    // 9.-10.
    endRun();
    instance.release();
    return result;
}

}  // namespace mw
