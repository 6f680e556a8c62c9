#include "mendwell/app/recovery.h"

#include <vector>

#include "mendwell/engine/patch_controller.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/records/rollback_manifest.h"
#include "mendwell/engine/services.h"
#include "mendwell/engine/undo_failures.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/app/startup.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "platform/text/text.h"
#include "platform/system/system.h"

namespace mw {

namespace {

RecoveryOutcome& outcome() {
    static RecoveryOutcome current;
    return current;
}

std::vector<std::wstring> foldersWithJournals() {
    std::vector<std::wstring> found;
    const std::wstring parent = patcherFolders();
    const std::wstring own = workFolder();
    win::FindFile find;
    win::FindData entry;
    for (bool more = find.first(parent + L"\\Patcher*", entry); more; more = find.next(entry)) {
        if (!(entry.attributes & win::attr::directory)) continue;
        const std::wstring folder = parent + L"\\" + entry.name;
        if (win::pathExists(folder + L"\\RollbackManifest.xml.journal") && folder != own)
            found.push_back(folder);
    }
    return found;
}

// A run that died after writing its history entry: the product is as it was, so is its history.
void restoreHistory(const JournalReplay& replay) {
    if (replay.historyPath.empty()) return;
    const bool restored = replay.historyKept.empty()
                              ? (win::deleteFile(replay.historyPath) || !win::pathExists(replay.historyPath))
                              : win::copyFile(replay.historyKept, replay.historyPath, false);
    if (restored)
        logInfo(L"The history file %s is as it was before the unfinished run.", replay.historyPath);
    else
        logError(L"The history file %s could not be put back as it was.", replay.historyPath);
}

// A child the dead run started (the patch tool, from its work folder) must not write the product while
// it is restored. Such children end with their patcher; one left over is ended here.
void endLeftoverChildren(const std::wstring& folder) {
    const std::wstring prefix = folder + L"\\";
    for (const win::ProcessEntry& process : win::listProcesses()) {
        if (process.fullPath.size() <= prefix.size() ||
            !win::iequals(std::wstring_view(process.fullPath).substr(0, prefix.size()), prefix))
            continue;
        if (win::terminateProcess(process.pid))
            logWarning(L"The process %s (%d) of the unfinished patch run was still running and is ended.",
                       process.fullPath, static_cast<int>(process.pid));
    }
}

// The rollback of one dead run, in its own work folder, where its backups are.
bool rollBack(const std::wstring& folder) {
    endLeftoverChildren(folder);
    const std::wstring manifestPath = folder + L"\\RollbackManifest.xml";
    const std::wstring journalPath = manifestPath + L".journal";
    JournalReplay replay;
    if (!readJournal(journalPath, replay)) {
        logError(L"The journal %s of an unfinished patch run cannot be read.", journalPath);
        return false;
    }
    if (replay.skippedLines > 0)
        logWarning(L"%d line(s) of the journal %s were cut off by the end of the run and are skipped.",
                   replay.skippedLines, journalPath);
    if (replay.entries == 0) {
        logInfo(L"The unfinished patch run in %s had changed nothing.", folder);
        win::deleteFile(journalPath);
        return true;
    }
    logInfo(L"Rolling back %d change(s) of the unfinished patch run in %s (product folder %s).",
            replay.entries, folder, replay.installFolder);
    if (!replay.manifest.save(manifestPath, kRecordXmlDeclaration)) {
        logError(L"Unable to write the rollback manifest %s: %s", manifestPath, replay.manifest.error());
        return false;
    }

    // The services that run stopped are started again by the rollback's start pass.
    for (const win::xml::Node& service : replay.manifest.root().firstChild(L"ServiceSet").children()) {
        ServiceRecord record;
        record.serviceName = service.firstChild(L"ServiceName").text();
        stoppedServices()[serviceKey(record)] = 1;
    }

    const PatchGlobals saved = patchGlobals();
    PatchGlobals& g = patchGlobals();
    g = PatchGlobals{};
    g.rollbackMode = 1;
    g.block.state = stateRollingBack;
    setWorkFolderOverride(folder);
    const std::wstring installFolder = replay.installFolder.empty() ? folder : replay.installFolder;
    PatchController::MyThreadProc(installFolder);
    // What could not be undone and nothing holds is given up (logged by the rollback): only a journal
    // still kept blocks the next patches.
    const bool rolledBack = g.block.state == stateRollbackFinished ||
                            (g.block.state == stateOperationFailed && !win::pathExists(journalPath));
    if (rolledBack) {
        restoreHistory(replay);
        win::deleteFile(journalPath);
        // A backup that could not be put back stays where someone can find it.
        if (undoFailures().empty()) cleanBackupFolder();
    } else {
        for (const UndoFailure& failure : undoFailures()) {
            if (failure.hold.empty()) continue;
            logError(L"Release %s so that the next start can finish the rollback.", failure.hold);
            win::printToStandardError(L"\r\nRelease " + failure.hold +
                                      L" so that the next start can finish the rollback.");
        }
    }
    setWorkFolderOverride({});
    stoppedServices().clear();
    g = saved;
    return rolledBack;
}

}  // namespace

RecoveryOutcome recoverUnfinishedRuns() {
    RecoveryOutcome& result = outcome();
    for (const std::wstring& folder : foldersWithJournals()) {
        logInfo(L"Found the work folder %s of a patch run that did not finish; it is rolled back first.",
                folder);
        if (rollBack(folder)) {
            logInfo(L"The unfinished patch run of %s is rolled back.", folder);
            ++result.recovered;
        } else {
            logError(L"The unfinished patch run of %s could not be rolled back; no patch is applied until it is.",
                     folder);
            result.failed = true;
        }
    }
    logFlush();
    return result;
}

const RecoveryOutcome& lastRecovery() {
    return outcome();
}

}  // namespace mw
