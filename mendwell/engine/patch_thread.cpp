// MyThreadProc: one run over the manifest (or, in rollback mode, over the rollback manifest), set by set
// in a fixed order, with the state changes and notifications the wizard and the mode procedures read.
#include <exception>

#include "mendwell/engine/digest_memo.h"
#include "mendwell/engine/fault_injection.h"
#include "mendwell/engine/file_operation.h"
#include "mendwell/engine/file_undo.h"
#include "mendwell/engine/manifest.h"
#include "mendwell/engine/operation_links.h"
#include "mendwell/engine/undo_failures.h"
#include "mendwell/engine/undo_record.h"
#include "mendwell/records/rollback_manifest.h"
#include "mendwell/engine/patch_controller.h"
#include "mendwell/engine/preflight.h"
#include "mendwell/records/path_tokens.h"
#include "mendwell/records/tally_session.h"
#include "mendwell/base/config_record.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/payload_extractor.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/resources/resources.h"
#include "platform/system/system.h"
#include "platform/system/worker.h"

namespace mw {

namespace {

enum SetIndex { serviceSet = 0, fileSet = 1, registrySet = 2, directorySet = 3 };

PatchObserver& observer() {
    static PatchObserver current;
    return current;
}

// A suspended worker waits here, at a point where it holds nothing.
void notifyWizard() {
    if (observer().notify) observer().notify(patchGlobals().block);
    win::WorkerThread::checkpoint();
}

void showStatusText(std::wstring_view key) {
    if (observer().statusText) observer().statusText(key);
}

void fail(std::int32_t state) {
    PatchGlobals& g = patchGlobals();
    g.configStatus = statusFailed;
    g.block.state = state;
    g.block.result = statusFailed;
    g.patchStatus = statusPatchFailed;
    notifyWizard();
}

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

// A normal run stops at its next check once a rollback was asked for; a rollback always runs on.
bool cancelRequested() {
    PatchGlobals& g = patchGlobals();
    if (g.rollbackMode == 1 || !g.rollbackRequested) return false;
    logInfo(L"Exiting patch thread, creating rollback thread...");
    logFlush();
    g.block.state = stateRollingBack;
    notifyWizard();
    return true;
}

// Thrown inside a run (and caught in MyThreadProc) when a cancel check finds a rollback requested.
struct Cancelled {};

class PatchRun {
  public:
    PatchRun(const ExpatDOM& manifest, std::wstring installDir, std::wstring language)
        : manifest_(manifest),
          installDir_(std::move(installDir)),
          language_(std::move(language)),
          rollback_(patchGlobals().rollbackMode == 1) {}

    // Steps 9 to 15. Throws Cancelled.
    void walk() {
        PatchGlobals& g = patchGlobals();
        if (!servicePass(true)) return;
        if (!filePass()) return;
        directoryPass();
        registryPass();
        addRemovePass();
        servicePass(false);
        // A rollback undoes all it can; what it could not undo fails it at the end.
        if (rollback_ && !undoFailures().empty() && running()) fail(stateOperationFailed);
        if (running()) {
            g.block.state = rollback_ ? stateRollbackFinished : stateSucceeded;
            g.block.result = statusGood;
            notifyWizard();
            logFlush();
        }
    }

  private:
    // A set starts only while nothing has failed.
    bool running() const {
        return patchGlobals().block.state == (rollback_ ? stateRollingBack : statePatching);
    }

    static void checkCancel() {
        if (cancelRequested()) throw Cancelled{};
    }

    XMLNodeList startSet(const wchar_t* path, int set) {
        XMLNodeList entries = manifest_.selectNodes(path);
        if (!rollback_) {
            PatchStateBlock& block = patchGlobals().block;
            block.totals[set] = static_cast<std::int32_t>(entries.size());
            block.done[set] = 0;
        }
        checkCancel();
        return entries;
    }

    // Forward in a normal run; back towards the start in a rollback, for the progress bar.
    void countEntry(int set, bool backwards) {
        std::int32_t& done = patchGlobals().block.done[set];
        if (!rollback_) {
            ++done;
        } else if (backwards && done > 0) {
            --done;
        }
    }

