#include "mendwell/engine/patch_controller.h"

#include "mendwell/records/rollback_manifest.h"
#include "mendwell/base/config_reader.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"
#include "platform/resources/resources.h"
#include "platform/system/worker.h"

namespace mw {

namespace {

std::unique_ptr<RollbackManifestFile>& rollbackManifestSlot() {
    static std::unique_ptr<RollbackManifestFile> file;
    return file;
}

bool inRollbackMode() {
    return patchGlobals().rollbackMode == 1;
}

}  // namespace

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

}  // namespace mw
