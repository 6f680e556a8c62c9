// Undo entries of directory and registry entries, written to the rollback manifest in the manifest's own
// schema so that the rollback run reads them with the same readers. They are put first in their set:
// the rollback then undoes the newest change first, which is what brings nested folders and a value
// changed twice back as they were. Nothing is recorded during a rollback run.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "mendwell/engine/manifest.h"

namespace mw {

// Folders an add created (outermost first) / a remove deleted (innermost first).
void recordDirectoryAddUndo(const std::vector<std::wstring>& created);
void recordDirectoryRemoveUndo(const std::vector<std::wstring>& removed);

// What a registry add is about to change.
struct RegistryUndoProbe {
    std::wstring firstMissingKey;  // the outermost key of the path that does not exist yet
    bool valueExisted = false;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
};
RegistryUndoProbe probeRegistryEntry(const RegistryRecord& entry);
// After an add: removes the keys it created, or the value it wrote, or brings back the value it replaced.
void recordRegistryAddUndo(const RegistryRecord& entry, const RegistryUndoProbe& before, bool valueWritten);
// Before an add acts: what undoes it whether or not it gets to write (the keys it would create, or the
// value it would replace or add).
void recordRegistryAddPending(const RegistryRecord& entry, const RegistryUndoProbe& before);
void recordRegistryValueRemoved(const RegistryRecord& entry, std::uint32_t type,
                                const std::vector<std::uint8_t>& data);

// A service the run stopped: the rollback run starts it again (its stop pass finds it stopped and keeps
// the flag this run set, so its start pass restarts it).
void recordServiceStopped(const ServiceRecord& entry);

// A key tree as it was before a remove deleted it.
struct RegistryTreeSnapshot {
    std::wstring root;
    struct Value {
        std::wstring keyPath;
        std::wstring name;
        std::uint32_t type = 0;
        std::vector<std::uint8_t> data;
    };
    std::vector<std::wstring> keys;  // every key of the tree, the tree's own key first
    std::vector<Value> values;
};
RegistryTreeSnapshot snapshotRegistryTree(const std::wstring& root, const std::wstring& keyPath);
void recordRegistryTreeRemoved(const RegistryTreeSnapshot& snapshot);

class RollbackManifestFile;

// Write-ahead for one entry of a normal run: made before the entry records what would repair it (the
// record* calls in between go into the pending record), `acting` puts that on disk, and `finished`
// settles it or, when the entry failed, keeps it for the rollback. Nothing in a rollback run.
class WriteAhead {
  public:
    WriteAhead();
    ~WriteAhead();
    WriteAhead(const WriteAhead&) = delete;
    WriteAhead& operator=(const WriteAhead&) = delete;

    void acting();
    void finished(bool succeeded);

  private:
    RollbackManifestFile* file_;
    bool finished_ = false;
};

}  // namespace mw