    // Stop pass (first) or start pass (last). False when the run must go to its end.
    bool servicePass(bool stop) {
        if (!running()) return false;
        const XMLNodeList entries =
            stop ? startSet(kServiceSetPath, serviceSet) : manifest_.selectNodes(kServiceSetPath);
        for (const XMLDocumentNode* entry : entries) {
            const ServiceRecord record = readServiceRecord(*entry);
            if (!rollback_ && record.operation == (stop ? L"stop" : L"start")) {
                showStatusText(stop ? L"$$$/tvr/info/stopingService" : L"$$$/tvr/info/startingService");
            }
            const bool ok =
                !injectedFailure() && (stop ? stopServiceEntry(record) : startServiceEntry(record));
            if (!ok && !rollback_) fail(stateOperationFailed);
            countEntry(serviceSet, true);
            notifyWizard();
            if (!stop) win::sleepMs(1);
            if (patchGlobals().block.state == stateOperationFailed) {
                logFlush();
                return false;
            }
        }
        if (!stop) checkCancel();
        return true;
    }

    bool filePass() {
        PatchGlobals& g = patchGlobals();
        const XMLNodeList entries = startSet(kFileSetPath, fileSet);
        showStatusText(L"$$$/tvr/info/patching");
        if (entries.empty()) logInfo(L"No Files are being found to operate.");
        int index = -1;
        for (const XMLDocumentNode* entry : entries) {
            ++index;
            // A confirmed cancel stops the set before its next entry, not at its end.
            checkCancel();
            FileRecord record;
            const FileEntryRead read = readFileRecord(*entry, language_, rollback_, record);
            if (read == FileEntryRead::missingTags) {
                logError(L"Error Reading file details from manifest XML");
                logError(L"Some mandatory tags might be missing...");
                fail(stateFailedBeforeChange);
                break;
            }
            if (read == FileEntryRead::otherLanguage) {
                logInfo(
                    L"File operation is not performed as the language of the product and file is different.");
                countEntry(fileSet, true);
                notifyWizard();
                continue;
            }
            const FileEntryPaths paths =
                prepareFilePaths(record.renamePath, record.destinationPath, installDir_);
            record.renamePath = paths.source;
            record.destinationPath = paths.target;
            logFileEntry(record);
            g.validationReason = reasonNone;
            if (injectedFailure()) {
                logError(L"File operation failed.");
                fail(stateOperationFailed);
                break;
            }
            // Write-ahead: what repairs this entry is on disk before it touches anything.
            const FileEntryState before = rollback_ ? FileEntryState{} : probeFileEntry(record);
            WriteAhead ahead;
            if (!rollback_) recordPendingFileUndo(record, before);
            ahead.acting();
            const int result = runFileOperation(record);
            forgetDigest(record.destinationPath);
            forgetDigest(record.renamePath);
            if (result == fileOpDone && !rollback_) recordFileUndo(record, before);
            // Settled once its own undo entry is on record; a failed entry that left its files as they
            // were needs no repair by the rollback.
            ahead.finished(result != fileOpFailed || fileEntryUntouched(record, before));
            if (result == fileOpFailed) {
                logError(L"File operation failed.");
                if (rollback_) {
                    undoFailures().push_back(fileUndoFailure(record, index));
                } else {
                    fail(stateOperationFailed);
                    break;
                }
            }
            if (result != fileOpUnknown) countEntry(fileSet, true);
            notifyWizard();
        }
        // Digests taken before the file set are no use once it has run.
        forgetDigests();
        if (g.block.state == stateOperationFailed || g.block.state == stateFailedBeforeChange) {
            logFlush();
            return false;
        }
        return true;
    }

    static void logFileEntry(const FileRecord& record) {
        const std::wstring& op = record.operation;
        const wchar_t* line = nullptr;
        if (op == L"add") {
            line = L"Adding file: %s";
        } else if (op == L"rename") {
            line = L"Renaming file: %s";
        } else if (op == L"remove") {
            line = L"Removing file: %s";
        } else if (op == L"blindoverwrite") {
            line = L"Blindoverwriting file: %s";
        } else if (op == L"patch") {
            line = L"Patching file: %s";
        } else if (op == L"overwrite") {
            line = L"Overwriting file: %s";
        }
        if (line) logInfo(line, record.destinationPath);
    }

