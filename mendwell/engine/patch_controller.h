// The patch controller: reads the configuration, owns the worker procedure MyThreadProc and the thread
// it may run on, and the suspend / resume / switch-to-rollback controls the wizard and the modes use.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "mendwell/base/patch_state.h"

namespace win {
class WorkerThread;
}

namespace mw {

class RollbackManifestFile;

// The rollback manifest of this run (work folder + "\RollbackManifest.xml"), made before a normal run;
// nullptr before that. Operations append their undo entries to it.
RollbackManifestFile* rollbackManifest();
// Makes this run's rollback manifest at `path` (the controller does it before a normal run; tests and
// recovery name their own). An empty path drops it.
void openRollbackManifest(const std::wstring& path);
// Writes the rollback manifest so that a rollback run can read it complete. False when there is none or
// it cannot be written.
bool closeRollbackManifest();

// Who hears from the worker: the wizard's window in wizard mode, nobody in the silent modes.
struct PatchObserver {
    // Called synchronously after every entry and state change, with the process-wide block.
    std::function<void(PatchStateBlock&)> notify;
    // A status text for the user, by dictionary key.
    std::function<void(std::wstring_view key)> statusText;
};
void setPatchObserver(PatchObserver observer);

// What the mode keeps about a run that patched the product: the history entry. The run writes it
// before its journal goes, so that no kill leaves a patched product without it; the history file as it
// was is kept and named in the journal first, so that a recovery that rolls the run back restores it.
struct PatchedRecord {
    std::wstring path;           // the file `write` changes
    std::function<bool()> write;
};
void setPatchedRecord(PatchedRecord record);

class PatchController {
  public:
    // State 501 (normal) or 506 (rollback mode), result 509.
    PatchController();
    ~PatchController();
    PatchController(const PatchController&) = delete;
    PatchController& operator=(const PatchController&) = delete;

    // Extracts and parses config.xml into the process-wide configuration; the configuration status
    // (509 or 510).
    int initialize();

    void suspend();
    void resume();
    void switchToRollback();

    // Wizard mode: runs MyThreadProc on a thread of its own. 509, or 510 when the configuration
    // status is 510 (e.g. the thread could not be made).
    int StartPatch(const std::wstring& installDir);
    // Silent and update-manager modes: runs MyThreadProc on the caller's thread.
    int startPatchSynchronously(const std::wstring& installDir);
    int StartRollBackPatch(const std::wstring& installDir);
    int StartRollBackPatchForQUD(const std::wstring& installDir);
    // Blocks until a thread started by StartPatch or StartRollBackPatch has ended.
    void waitForThread();

    // The worker: applies the patch (or, in rollback mode, undoes it). Returns the configuration status.
    static int MyThreadProc(std::wstring installDir);

  private:
    bool startThread(const std::wstring& installDir);
    void createRollbackManifest();

    std::unique_ptr<win::WorkerThread> thread_;
};

}  // namespace mw
