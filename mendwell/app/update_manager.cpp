#include "mendwell/app/update_manager.h"

#include <array>
#include <vector>

#include "mendwell/engine/patch_controller.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/app/history_record.h"
#include "mendwell/records/patch_history.h"
#include "mendwell/records/product_validation.h"
#include "mendwell/records/rollback_manifest.h"
#include "mendwell/records/running_apps.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/app/recovery.h"
#include "mendwell/base/resource_writer.h"
#include "mendwell/app/startup.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/resources/resources.h"
#include "platform/system/error_text.h"
#include "platform/system/system.h"
#include "platform/text/format.h"
#include "platform/text/text.h"

namespace mw {

namespace {

const wchar_t* const kNotAdministrator =
    L"You are not logged in as an administrator. Please log-in as an administrator and try again.";

constexpr std::size_t kTextBuffer = 1024;
constexpr std::size_t kMaxPathCharacters = 4097;
// The longest Windows path, 32 767 UTF-16 units, in UTF-8 bytes: a larger answer is no path at all.
constexpr std::uint32_t kMaxPathBytes = 32767 * 3;

// The library reports success even when it cannot write the result file, so the file is opened here
// first, as the library opens it but without emptying it: a result that will be lost is logged with its
// path and the reason.
void checkResultFile() {
    const std::wstring path = win::getEnv(L"QUD_IRPT_PATH").value_or(L"");
    if (path.empty()) return;
    win::File probe;
    if (probe.open(path, win::access::write, win::share::read, win::Disposition::openAlways)) return;
    const win::DWORD error = win::lastError();
    std::wstring reason = win::errorText(error);
    while (!reason.empty() && (reason.back() == L'\n' || reason.back() == L'\r')) reason.pop_back();
    logError(L"The result file %s for the update manager cannot be written (error %u): %s", path, error,
             reason);
}

// One result for the update manager; texts cross as UTF-8, cut off cleanly at 1024 bytes.
void report(std::int32_t code, const std::wstring& text) {
    VerdictaLibrary library;
    const std::wstring path = VerdictaLibrary::location();
    if (!library.load(path)) {
        logError(L"Unable to load the QUD library: %s", path);
        return;
    }
    if (auto setVerdicta = library.setVerdicta()) {
        logInfo(L"Successfully loaded the \"QUDSetVerdicta\" function from QUD library.");
        std::wstring full = text;
        if (lastRecovery().recovered > 0)
            full += L"\r\nAn earlier patch run that did not finish was rolled back first.";
        std::array<char, kTextBuffer> utf8{};
        win::toUtf8(full, utf8.data(), utf8.size());
        checkResultFile();
        setVerdicta(code, utf8.data());
    } else {
        logError(L"Unable to load the function \"QUDSetVerdicta\" from the QUD library.");
    }
    library.unload();
}

// Refused before any change: the report by the validation reason.
// `runningApps` is the list of the running-applications check, each name preceded by CR LF.
void reportRefusal(const std::wstring& runningApps = {}) {
    switch (patchGlobals().validationReason) {
        case reasonAppsRunning:
            report(2,
                   localizedText(L"$$$/tvr/error/message/qud/conflictingProcesses") + L"\r\n" + runningApps);
            break;
        case reasonWrongVersion:
            report(4, localizedText(L"$$$/tvr/error/message/patchNotApplied"));
            logError(
                L"The patcher with which you are trying to patch the product cannot patch this version of "
                L"the "
                L"product.");
            break;
        case reasonPreflightRefused:
            // The findings are in the log, one line each.
            report(4, localizedText(L"$$$/tvr/error/message/patchNotApplied"));
            break;
        case reasonTargetNoSpace:
            report(4, localizedText(L"$$$/tvr/error/message/TargetNoSpace"));
            logError(L"Low disk space in target directory.");
            break;
        case reasonSystemNoSpace:
            report(4, localizedText(L"$$$/tvr/error/message/SystemNoSpace"));
            logError(L"Low disk space in system directory.");
            break;
        case reasonAlreadyUpdated:
            // The manager's table has no code of its own for it: the failure code with the right text.
            report(4, localizedText(L"$$$/tvr/info/message/patchAlreadyApplied"));
            logError(L"The Product you are trying to update is already updated.");
            break;
        default:
            // The provisional "Updater did not Worked" stays in the result file.
            break;
    }
}

// Loaded again for the administrator check; a refusal is reported before the process ends with 13.
bool administratorCheck() {
    VerdictaLibrary library;
    const std::wstring path = VerdictaLibrary::location();
    if (library.load(path)) logInfo(L"Successfully loaded the QUD library: %s", path);
    if (!win::isAdministrator()) {
        logError(kNotAdministrator);
        if (auto setVerdicta = library.isLoaded() ? library.setVerdicta() : nullptr) {
            std::array<char, kTextBuffer> utf8{};
            win::toUtf8(kNotAdministrator, utf8.data(), utf8.size());
            checkResultFile();
            setVerdicta(4, utf8.data());
        }
        library.unload();
        return false;
    }
    logInfo(L"Mendwell found that you are logged in as an administrator. Patch will progress.");
    library.unload();
    return true;
}

int patchForUpdateManager(std::wstring installDir) {
    logCritical(L"new pController");
    PatchController controller;
    controller.initialize();
    PatcherConfigRecord config = globalConfig();
    VerdictaLibrary::path();

    // The database's folder wins over the update manager's, found or not.
    std::wstring located;
    const bool found = locateProduct(config, located) == productFound && !located.empty();
    installDir = located;
    logInfo(
        L"InstallDir returned from QUD is different than obtained from TALLY dB, InstallDir from TALLY takes "
        L"precedence and is found to be: %s",
        installDir);
    if (!found) {
        // As the silent mode: not located, rather than judged by the version of nothing.
        logInfo(L"Patcher fails to locate the application.");
        report(4, localizedText(L"$$$/tvr/error/message/patchLocateFailed"));
        logCritical(L"delete pController");
        return returnNotLocated;
    }

    PatchGlobals& g = patchGlobals();
    int result = returnValidationRefused;
    if (!validateHistory(config)) {
        reportRefusal();
    } else if (!validateVersion(config, installDir)) {
        reportRefusal();
    } else if (const auto running = findRunningApplications(config.appRunningPatterns); !running.empty()) {
        reportRefusal(runningApplicationsText(running));
    } else {
        globalConfig() = config;
        // After a successful run the product's history gains this patch, with the run's undo entries.
        writeHistoryWhenPatched(config);
        controller.startPatchSynchronously(installDir);
        if (g.block.state == stateCannotPatch) {
            // Refused by the pre-flight before any change: nothing to roll back.
            reportRefusal();
        } else if (g.patchStatus == statusGood || g.patchStatus == statusRestartNeeded) {
            const bool recorded = historyWritten();
            report(0, win::format(localizedText(L"$$$/tvr/info/message/patchSuccessFinish"),
                                  config.productName) +
                          (recorded ? std::wstring() : L"\r\n" + std::wstring(kHistoryNotWrittenWarning)));
            if (g.patchStatus == statusGood) {
                logInfo(L"Updater has successfully updated the application.");
                result = returnPatched;
            } else {
                logInfo(L"Updater has successfully updated the application. Please reboot to finish.");
                result = returnRestartNeeded;
            }
        } else {
            controller.switchToRollback();
            controller.waitForThread();
            closeRollbackManifest();
            g.rollbackMode = 1;
            controller.StartRollBackPatchForQUD(installDir);
            report(4, localizedText(L"$$$/tvr/error/message/patchNotAppliedReInstall"));
            logError(L"Updater failed. Please try again.");
            result = returnFailed;
        }
    }
    logCritical(L"delete pController");
    return result;
}

}  // namespace

std::wstring VerdictaLibrary::path() {
    logCritical(L"new hQUDModule");
    const std::wstring p = location();
    logInfo(L"Verdicta library path: %s", p);
    return p;
}

std::wstring VerdictaLibrary::location() {
    return workPath(L"\\Verdicta.dll");
}

bool VerdictaLibrary::load(const std::wstring& path) {
    return library_.load(path);
}

void VerdictaLibrary::unload() {
    if (!library_.isLoaded()) return;
    library_.free();
    logCritical(L"delete hQUDModule");
    logInfo(L"Successfully unloaded the QUD library.");
}

std::wstring detectUpdateManager() {
    logInfo(L"The patcher investigating if it is initiated via QUD.");
    const std::wstring path = VerdictaLibrary::path();
    logInfo(L"Patcher is trying to extract the QUD library from the EXE resource.");
    if (writeResourceToFile(win::Module::self(), 100, L"QUDLIB", path) != 0) {
        logError(
            L"Failed to extract the QUD library. QUD library stuffed in the Mendwell might be corrupted, "
            L"please "
            L"try to build the Mendwell again.");
        return {};
    }
    logInfo(L"Patcher has successfully extracted the QUD library from the EXE resource.");

    VerdictaLibrary library;
    if (!library.load(path)) {
        logError(
            L"Failed to load the library, The library stuffed in the Mendwell might be corrupted, please "
            L"check "
            L"if the library is working properly or try to build the Mendwell again.");
        return {};
    }
    logInfo(L"Patcher has successfully loaded the QUD library.");

    // A run that ends without a later report leaves this failure for the update manager.
    if (auto setVerdicta = library.setVerdicta()) {
        checkResultFile();
        setVerdicta(4, "Updater did not Worked");
    }

    std::wstring installDir;
    try {
        auto getClientAppPath = library.getClientAppPath();
        std::uint32_t size = 260;
        if (getClientAppPath) getClientAppPath(&size, nullptr);
        if (getClientAppPath && size > kMaxPathBytes) {
            logError(
                L"QUD reported an install path of %u bytes, longer than any Windows path; the product is "
                L"taken as not detected.",
                size);
        } else if (getClientAppPath && size != 0) {
            // The buffer grows with the answer, so a long path cannot overrun it.
            std::vector<char> buffer(std::max<std::size_t>(kTextBuffer, std::size_t{size} + 1), '\0');
            std::uint32_t capacity = size + 1;
            if (getClientAppPath(&capacity, buffer.data()) == 1) {
                logInfo(L"QUD has successfully detected the product.");
                buffer.back() = '\0';
                installDir = win::fromUtf8(buffer.data());
                if (installDir.size() > kMaxPathCharacters) installDir.clear();
                if (!installDir.empty() && installDir.back() == L'\\') installDir.pop_back();
                logInfo(L"QUD has detected the product and InstallDir is found to be: %s", installDir);
            }
        }
    } catch (...) {
        logError(L"Updater failed to detect the error message.");
        installDir.clear();
    }
    library.unload();
    return installDir;
}

int runUpdateManagerMode() {
    logInfo(L"Mendwell found that this is the only instance running. Patch will progress.");
    const std::wstring reported = detectUpdateManager();
    if (reported.empty()) {
        logInfo(
            L"Patcher is not intiated via QUD, patcher will now try to find INSTALLDIR through data in "
            L"config.xml");
        return returnWizardOther;
    }
    logInfo(L"Patcher is initiated via QUD.");
    if (!administratorCheck()) return returnNotAdministrator;
    if (lastRecovery().failed) {
        report(4, localizedText(L"$$$/tvr/error/message/patchNotAppliedReInstall"));
        return returnFailed;
    }
    logInfo(L"INSTALLDIR: %s", reported);
    return patchForUpdateManager(reported);
}

}  // namespace mw