    void directoryPass() {
        if (!running()) return;
        const XMLNodeList entries = startSet(kDirectorySetPath, directorySet);
        if (entries.empty()) logInfo(L"No directories are being found to operate.");
        int index = -1;
        for (const XMLDocumentNode* entry : entries) {
            ++index;
            checkCancel();
            DirectoryRecord record = readDirectoryRecord(*entry);
            record.directoryBase = prepareDirectoryPath(record.directoryBase, installDir_);
            if (record.operation == L"add") {
                logInfo(L"Creating directories...");
            } else if (record.operation == L"remove") {
                logInfo(L"Removing directories...");
            }
            const bool ok = !injectedFailure() && runDirectoryEntry(record);
            if (!ok) {
                PatchLog::instance().writef(logTypeError, L"MyThreadProc", L"Directory operation failed.");
                if (rollback_)
                    undoFailures().push_back(directoryUndoFailure(record, index));
                else
                    fail(stateOperationFailed);
            } else {
                logInfo(L"Directory operation success.");
            }
            countEntry(directorySet, false);
            notifyWizard();
            win::sleepMs(1);
            if (!ok && !rollback_) return;
        }
    }

    void registryPass() {
        if (!running()) return;
        PatchGlobals& g = patchGlobals();
        const XMLNodeList entries = startSet(kPdsSetPath, registrySet);
        if (entries.empty()) logInfo(L"No Registry entries found to operate. ");
        int index = -1;
        for (const XMLDocumentNode* entry : entries) {
            ++index;
            checkCancel();
            RegistryRecord record = readRegistryRecord(*entry, language_);
            if (record.operation != L"remove")
                record.value = prepareRegistryValue(record.value, installDir_, language_);
            g.validationReason = reasonSetStarted;
            showStatusText(L"$$$/tvr/info/processingRegistry");
            const bool ok = !injectedFailure() && runRegistryEntry(record);
            if (!ok) {
                g.validationReason = reasonRegistryFailed;
                PatchLog::instance().writef(logTypeError, L"MyThreadProc", L"Registry operation failed.");
                if (rollback_)
                    undoFailures().push_back(registryUndoFailure(record, index));
                else
                    fail(stateOperationFailed);
            }
            countEntry(registrySet, false);
            notifyWizard();
            win::sleepMs(1);
            if (!ok && !rollback_) return;
        }
    }

    void addRemovePass() {
        if (!running()) return;
        const XMLNodeList info = manifest_.selectNodes(kAddRemoveInfoPath);
        if (info.empty()) {
            logInfo(L"No Add/Remove Info entries found");
            return;
        }
        patchGlobals().validationReason = reasonSetStarted;
        if (injectedFailure() || !updateAddRemoveInfo(readAddRemoveRecord(*info.front()))) {
            logError(L"Add/Remove Info update failed.");
            fail(stateOperationFailed);
        }
        win::sleepMs(1);
    }

