#include "mendwell/engine/patch_controller.h"

#include <exception>

#include "mendwell/records/rollback_manifest.h"
#include "mendwell/records/tally_session.h"
#include "mendwell/shell/config_reader.h"
#include "mendwell/shell/patchlog.h"
#include "mendwell/shell/payload_extractor.h"
#include "mendwell/shell/workfolder.h"
#include "platform/fs/file.h"
#include "platform/resources/resources.h"
#include "platform/system/system.h"
#include "platform/system/worker.h"

namespace mw {

namespace {

std::unique_ptr<RollbackManifestFile>& rollbackManifestSlot() {
    static std::unique_ptr<RollbackManifestFile> file;
    return file;
}

PatchObserver& observer() {
    static PatchObserver current;
    return current;
}

void notifyWizard() {
    if (observer().notify) observer().notify(patchGlobals().block);
}

void showStatusText(std::wstring_view key) {
    if (observer().statusText) observer().statusText(key);
}

bool inRollbackMode() {
    return patchGlobals().rollbackMode == 1;
}

// Every failure of the worker sets the same four values.
void fail(std::int32_t state) {
    PatchGlobals& g = patchGlobals();
    g.configStatus = statusFailed;
    g.block.state = state;
    g.block.result = statusFailed;
    g.patchStatus = statusPatchFailed;
    notifyWizard();
}

// A normal run stops at its next check once a rollback was asked for; a rollback always runs on.
bool cancelRequested() {
    PatchGlobals& g = patchGlobals();
    if (inRollbackMode() || !g.rollbackRequested) return false;
    logInfo(L"Exiting patch thread, creating rollback thread...");
    logFlush();
    g.block.state = stateRollingBack;
    notifyWizard();
    return true;
}

// The product's install language as the database knows it, by the configuration's product codes.
std::wstring installLanguageFromTally();

}  // namespace

void setPatchObserver(PatchObserver o) {
    observer() = std::move(o);
}

RollbackManifestFile* rollbackManifest() {
    return rollbackManifestSlot().get();
}

bool closeRollbackManifest() {
    return rollbackManifestSlot() && rollbackManifestSlot()->save();
}

void openRollbackManifest(const std::wstring& path) {
    rollbackManifestSlot().reset();
    if (!path.empty()) rollbackManifestSlot() = std::make_unique<RollbackManifestFile>(path);
}

void PatchController::createRollbackManifest() {
    openRollbackManifest(workPath(L"\\RollbackManifest.xml"));
}

PatchController::PatchController() {
    PatchGlobals& g = patchGlobals();
    g.block.state = inRollbackMode() ? stateRollingBack : statePatching;
    g.block.result = statusGood;
}

PatchController::~PatchController() {
    if (thread_) thread_->join();
    logCritical(L"delete rollbackXMLFile");
    rollbackManifestSlot().reset();
}

int PatchController::initialize() {
    logCritical(L"Initializing controller.");
    logCritical(L"new config");
    logInfo(L"Mendwell will now extract and parse config.xml");
    PatchGlobals& g = patchGlobals();
    {
        ConfigReader reader(win::Module::self());
        if (reader.parsed()) {
            reader.logValues();
            reader.copyTo(globalConfig());
            logCritical(L"delete config");
            g.configStatus = statusGood;
        } else {
            g.configStatus = statusFailed;
        }
    }
    logFlush();
    return g.configStatus;
}

void PatchController::suspend() {
    logInfo(L"Patch Suspended...");
    if (!thread_) return;
    thread_->suspend();
    PatchGlobals& g = patchGlobals();
    g.configStatus = statusGood;
    g.block.state = stateSuspended;
    g.block.result = statusGood;
}

void PatchController::resume() {
    logInfo(L"Patch resumed...");
    if (!thread_) return;
    thread_->resume();
    PatchGlobals& g = patchGlobals();
    g.configStatus = statusGood;
    g.block.state = inRollbackMode() ? stateRollingBack : statePatching;
    g.block.result = statusGood;
}

void PatchController::switchToRollback() {
    logInfo(L"Patching fails, Rolling back the changes done by the patcher...");
    logFlush();
    resume();
    PatchGlobals& g = patchGlobals();
    g.rollbackRequested = true;
    logError(L"Set status to rollback");
    g.block.result = statusGood;
    g.block.state = stateRollingBack;
    logFlush();
}

bool PatchController::startThread(const std::wstring& installDir) {
    if (thread_) thread_->join();
    thread_ = std::make_unique<win::WorkerThread>();
    if (!thread_->start([installDir] { MyThreadProc(installDir); })) {
        thread_.reset();
        patchGlobals().configStatus = statusFailed;
        return false;
    }
    return true;
}

int PatchController::StartPatch(const std::wstring& installDir) {
    if (!inRollbackMode()) createRollbackManifest();
    logCritical(L"new szTemp StartPatch");
    startThread(installDir);
    return patchGlobals().configStatus == statusFailed ? statusFailed : statusGood;
}

int PatchController::startPatchSynchronously(const std::wstring& installDir) {
    logFlush();
    // The rollback manifest logs its own creation and path.
    if (!inRollbackMode()) createRollbackManifest();
    logCritical(L"new szTemp");
    MyThreadProc(installDir);
    return patchGlobals().configStatus == statusFailed ? statusFailed : statusGood;
}

int PatchController::StartRollBackPatch(const std::wstring& installDir) {
    logCritical(L"new szTemp StartRollBackPatch");
    logFlush();
    startThread(installDir);
    logFlush();
    return patchGlobals().configStatus == statusFailed ? statusFailed : statusGood;
}

int PatchController::StartRollBackPatchForQUD(const std::wstring& installDir) {
    logCritical(L"new szTemp StartRollBackPatchForQUD");
    logFlush();
    MyThreadProc(installDir);
    return patchGlobals().configStatus == statusFailed ? statusFailed : statusGood;
}

void PatchController::waitForThread() {
    if (thread_) thread_->join();
}

int PatchController::MyThreadProc(std::wstring installDir) {
    PatchGlobals& g = patchGlobals();
    const bool rollback = inRollbackMode();
    try {
        // 1. A normal run starts with an empty request and its backup folder.
        if (!rollback) {
            if (cancelRequested()) return g.configStatus;
            win::createDirectory(workPath(L"\\BackUp"));
            g.rollbackRequested = false;
        }
        // 2.
        g.block.result = statusGood;
        g.block.state = rollback ? stateRollingBack : statePatching;
        notifyWizard();

        // 3. Without a located product nothing may be touched.
        logCritical(L"new szTemp");
        const std::wstring folder = installDir;
        logCritical(L"delete szTemp");
        if (folder.empty()) {
            logError(L"Product failed to locate and validate.");
            fail(stateFailedBeforeChange);
            logFlush();
            return g.configStatus;
        }

        // 4. Payload into the work folder (in rollback mode only the rollback manifest is named).
        if (!rollback) {
            logInfo(L"Product is located and validated.");
            showStatusText(L"$$$/tvr/info/ExtractingResources");
        }
        PayloadExtractor payload(win::Module::self());
        if (cancelRequested()) return g.configStatus;

        // 5.
        if (!payload.succeeded()) {
            logError(L"Processing of manifest XML file failed.");
            fail(stateFailedBeforeChange);
            logFlush();
            return g.configStatus;
        }

        // 6.
        if (!rollback) {
            logInfo(
                L"============================Begin: Manifest XML parsing and file handling"
                L"=========================");
        }

        // 7. The language decides which localized entries apply; a rollback uses paths as recorded.
        std::wstring language;
        if (!rollback) {
            language = installLanguageFromTally();
            if (language.empty()) {
                logCritical(L"Tally doesn't returned language code.");
                language = L"mul";
            }
            if (cancelRequested()) return g.configStatus;
        }
        logInfo(L"Install language of the product as set by patcher: %s", language);

        // 8. The manifest model and its operations are not part of this build: stop before any change
        // rather than report a patch that was never applied.
        logError(L"Manifest processing is not available in this build; the manifest %s was not applied.",
                 payload.manifestPath());
        fail(stateFailedBeforeChange);
        logFlush();
        return g.configStatus;
    } catch (...) {
        logFlush();
        if (!rollback && g.rollbackRequested) {
            logInfo(L"Exiting patch thread, creating rollback thread...");
            logFlush();
            g.block.state = stateRollingBack;
        }
        return g.configStatus;
    }
}

namespace {

std::wstring installLanguageFromTally() {
    TallySession tally;
    for (const ProductCodeEntry& product : globalConfig().productCodes) {
        std::wstring language = tally.queryInstallLanguage(tallyId(product.code));
        if (!language.empty()) {
            logInfo(L"Install language of the product as returned by Tally: %s", language);
            return language;
        }
    }
    return {};
}

}  // namespace

}  // namespace mw
