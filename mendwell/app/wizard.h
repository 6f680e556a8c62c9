// The wizard of a user's run: dialog 206 with its welcome, installing, rollback and final pages. It
// starts the patch thread, follows it through the 0x464 notifications, lets the user cancel (the
// product is rolled back) and rolls back itself when the patch fails.
#pragma once
#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "mendwell/base/patch_state.h"
#include "mendwell/base/config_record.h"
#include "platform/ui/dialog.h"

namespace mw {

class PatchController;

inline constexpr unsigned kPatchNotification = 0x464;  // WM_USER + 100

enum WizardPage : int { pageWelcome = 2, pageInstalling = 3, pageRollback = 4, pageFinished = 5 };
enum WizardOutcome : int {
    outcomeRunning = 501,
    outcomeAsking = 503,
    outcomeCancelled = 508,
    outcomeFailed = 510,
    outcomeCannotPatch = 516,
};

// What the wizard asks of the product; the defaults are the real checks.
struct WizardChecks {
    // Both pre-patch validations; false leaves the reason in patchGlobals().validationReason.
    std::function<bool(const PatcherConfigRecord&, const std::wstring& installDir)> validate;
    // Names of the product's applications that run now.
    std::function<std::vector<std::wstring>(const PatcherConfigRecord&)> runningApplications;
};
WizardChecks defaultWizardChecks();

class Wizard {
  public:
    Wizard(PatchController& controller, std::wstring installDir, PatcherConfigRecord config,
           win::ui::DialogBackend& backend, WizardChecks checks = defaultWizardChecks());
    // Waits for the rollback launcher and the thread it started: the process never ends mid-rollback.
    ~Wizard();
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    void setScript(std::vector<std::string> steps) { dialog_.setScript(std::move(steps)); }
    // Shows the dialog modally; returns when it is closed.
    void run();

    int page() const { return page_; }
    int outcome() const { return outcome_; }
    const win::ui::Dialog& dialog() const { return dialog_; }

  private:
    void openDialog();
    void onNext();
    void onCancel();
    std::intptr_t onNotification(const PatchStateBlock& block);
    void showWelcome();
    void showFinal(const std::wstring& heading, const std::wstring& message);
    void checkApplicationsAndInstall();
    void startRollbackLauncher();
    void waitForRollback();
    std::wstring text(const wchar_t* key) const;
    std::wstring withProduct(const wchar_t* key) const;

    PatchController& controller_;
    std::wstring installDir_;
    PatcherConfigRecord config_;
    WizardChecks checks_;
    win::ui::Dialog dialog_;
    std::map<std::wstring, std::wstring> texts_;  // loaded once, by key
    int page_ = pageWelcome;
    int outcome_ = outcomeRunning;
    std::mutex statusMutex_;
    std::wstring statusKey_;  // the worker's latest status text
    std::thread launcher_;
    bool launcherStarted_ = false;
    // The success page's text, until the run's last word says whether the history went in.
    std::wstring successText_;
};

}  // namespace mw