    const ExpatDOM& manifest_;
    const std::wstring installDir_;
    const std::wstring language_;
    const bool rollback_;
};

PatchedRecord& patchedRecord() {
    static PatchedRecord record;
    return record;
}

// The history goes in while the journal can still undo it, and the journal goes only once it is in.
void recordPatchedAndDiscardJournal(RollbackManifestFile* undo) {
    const PatchedRecord& record = patchedRecord();
    if (record.write) {
        const std::wstring kept = workPath(L"\\History.patch.old");
        const bool existed = win::pathExists(record.path) && win::copyFile(record.path, kept, false);
        if (undo->journalHistory(record.path, existed ? kept : std::wstring())) record.write();
        else logError(L"The history file %s is not written: the journal cannot name it.", record.path);
    }
    injectedKillWhenPatched(1);
    undo->discardJournal();
    injectedKillWhenPatched(2);
}

}  // namespace

void setPatchedRecord(PatchedRecord record) {
    patchedRecord() = std::move(record);
}

namespace {

// Step 16.
int finish(const std::wstring& installFolder = {}) {
    PatchGlobals& g = patchGlobals();
    // A run that ends patched or rolled back leaves nothing for a recovery to do.
    RollbackManifestFile* undo = rollbackManifest();
    if (g.block.state == statePatching || g.block.state == stateSucceeded) {
        g.configStatus = statusGood;
        g.block.result = statusGood;
        g.patchStatus = statusGood;
        g.block.state = stateSucceeded;
        if (closeRollbackManifest()) recordPatchedAndDiscardJournal(undo);
    } else if (g.block.state == stateAlreadyUpdated) {
        if (closeRollbackManifest()) undo->discardJournal();
    } else if (g.rollbackMode == 1 &&
               (g.block.state == stateRollbackFinished || !undoFailures().empty())) {
        // A rollback that could not read its manifest (504) keeps the journal for the next start.
        // Rolled back, or all but what could not be undone: the journal keeps only what is held.
        if (undo) undo->discardJournal();
        if (!undoFailures().empty()) {
            logError(L"The rollback could not undo %d change(s).", static_cast<int>(undoFailures().size()));
            settleJournalAfterRollback(workPath(L"\\RollbackManifest.xml"), installFolder);
        }
    }
    notifyWizard();
    logFlush();
    return g.configStatus;
}

}  // namespace

void setPatchObserver(PatchObserver o) {
    observer() = std::move(o);
}

int PatchController::MyThreadProc(std::wstring installDir) {
    PatchGlobals& g = patchGlobals();
    const bool rollback = g.rollbackMode == 1;
    try {
        // 1. A normal run starts with an empty request and its backup folder.
        forgetDigests();
        if (rollback) undoFailures().clear();
        if (!rollback) {
            resetFaultCount();
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
        const std::wstring folder = std::move(installDir);
        logCritical(L"delete szTemp");
        if (folder.empty()) {
            logError(L"Product failed to locate and validate.");
            fail(stateFailedBeforeChange);
            return finish();
        }

        // 4. Payload into the work folder (in rollback mode only the rollback manifest is named).
        if (!rollback) {
            logInfo(L"Product is located and validated.");
            showStatusText(L"$$$/tvr/info/ExtractingResources");
            // The wizard shows a status text when notified; extraction is long and notifies nothing.
            notifyWizard();
        }
        PayloadExtractor payload(win::Module::self());
        if (cancelRequested()) return g.configStatus;

        // 5.
        if (!payload.succeeded()) {
            logError(L"Processing of manifest XML file failed.");
            fail(stateFailedBeforeChange);
            return finish();
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

        // 8. An unreadable manifest, or one with an incomplete file entry, fails before any change.
        CFastXMLParser parser;
        if (!parser.parseFile(payload.manifestPath()) || !parser.root()) {
            logError(L"Processing of manifest XML file failed.");
            fail(stateFailedBeforeChange);
            return finish();
        }
        // A misspelt root or set would otherwise "succeed" having done nothing, and be recorded.
        if (const std::wstring why = rollback ? L"" : manifestShapeProblem(*parser.root()); !why.empty()) {
            logError(L"The manifest is not a patch manifest: %s.", why);
            logError(L"Processing of manifest XML file failed.");
            fail(stateFailedBeforeChange);
            return finish();
        }
        for (const XMLDocumentNode* file : parser.selectNodes(kFileSetPath)) {
            if (!hasMandatoryFileTags(*file)) {
                logError(L"Error Reading file details from manifest XML");
                logError(L"Some mandatory tags might be missing...");
                fail(stateFailedBeforeChange);
                return finish();
            }
        }

        // Nothing changes before every entry has been judged: a finding refuses the patch as a refused
        // validation; a check run ends here.
        if (!rollback) {
            if (!runPreflight(parser.dom(), folder, language).passed()) {
                g.validationReason = reasonPreflightRefused;
                fail(stateCannotPatch);
                return finish();
            }
            if (checkOnly()) return g.configStatus;
        }

        // 9-15.
        if (!rollback && rollbackManifest()) rollbackManifest()->setInstallFolder(folder);
        setProductFolder(folder);
        PatchRun run(parser.dom(), folder, language);
        run.walk();
        return finish(folder);
    } catch (const Cancelled&) {
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

}  // namespace mw
