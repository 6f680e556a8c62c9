#include "mendwell/app/wizard.h"

#include <utility>

#include "mendwell/engine/patch_controller.h"
#include "mendwell/app/history_record.h"
#include "mendwell/records/product_validation.h"
#include "mendwell/records/running_apps.h"
#include "mendwell/resources/wizard_dialog.h"
#include "mendwell/base/localized_strings.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"
#include "platform/text/format.h"
#include "platform/ui/messagebox.h"

namespace mw {

namespace {

// Every text the wizard shows, with the English it falls back to when the dictionary has none.
const std::pair<const wchar_t*, const wchar_t*> kTexts[] = {
    {L"$$$/tvr/alert/cancel", L"Cancel"},
    {L"$$$/tvr/alert/finish", L"Finish"},
    {L"$$$/tvr/alert/next", L"Next"},
    {L"$$$/tvr/alert/retry", L"Retry"},
    {L"$$$/tvr/heading/welcome", L"Welcome"},
    {L"$$$/tvr/heading/installing", L"Installing the patch..."},
    {L"$$$/tvr/heading/rollback", L"Rollback..."},
    {L"$$$/tvr/heading/rollbackProgress", L"Rollback in progress..."},
    {L"$$$/tvr/heading/installationSuccessful", L"Installation was Successful."},
    {L"$$$/tvr/heading/installationUnsuccessful", L"Installation was Unsuccessful."},
    {L"$$$/tvr/heading/applicationsInUse", L"Applications In Use..."},
    {L"$$$/tvr/heading/caption", L"Orvex Software Update"},
    {L"$$$/tvr/info/message/patchClickNext",
     L"There is a new patch available for your software. Click Next to update %s with this patch."},
    {L"$$$/tvr/info/message/patchSuccessFinish",
     L"%s has been updated with the patch. Click Finish to exit."},
    {L"$$$/tvr/info/message/patchAlreadyApplied", L"The update has already been applied to the product."},
    {L"$$$/tvr/error/message/userCancelPatch",
     L"The updater is cancelled by the user. Your product is not upgraded to a new version."},
    {L"$$$/tvr/error/message/patchNotAppliedReInstall",
     L"The update cannot be applied to the product. Please re-install the product and try again."},
    {L"$$$/tvr/error/message/conflictingProcesses",
     L"Please shutdown the following applications and click Retry or click Cancel to quit."},
    {L"$$$/tvr/info/CancelAskUser", L"Do you really want to cancel the update?"},
    {L"$$$/tvr/info/ExtractingResources", L"Extracting resources..."},
    {L"$$$/tvr/error/message/patchNotApplied", L"The update cannot be applied to the product."},
    {L"$$$/tvr/error/message/patchLocateFailed",
     L"The updater is unable to locate the product to be updated."},
    {L"$$$/tvr/error/message/TargetNoSpace", L"Insufficient disk space on Target volume."},
    {L"$$$/tvr/error/message/SystemNoSpace", L"Insufficient disk space on System volume."},
    {L"$$$/tvr/info/patching", L"Patching:"},
    {L"$$$/tvr/info/stopingService", L"Stopping services..."},
    {L"$$$/tvr/info/startingService", L"Starting services..."},
    {L"$$$/tvr/info/processingRegistry", L"Updating Registry..."},
};

// Sets of the state block, in the order the progress bar follows them: files, registry, directories,
// then services.
enum SetIndex { setServices = 0, setFiles = 1, setRegistry = 2, setDirectories = 3 };

int percent(std::int32_t done, std::int32_t total) {
    return total > 0 ? static_cast<int>(static_cast<long long>(done) * 100 / total) : 0;
}

}  // namespace

WizardChecks defaultWizardChecks() {
    WizardChecks c;
    c.validate = [](const PatcherConfigRecord& config, const std::wstring& installDir) {
        return validateHistory(config) && validateVersion(config, installDir);
    };
    c.runningApplications = [](const PatcherConfigRecord& config) {
        return findRunningApplications(config.appRunningPatterns);
    };
    return c;
}

Wizard::Wizard(PatchController& controller, std::wstring installDir, PatcherConfigRecord config,
               win::ui::DialogBackend& backend, WizardChecks checks)
    : controller_(controller),
      installDir_(std::move(installDir)),
      config_(std::move(config)),
      checks_(std::move(checks)),
      dialog_(wizardDialogTemplate(), backend) {
    // One unpacking of the dictionaries for all texts; each lookup still reads the file afresh.
    const std::wstring dictionary = dictionaryPath();
    for (const auto& [key, english] : kTexts) {
        std::wstring value = lookupString(key, dictionary);
        texts_[key] = value.empty() ? english : value;
    }
    dialog_.onInit([this] { openDialog(); });
    dialog_.onCommand(idcNext, [this] { onNext(); });
    dialog_.onCommand(idcCancel, [this] { onCancel(); });
    dialog_.onMessage(kPatchNotification, [this](std::intptr_t param) {
        return onNotification(*reinterpret_cast<const PatchStateBlock*>(param));
    });
    PatchObserver observer;
    observer.notify = [this](PatchStateBlock& block) {
        dialog_.sendMessage(kPatchNotification, reinterpret_cast<std::intptr_t>(&block));
    };
    observer.statusText = [this](std::wstring_view key) {
        std::lock_guard lock(statusMutex_);
        statusKey_ = key;
    };
    setPatchObserver(std::move(observer));
}

Wizard::~Wizard() {
    waitForRollback();
    setPatchObserver({});
}

void Wizard::waitForRollback() {
    if (launcher_.joinable()) launcher_.join();
    if (launcherStarted_) controller_.waitForThread();
}

void Wizard::run() {
    dialog_.runModal();
    // Finish is only offered once the rollback has ended; a closed window still waits for it.
    waitForRollback();
}

std::wstring Wizard::text(const wchar_t* key) const {
    auto it = texts_.find(key);
    return it == texts_.end() ? std::wstring{} : it->second;
}

std::wstring Wizard::withProduct(const wchar_t* key) const {
    return win::format(text(key), config_.productName);
}

void Wizard::openDialog() {
    dialog_.setCaption(text(L"$$$/tvr/heading/caption"));
    dialog_.setText(idcCancel, text(L"$$$/tvr/alert/cancel"));
    dialog_.setText(idcNext, text(L"$$$/tvr/alert/next"));
    if (!installDir_.empty() && checks_.validate(config_, installDir_)) {
        showWelcome();
        return;
    }
    PatchGlobals& g = patchGlobals();
    const wchar_t* message = L"$$$/tvr/error/message/patchLocateFailed";
    switch (installDir_.empty() ? reasonNone : g.validationReason) {
        case reasonAlreadyUpdated:
            message = L"$$$/tvr/info/message/patchAlreadyApplied";
            break;
        case reasonWrongVersion:
            message = L"$$$/tvr/error/message/patchNotApplied";
            break;
        case reasonTargetNoSpace:
            message = L"$$$/tvr/error/message/TargetNoSpace";
            break;
        case reasonSystemNoSpace:
            message = L"$$$/tvr/error/message/SystemNoSpace";
            break;
        default:
            break;
    }
    // An already updated product ends the run with its own return code (3).
    if (!installDir_.empty() && g.validationReason == reasonAlreadyUpdated)
        g.block.state = stateAlreadyUpdated;
    showFinal(text(L"$$$/tvr/heading/installationUnsuccessful"), text(message));
}

void Wizard::showWelcome() {
    page_ = pageWelcome;
    dialog_.setText(idcHeading, text(L"$$$/tvr/heading/welcome"));
    dialog_.setText(idcMainMessage, withProduct(L"$$$/tvr/info/message/patchClickNext"));
    dialog_.setText(idcNext, text(L"$$$/tvr/alert/next"));
    dialog_.setText(idcCancel, text(L"$$$/tvr/alert/cancel"));
}

void Wizard::showFinal(const std::wstring& heading, const std::wstring& message) {
    page_ = pageFinished;
    dialog_.setText(idcHeading, heading);
    dialog_.setText(idcMainMessage, message);
    dialog_.show(idcRunningApps, false);
    dialog_.show(idcStatus, false);
    dialog_.show(idcCancel, false);
    dialog_.setText(idcNext, text(L"$$$/tvr/alert/finish"));
    dialog_.show(idcNext, true);
    dialog_.enable(idcNext, true);
}

void Wizard::onNext() {
    if (page_ == pageFinished) {
        dialog_.end(win::idbutton::ok);
        return;
    }
    if (page_ != pageWelcome) return;
    if (outcome_ == outcomeCannotPatch) return;
    checkApplicationsAndInstall();
}

void Wizard::checkApplicationsAndInstall() {
    const std::vector<std::wstring> running = checks_.runningApplications(config_);
    if (!running.empty()) {
        std::wstring list;
        for (const auto& name : running) list += name + L"\r\n";
        dialog_.setText(idcRunningApps, list);
        dialog_.show(idcRunningApps, true);
        dialog_.setText(idcHeading, text(L"$$$/tvr/heading/applicationsInUse"));
        dialog_.setText(idcMainMessage, text(L"$$$/tvr/error/message/conflictingProcesses"));
        dialog_.setText(idcNext, text(L"$$$/tvr/alert/retry"));
        dialog_.setText(idcCancel, text(L"$$$/tvr/alert/cancel"));
        return;  // Retry comes back here
    }
    dialog_.show(idcRunningApps, false);
    page_ = pageInstalling;
    dialog_.setText(idcHeading, text(L"$$$/tvr/heading/installing"));
    dialog_.setText(idcMainMessage, L"");
    dialog_.setProgress(idcProgress, 0);
    dialog_.show(idcProgress, true);
    dialog_.show(idcStatus, true);
    // Next has nothing to do while the patch runs.
    dialog_.enable(idcNext, false);
    writeHistoryWhenPatched(config_);
    if (controller_.StartPatch(installDir_) != statusGood) {
        outcome_ = outcomeFailed;
        showFinal(text(L"$$$/tvr/heading/installationUnsuccessful"),
                  text(L"$$$/tvr/error/message/patchNotAppliedReInstall"));
    }
}

void Wizard::onCancel() {
    if (page_ == pageInstalling) {
        outcome_ = outcomeAsking;
        controller_.suspend();
        const int answer =
            dialog_.messageBox(text(L"$$$/tvr/info/CancelAskUser"), text(L"$$$/tvr/heading/caption"),
                               win::mb::yesNo | win::mb::iconQuestion);
        // A failure may have come in while the question was open: the rollback then runs already.
        if (page_ != pageInstalling) return;
        if (answer != win::idbutton::yes) {
            outcome_ = outcomeRunning;
            controller_.resume();
            return;
        }
        outcome_ = outcomeCancelled;
        page_ = pageRollback;
        startRollbackLauncher();
    } else if (page_ == pageWelcome) {
        outcome_ = outcomeAsking;
        const int answer =
            dialog_.messageBox(text(L"$$$/tvr/info/CancelAskUser"), text(L"$$$/tvr/heading/caption"),
                               win::mb::yesNo | win::mb::iconQuestion);
        if (answer != win::idbutton::yes) {
            outcome_ = outcomeRunning;
            return;
        }
        outcome_ = outcomeCancelled;
        page_ = pageRollback;
        dialog_.end(win::idbutton::cancel);
    }
    // The rollback cannot be cancelled; the final page has only Finish.
}

void Wizard::startRollbackLauncher() {
    if (launcherStarted_) return;
    launcherStarted_ = true;
    launcher_ = std::thread([this] {
        controller_.switchToRollback();
        controller_.waitForThread();
        closeRollbackManifest();
        patchGlobals().rollbackMode = 1;
        controller_.StartRollBackPatch(installDir_);
    });
}

std::intptr_t Wizard::onNotification(const PatchStateBlock& block) {
    if (page_ == pageFinished) {
        // Success is reported before the history is written; the run's last word comes after it.
        if (!successText_.empty() && block.state == stateSucceeded) {
            if (!historyWritten())
                dialog_.setText(idcMainMessage,
                                successText_ + L"\r\n\r\n" + std::wstring(kHistoryNotWrittenWarning));
            successText_.clear();
        }
        return 0;
    }
    const bool rollingBack = patchGlobals().rollbackMode == 1;
    if (block.result == statusGood && block.state == statePatching) {
        if (outcome_ == outcomeAsking) return 0;
        {
            std::lock_guard lock(statusMutex_);
            if (!statusKey_.empty()) dialog_.setText(idcStatus, text(statusKey_.c_str()));
        }
        for (int set : {setFiles, setRegistry, setDirectories, setServices}) {
            if (block.totals[set] > 0) {
                dialog_.setProgress(idcProgress, percent(block.done[set], block.totals[set]));
                break;
            }
        }
    } else if (block.result == statusGood && block.state == stateRollingBack) {
        if (outcome_ == outcomeAsking) return 0;
        page_ = pageRollback;
        dialog_.show(idcStatus, true);
        dialog_.show(idcProgress, true);
        dialog_.show(idcCancel, false);
        dialog_.setText(idcHeading, text(L"$$$/tvr/heading/rollback"));
        dialog_.setText(idcStatus, text(L"$$$/tvr/heading/rollbackProgress"));
        const int set = block.totals[setFiles] > 0 ? setFiles : setRegistry;
        dialog_.setProgress(idcProgress, percent(block.done[set], block.totals[set]));
        // Finished only when the rollback run says so (505), not when its counts reach zero: its
        // directory, registry and service steps may still be running.
    } else if (block.result == statusGood && block.state == stateSucceeded && !rollingBack) {
        // A patch that ended just as the user confirmed the cancel is rolled back all the same.
        if (page_ != pageInstalling) return 0;
        dialog_.setProgress(idcProgress, 100);
        dialog_.show(idcProgress, false);
        successText_ = withProduct(L"$$$/tvr/info/message/patchSuccessFinish");
        showFinal(text(L"$$$/tvr/heading/installationSuccessful"), successText_);
    } else if (block.result == statusFailed && block.state == stateOperationFailed && !rollingBack) {
        // The patch thread ends on its own after a failure; suspending it here would overwrite the
        // failed state it is about to act on, so the launcher only waits for it.
        if (outcome_ != outcomeCancelled) outcome_ = outcomeFailed;
        page_ = pageRollback;
        startRollbackLauncher();
    } else if ((block.result == statusGood && block.state == stateRollbackFinished) ||
               (block.result == statusFailed && (block.state != stateOperationFailed || rollingBack))) {
        dialog_.show(idcProgress, false);
        // A patch the pre-flight refused changed nothing: the product needs no re-install.
        const wchar_t* message = outcome_ == outcomeCancelled ? L"$$$/tvr/error/message/userCancelPatch"
                                 : block.state == stateCannotPatch
                                     ? L"$$$/tvr/error/message/patchNotApplied"
                                     : L"$$$/tvr/error/message/patchNotAppliedReInstall";
        showFinal(text(L"$$$/tvr/heading/installationUnsuccessful"), text(message));
    }
    return 0;
}

}  // namespace mw
