#include "mendwell/engine/undo_record.h"

#include <map>
#include <optional>

#include "mendwell/engine/fault_injection.h"
#include "mendwell/engine/patch_controller.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/engine/registry_operation.h"
#include "mendwell/records/rollback_manifest.h"
#include "platform/registry/registry.h"

namespace mw {

namespace {

RollbackManifestFile* recorder() {
    if (patchGlobals().rollbackMode != 0) return nullptr;
    RollbackManifestFile* file = rollbackManifest();
    return file && file->isOpen() ? file : nullptr;
}

std::wstring hexText(const std::vector<std::uint8_t>& bytes) {
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring text;
    text.reserve(bytes.size() * 2);
    for (std::uint8_t b : bytes) {
        text.push_back(digits[b >> 4]);
        text.push_back(digits[b & 15]);
    }
    return text;
}

void recordDirectory(const wchar_t* operation, const std::wstring& base, const std::wstring& tree) {
    RollbackManifestFile* file = recorder();
    if (!file) return;
    if (!file->capturing()) injectedKillBeforeRecord();
    win::xml::Node entry = file->directorySet().prependElement(L"Directory");
    entry.appendElement(L"Operation", operation);
    entry.appendElement(L"DirectoryBase", base);
    entry.appendElement(L"SubDirectoryTree", tree);
    file->journal(entry);
}

struct PdsUndo {
    const wchar_t* operation;
    std::wstring root;
    std::wstring keyPath;
    std::wstring keyName;
    std::wstring subtree;
    std::wstring rawType;  // a type number, "key", or empty
    std::wstring rawData;
};

void recordPds(const PdsUndo& undo) {
    RollbackManifestFile* file = recorder();
    if (!file) return;
    if (!file->capturing()) injectedKillBeforeRecord();
    win::xml::Node entry = file->pdsSet().prependElement(L"PDS");
    entry.appendElement(L"Operation", undo.operation);
    entry.appendElement(L"Root", undo.root);
    entry.appendElement(L"KeyPath", undo.keyPath);
    entry.appendElement(L"KeyName", undo.keyName);
    entry.appendElement(L"Value").setAttribute(L"defValue", L"");
    entry.appendElement(L"DataType", L"");
    entry.appendElement(L"SubRegistryTree", undo.subtree);
    if (!undo.rawType.empty()) {
        entry.appendElement(L"RawType", undo.rawType);
        entry.appendElement(L"RawData", undo.rawData);
    }
    file->journal(entry);
}

void recordValueRestore(const std::wstring& root, const std::wstring& keyPath, const std::wstring& name,
                        std::uint32_t type, const std::vector<std::uint8_t>& data) {
    recordPds({L"add", root, keyPath, name, L"", std::to_wstring(type), hexText(data)});
}

// A remove whose SubRegistryTree cannot be found in its key path deletes the key path's own tree; the
// key path followed by "\" is such a text.
void recordTreeRemoval(const std::wstring& root, const std::wstring& keyPath) {
    recordPds({L"remove", root, keyPath, L"", keyPath + L"\\", L"", L""});
}

}  // namespace

void recordDirectoryAddUndo(const std::vector<std::wstring>& created) {
    if (created.empty()) return;
    const std::wstring& innermost = created.back();
    const std::wstring& outermost = created.front();
    const std::size_t cut = outermost.rfind(L'\\');
    const std::wstring tree = cut == std::wstring::npos ? innermost : innermost.substr(cut + 1);
    recordDirectory(L"remove", innermost, tree);
}

void recordDirectoryRemoveUndo(const std::vector<std::wstring>& removed) {
    // Adding the innermost folder again brings back every folder above it that went with it.
    if (!removed.empty()) recordDirectory(L"add", removed.front(), L"");
}

RegistryUndoProbe probeRegistryEntry(const RegistryRecord& entry) {
    RegistryUndoProbe probe;
    const auto hive = registryHive(entry.root);
    if (!hive || !recorder()) return probe;
    std::wstring path = entry.keyPath;
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    for (std::size_t at = 0;;) {
        const std::size_t next = path.find(L'\\', at);
        const std::wstring prefix = path.substr(0, next);
        win::RegKey key;
        if (!prefix.empty() && key.open(*hive, prefix) != 0) {
            probe.firstMissingKey = prefix;
            return probe;
        }
        if (next == std::wstring::npos) break;
        at = next + 1;
    }
    win::RegKey key;
    if (key.open(*hive, path) == 0) {
        win::DWORD type = 0;
        if (key.queryValue(entry.keyName, type, probe.data) == 0) {
            probe.valueExisted = true;
            probe.type = type;
        }
    }
    return probe;
}

void recordRegistryAddUndo(const RegistryRecord& entry, const RegistryUndoProbe& before, bool valueWritten) {
    const auto hive = registryHive(entry.root);
    if (!hive || !recorder()) return;
    if (!before.firstMissingKey.empty()) {
        // Keys may have been made even when the value then failed.
        win::RegKey key;
        if (key.open(*hive, before.firstMissingKey) == 0)
            recordTreeRemoval(entry.root, before.firstMissingKey);
        return;
    }
    if (!valueWritten) return;
    if (before.valueExisted)
        recordValueRestore(entry.root, entry.keyPath, entry.keyName, before.type, before.data);
    else
        recordPds({L"remove", entry.root, entry.keyPath, entry.keyName, L"", L"", L""});
}

void recordRegistryAddPending(const RegistryRecord& entry, const RegistryUndoProbe& before) {
    if (!registryHive(entry.root) || !recorder()) return;
    if (!before.firstMissingKey.empty())
        recordTreeRemoval(entry.root, before.firstMissingKey);
    else if (before.valueExisted)
        recordValueRestore(entry.root, entry.keyPath, entry.keyName, before.type, before.data);
    else if (entry.rawType != L"key")
        recordPds({L"remove", entry.root, entry.keyPath, entry.keyName, L"", L"", L""});
}

void recordRegistryValueRemoved(const RegistryRecord& entry, std::uint32_t type,
                                const std::vector<std::uint8_t>& data) {
    recordValueRestore(entry.root, entry.keyPath, entry.keyName, type, data);
}

void recordServiceStopped(const ServiceRecord& entry) {
    RollbackManifestFile* file = recorder();
    if (!file) return;
    if (!file->capturing()) injectedKillBeforeRecord();
    win::xml::Node set = file->serviceSet();
    for (const win::xml::Node& known : set.children())
        if (known.firstChild(L"ServiceName").text() == entry.serviceName) return;
    win::xml::Node service = set.appendElement(L"Service");
    service.appendElement(L"Operation", L"start");
    service.appendElement(L"ServiceName", entry.serviceName);
    win::xml::Node arguments = service.appendElement(L"ArgumentList");
    for (const std::wstring& argument : entry.arguments) arguments.appendElement(L"Argument", argument);
    file->journal(service);
}

RegistryTreeSnapshot snapshotRegistryTree(const std::wstring& root, const std::wstring& keyPath) {
    RegistryTreeSnapshot snapshot;
    snapshot.root = root;
    const auto hive = registryHive(root);
    if (!hive || !recorder()) return snapshot;
    // Breadth first with a work list: a deep tree costs no stack.
    std::vector<std::wstring> pending{keyPath};
    for (std::size_t i = 0; i < pending.size(); ++i) {
        const std::wstring path = pending[i];
        win::RegKey key;
        if (key.open(*hive, path) != 0) continue;
        snapshot.keys.push_back(path);
        std::wstring name;
        for (win::DWORD k = 0; key.enumKey(k, name) == 0; ++k) pending.push_back(path + L"\\" + name);
        RegistryTreeSnapshot::Value value;
        for (win::DWORD v = 0; key.enumValue(v, value.name, value.type, value.data) == 0; ++v) {
            value.keyPath = path;
            snapshot.values.push_back(value);
        }
    }
    return snapshot;
}

void recordRegistryTreeRemoved(const RegistryTreeSnapshot& snapshot) {
    for (const std::wstring& key : snapshot.keys)
        recordPds({L"add", snapshot.root, key, L"", L"", L"key", L""});
    for (const auto& v : snapshot.values)
        recordValueRestore(snapshot.root, v.keyPath, v.name, v.type, v.data);
}

WriteAhead::WriteAhead() : file_(recorder()) {
    if (file_) file_->beginPending();
}

WriteAhead::~WriteAhead() {
    if (file_ && !finished_) file_->settle();
}

void WriteAhead::acting() {
    if (file_) file_->endPending();
}

void WriteAhead::finished(bool succeeded) {
    if (!file_ || finished_) return;
    finished_ = true;
    if (succeeded)
        file_->settle();
    else
        file_->keepPending();
}

}  // namespace mw
