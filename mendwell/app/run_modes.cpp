#include "mendwell/app/run_modes.h"

#include "mendwell/engine/patch_controller.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/engine/preflight.h"
#include "mendwell/records/product_validation.h"
#include "mendwell/records/running_apps.h"
#include "mendwell/base/config_record.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/app/history_record.h"
#include "mendwell/app/recovery.h"
#include "mendwell/app/startup.h"
#include "mendwell/app/wizard.h"
#include "mendwell/base/workfolder.h"
#include "platform/system/system.h"
#include "platform/text/format.h"
#include "platform/ui/dialog.h"
#include "platform/ui/messagebox.h"

namespace mw {

namespace {

bool contains(const std::wstring& text, std::wstring_view what) {
    return text.find(what) != std::wstring::npos;
}

const wchar_t* const kNotAdministratorLog =
    L"You are not logged in as an administrator. Please log-in as an administrator and try again.";

// Silent mode steps 5-11, with the controller alive for exactly this span.
int silentPatch() {
    if (lastRecovery().failed) return returnFailed;
    logCritical(L"new pController");
    PatchController controller;
    controller.initialize();
    PatcherConfigRecord config = globalConfig();

    std::wstring installDir;
    if (locateProduct(config, installDir) != productFound || installDir.empty()) {
        logInfo(L"Patcher fails to locate the application.");
        logCritical(L"delete pController");
        return returnNotLocated;
    }
    logInfo(L"Patcher found the INSTALLDIR and its found to be: %s", installDir);

    int result = returnPatched;
    PatchGlobals& g = patchGlobals();
    if (validateHistory(config, checkOnly()) && validateVersion(config, installDir) &&
        findRunningApplications(config.appRunningPatterns).empty()) {
        globalConfig() = config;
        // History is what tells the next patch that this product is now at the new version.
        writeHistoryWhenPatched(config);
        controller.startPatchSynchronously(installDir);
        const bool applied = g.patchStatus == statusGood || g.patchStatus == statusRestartNeeded;
        if (applied && !checkOnly() && !historyWritten())
            win::printToParentConsole(L"\r\n" + std::wstring(kHistoryNotWrittenWarning));
        if (g.block.state == stateCannotPatch) {
            // Refused by the pre-flight before any change: nothing to roll back.
            result = returnValidationRefused;
        } else if (checkOnly()) {
            result = applied ? returnPatched : returnFailed;
        } else if (g.patchStatus == statusGood) {
            logInfo(L"Updater has successfully updated the application.");
            result = returnPatched;
        } else if (g.patchStatus == statusRestartNeeded) {
            logInfo(L"Updater has successfully updated the application. Please reboot to finish.");
            result = returnRestartNeeded;
        } else {
            controller.switchToRollback();
            closeRollbackManifest();
            g.rollbackMode = 1;
            controller.StartRollBackPatchForQUD(installDir);
            logError(L"Patcher failed. Please try again.");
            result = returnFailed;
        }
    } else {
        if (g.validationReason == reasonWrongVersion) {
            logError(
                L"The patcher with which you are trying to patch the product cannot patch this version of "
                L"the "
                L"product.");
        } else if (g.validationReason == reasonAlreadyUpdated) {
            logError(L"The Product you are trying to update is already updated.");
        }
        result = returnValidationRefused;
    }
    logCritical(L"delete pController");
    return result;
}

}  // namespace

int runSilentMode(const std::wstring& commandLine) {
    logCritical(L"new lpszPrompt1");
    if (!contains(commandLine, L"-SILENT")) {
        logError(
            L"Patcher is passed with a parameter \" %s \". Patcher doesnot recognise the parameter. Please "
            L"refer the command line usage.",
            commandLine);
        win::printToParentConsole(L"\r\nUsage: Mendwell.exe <-Silent> \r\nSilent is case-insensitive");
        return returnFailed;
    }
    logInfo(L"Patcher is passed with -SILENT option. No UI will be presented to the user.");
    win::printToParentConsole(L"\r\nPatcher running in silent mode...");
    // Any CHECK on the line makes it a check run: a misspelt switch must never patch for real.
    setCheckOnly(contains(commandLine, L"CHECK"));
    if (checkOnly()) {
        logInfo(L"Patcher is passed with -CHECK option. The patch is judged and nothing is changed.");
        win::printToParentConsole(L"\r\nChecking the patch: nothing will be changed...");
    }

    if (!win::isAdministrator()) {
        logError(kNotAdministratorLog);
        win::printToParentConsole(
            win::format(L"\r\nYou are not logged in as an administrator. Please log-in as an "
                        L"administrator and try again..\r\nReturn code: %d",
                        static_cast<int>(returnNotAdministrator)));
        return returnNotAdministrator;
    }

    const int result = silentPatch();
    if (checkOnly()) {
        win::printToParentConsole(win::format(
            result == returnPatched ? L"\r\nCheck: the patch can be applied.\r\nReturn code: %d"
                                    : L"\r\nCheck: the patch cannot be applied.\r\nReturn code: %d",
            result));
    } else if (result == returnPatched || result == returnAlreadyUpdated || result == returnRestartNeeded) {
        win::printToParentConsole(win::format(L"\r\nPatcher is successful.\r\nReturn code: %d", result));
    } else {
        win::printToParentConsole(win::format(L"\r\nPatcher is unsuccessful.\r\nReturn code: %d", result));
    }
    return result;
}

int runWizardMode() {
    if (!win::isAdministrator()) {
        showNotAdministratorMessage();
        logError(kNotAdministratorLog);
        return returnNotAdministrator;
    }
    if (lastRecovery().failed) {
        win::messageBox(localizedText(L"$$$/tvr/error/message/patchNotAppliedReInstall"),
                        localizedText(L"$$$/tvr/heading/caption"), win::mb::ok | win::mb::iconError);
        return returnFailed;
    }
    logCritical(L"new pController");
    PatchController controller;
    controller.initialize();
    PatcherConfigRecord config = globalConfig();
    // The wizard reports a product it cannot find itself, so an empty folder goes on.
    std::wstring installDir;
    locateProduct(config, installDir);

    globalConfig() = config;
    {
        std::vector<std::string> script = win::ui::scriptFromEnvironment();
        const std::unique_ptr<win::ui::DialogBackend> backend = win::ui::makeDialogBackend(!script.empty());
        Wizard wizard(controller, installDir, config, *backend);
        wizard.setScript(std::move(script));
        armFaultHandler();
        wizard.run();
        disarmFaultHandler();
    }
    int result = returnWizardOther;
    switch (patchGlobals().block.state) {
        case stateSucceeded:
            logInfo(L"Updater has successfully updated the application.");
            result = returnPatched;
            break;
        case stateFailedBeforeChange:
        case stateOperationFailed:
        case stateCannotPatch:
            logError(L"Patcher was unsuccessfull to update the application.");
            result = returnFailed;
            break;
        case stateAlreadyUpdated:
            logInfo(L"The product is already updated.");
            result = returnAlreadyUpdated;
            break;
        default:
            break;
    }
    logCritical(L"delete pController");
    return result;
}

}  // namespace mw
