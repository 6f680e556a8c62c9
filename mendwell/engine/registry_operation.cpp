#include "mendwell/engine/registry_operation.h"

#include <algorithm>
#include <limits>
#include <map>
#include <optional>

#include "mendwell/base/patch_state.h"
#include "mendwell/engine/undo_record.h"
#include "mendwell/base/patchlog.h"
#include "platform/registry/registry.h"

namespace mw {

namespace {

unsigned typeNumberOf(const std::wstring& dataType) {
    static const std::map<std::wstring, unsigned> types = {
        {L"REG_NONE", 0},
        {L"REG_SZ", 1},
        {L"REG_EXPAND_SZ", 2},
        {L"REG_BINARY", 3},
        {L"REG_DWORD", 4},
        {L"REG_DWORD_LITTLE_ENDIAN", 4},
        {L"REG_DWORD_BIG_ENDIAN", 5},
        {L"REG_LINK", 6},
        {L"REG_MULTI_SZ", 7},
        {L"REG_QWORD", 11},
        {L"REG_QWORD_LITTLE_ENDIAN", 11},
    };
    const auto found = types.find(dataType);
    return found == types.end() ? 0 : found->second;
}

constexpr win::LONG kNoHive = 6;  // what a call on a null handle answers

win::LONG openKey(win::RegKey& key, const std::wstring& root, std::wstring_view path) {
    const auto hive = registryHive(root);
    return hive ? key.open(*hive, path) : kNoHive;
}

win::LONG createKey(win::RegKey& key, const std::wstring& root, std::wstring_view path) {
    const auto hive = registryHive(root);
    return hive ? key.create(*hive, path) : kNoHive;
}

// atoi (or _atoi64 for 64 bits) as the C runtime has it: blanks, a sign, digits up to the first other
// character; saturates.
template <typename Int>
Int decimalValue(const std::wstring& text) {
    constexpr Int lowest = std::numeric_limits<Int>::min();
    constexpr Int highest = std::numeric_limits<Int>::max();
    std::size_t i = 0;
    while (i < text.size() && (text[i] == L' ' || (text[i] >= L'\t' && text[i] <= L'\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
    Int n = 0;
    for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
        const Int digit = text[i] - L'0';
        if (negative ? n < (lowest + digit) / 10 : n > (highest - digit) / 10)
            return negative ? lowest : highest;
        n = negative ? n * 10 - digit : n * 10 + digit;
    }
    return n;
}

std::vector<std::uint8_t> littleEndian(std::uint64_t n, int size) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < size; ++i) bytes.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    return bytes;
}

// REG_MULTI_SZ items are separated by "\0" in the Value, as reg.exe takes them; empty items are left
// out, since an empty string ends the list.
std::vector<std::wstring> multiStringItems(const std::wstring& text) {
    std::vector<std::wstring> items;
    std::size_t start = 0;
    for (;;) {
        const std::size_t at = text.find(L"\\0", start);
        std::wstring item = text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start);
        if (!item.empty()) items.push_back(std::move(item));
        if (at == std::wstring::npos) return items;
        start = at + 2;
    }
}

int hexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Each pair of characters read as a hexadecimal number of at most two digits (as swscanf "%2x" would:
// reading stops at the first character that is not a digit; none gives 0). An odd last character is
// ignored.
std::vector<std::uint8_t> hexBytes(const std::wstring& text) {
    std::vector<std::uint8_t> bytes(text.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int high = hexDigit(text[2 * i]);
        const int low = hexDigit(text[2 * i + 1]);
        if (high < 0)
            bytes[i] = 0;
        else
            bytes[i] = static_cast<std::uint8_t>(low < 0 ? high : high * 16 + low);
    }
    return bytes;
}

void logEntry(const RegistryRecord& entry) {
    logInfo(L"Regsitry Operation: %s", entry.operation);
    logInfo(L"Registry data type: %s", entry.dataType);
    logInfo(L"Regsirty Hive: %s", entry.root);
    logInfo(L"Registry Key: %s", entry.keyName);
    logInfo(L"Registry Path: %s", entry.keyPath);
    logInfo(L"Registry Value: %s", entry.value);
    logInfo(L"Registry subRegistryTree: %s", entry.subtree);
}

// Creates every key before the last "\" of the path; the last one is left to the caller.
bool createRegistryTree(const RegistryRecord& entry) {
    logInfo(L"Creating registry at hive: %s", entry.root);
    logInfo(L"Creating registry at path: %s", entry.keyPath);
    const std::wstring& path = entry.keyPath;
    for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
        const std::wstring prefix = path.substr(0, at);
        logInfo(L"creating registry path: %s", prefix);
        win::RegKey key;
        if (openKey(key, entry.root, prefix) == 0) {
            logInfo(L"Registry path is already present at %s:", prefix);
            continue;
        }
        logInfo(L"Registry is not present. Patcher will create it.");
        const win::LONG status = createKey(key, entry.root, prefix);
        if (status != 0) {
            logInfo(L"Unable to create the registry path.");
            logInfo(L"Failed to create the registry and returned the error code: %d", status);
            logInfo(L"Patcher fails to create the registry tree. Patcher will fail.");
            return false;
        }
        logCritical(L"new hKey");
        logInfo(L"Successfully created the registry path.");
        logCritical(L"delete hKey");
    }
    logInfo(L"Registry tree created successfully.");
    return true;
}

}  // namespace

// Hive names are exact: "hklm" names no hive, so every call on it fails.
std::optional<win::RegRoot> registryHive(const std::wstring& root) {
    static const std::map<std::wstring, win::RegRoot> hives = {
        {L"HKCR", win::RegRoot::classesRoot},   {L"HKLM", win::RegRoot::localMachine},
        {L"HKCU", win::RegRoot::currentUser},   {L"HKUSERS", win::RegRoot::users},
        {L"HKCC", win::RegRoot::currentConfig},
    };
    const auto found = hives.find(root);
    if (found == hives.end()) return std::nullopt;
    return found->second;
}

RegistryData registryDataFor(const RegistryRecord& entry) {
    RegistryData data;
    data.type = typeNumberOf(entry.dataType);
    if (!entry.rawType.empty()) {
        data.type = static_cast<unsigned>(decimalValue<std::int32_t>(entry.rawType));
        data.bytes = hexBytes(entry.rawData);
        return data;
    }
    // Each type in the binary form its readers expect: numbers as numbers, not as their digits.
    switch (data.type) {
        case win::regtype::dword:
            data.bytes = littleEndian(static_cast<std::uint32_t>(decimalValue<std::int32_t>(entry.value)), 4);
            break;
        case win::regtype::dwordBigEndian: {
            data.bytes = littleEndian(static_cast<std::uint32_t>(decimalValue<std::int32_t>(entry.value)), 4);
            std::reverse(data.bytes.begin(), data.bytes.end());
            break;
        }
        case win::regtype::qword:
            data.bytes = littleEndian(static_cast<std::uint64_t>(decimalValue<std::int64_t>(entry.value)), 8);
            break;
        case win::regtype::binary:
            data.bytes = hexBytes(entry.value);
            break;
        case win::regtype::multiSz:
            data.bytes = win::regMultiStringData(multiStringItems(entry.value));
            break;
        default:
            data.bytes = win::regStringData(entry.value);
    }
    return data;
}

bool cRegistryOperationAdd::validate(const RegistryRecord& entry) {
    logInfo(L"Validating registry entry to add.");
    logCritical(L"new hKey");
    logInfo(L"Opening registry key Hive: %s, Path: %s", entry.root, entry.keyPath);
    win::RegKey key;
    if (openKey(key, entry.root, entry.keyPath) == 0) {
        logInfo(L"Registry path is present at %s.", entry.keyPath);
        return true;
    }
    logInfo(L"Registry path is not present. Patcher will now create the path.");
    return createRegistryTree(entry);
}

bool cRegistryOperationAdd::execute(const RegistryRecord& entry) {
    logEntry(entry);
    logInfo(L"Adding registry entry at: %s", entry.keyPath);
    // What the entry changes, taken before it changes anything, so that the undo entry restores it.
    const RegistryUndoProbe before = probeRegistryEntry(entry);
    WriteAhead ahead;
    recordRegistryAddPending(entry, before);
    ahead.acting();
    if (!validate(entry)) {
        logError(L"Registry fails to validate for addition.");
        recordRegistryAddUndo(entry, before, false);
        ahead.finished(false);
        return false;
    }
    logInfo(L"Registry is validated for addition.");
    win::RegKey key;
    if (createKey(key, entry.root, entry.keyPath) != 0) {
        logError(L"Patcher fails to create the registry key. Patch will fail.");
        recordRegistryAddUndo(entry, before, false);
        ahead.finished(false);
        return false;
    }
    logCritical(L"new hKey");
    logInfo(L"Successfully created the key.");
    if (entry.rawType == L"key") {
        recordRegistryAddUndo(entry, before, false);
        ahead.finished(true);
        logCritical(L"delete hKey");
        return true;
    }

    const bool binary = entry.rawType.empty() && entry.dataType == L"REG_BINARY";
    const unsigned type = typeNumberOf(entry.dataType);
    const bool number =
        type == win::regtype::dword || type == win::regtype::dwordBigEndian || type == win::regtype::qword;
    if (entry.rawType.empty() && (number || type == win::regtype::multiSz))
        logInfo(L"Data to be written in the registry key is of type %s", entry.dataType);
    else if (binary) {
        logInfo(L"Data to be written in the registry key is of type REG_BINARY");
        logCritical(L"new lpBuffer");
    } else
        logInfo(L"Data to be written in the registry key is of type other than REG_DWORD or REG_BINARY");
    const RegistryData data = registryDataFor(entry);
    const bool written = key.setValue(entry.keyName, data.type, data.bytes) == 0;
    if (binary) logCritical(L"delete lpBuffer");
    if (written && binary)
        logInfo(L"Successfully set the value of  \"%s\" ", entry.keyName);
    else if (written)
        logInfo(L"Successfully set the value of  \"%s\" to \"%s\" ", entry.keyName, entry.value);
    else
        logInfo(L"Unable to set the value of the key. Patch will fail.");
    recordRegistryAddUndo(entry, before, written);
    ahead.finished(written);
    logCritical(L"delete hKey");
    return written;
}

namespace {

// The key a remove with a SubRegistryTree deletes: the key path cut where the tree's first name starts,
// or the key path itself when the tree is not part of it.
std::wstring removedTreeKey(const RegistryRecord& entry) {
    const std::size_t at = entry.keyPath.find(entry.subtree);
    if (at == std::wstring::npos) return entry.keyPath;
    return entry.keyPath.substr(0, at) + entry.subtree.substr(0, entry.subtree.find(L'\\'));
}

}  // namespace

bool cRegistryOperationRemove::execute(const RegistryRecord& entry) {
    logEntry(entry);
    logInfo(L"Removing registry = %s", entry.keyPath);
    // What goes is kept aside before anything goes, so that the undo entries can bring it back, even
    // from a run that dies half-way.
    const bool rollback = patchGlobals().rollbackMode != 0;
    RegistryTreeSnapshot snapshot;
    if (!entry.subtree.empty()) snapshot = snapshotRegistryTree(entry.root, removedTreeKey(entry));
    WriteAhead ahead;
    {
        win::RegKey probe;
        win::DWORD type = 0;
        std::vector<std::uint8_t> data;
        if (openKey(probe, entry.root, entry.keyPath) == 0 && probe.queryValue(entry.keyName, type, data) == 0)
            recordRegistryValueRemoved(entry, type, data);
        if (!entry.subtree.empty()) recordRegistryTreeRemoved(snapshot);
    }
    ahead.acting();

    bool result = true;
    win::RegKey key;
    const win::LONG opened = openKey(key, entry.root, entry.keyPath);
    if (opened == 0) {
        logCritical(L"new hKey");
        logInfo(L"Registry key to delete: %s", entry.keyName);
        win::DWORD type = 0;
        std::vector<std::uint8_t> data;
        if (key.queryValue(entry.keyName, type, data) == 0) {
            logInfo(L"Registry key is present on the target machine.");
            const win::LONG status = key.deleteValue(entry.keyName);
            if (status == 0) {
                logInfo(L"Registry key is deleted successfully.");
                recordRegistryValueRemoved(entry, type, data);
            } else {
                logError(L"Unable to delete the registry key. Returned error code: %d", status);
                result = false;
            }
        } else {
            logInfo(L"Registry key to delete is not present on the target machine. patch will progress.");
        }
        logCritical(L"delete hKey");
        key.close();
    } else if (opened == 5) {
        logInfo(L"Access denied to the registry key: %s", entry.keyPath);
        result = false;
    } else {
        logInfo(L"Cannot open the key.");
    }

    if (!entry.subtree.empty()) {
        logInfo(L"Patcher tyring to delete the registry tree.");
        const std::wstring target = removedTreeKey(entry);
        const auto hive = registryHive(entry.root);
        win::LONG status = kNoHive;
        if (hive) {
            win::RegKey rootKey;
            status = rootKey.open(*hive, L"");
            if (status == 0) status = rootKey.deleteTree(target);
        }
        // Undoing, a tree that is not there is what the undo wants: a repeated recovery meets it gone, and
        // the undo entry written ahead of a key that was never made (its path may not even be valid)
        // meets it absent. Only a key that is there and stays, or a denied one, fails the undo.
        if (status != 0 && rollback && hive) {
            win::RegKey gone;
            const win::LONG open = gone.open(*hive, target);
            if (open != 0 && open != static_cast<win::LONG>(win::err::accessDenied)) status = 0;
        }
        if (status == 0) {
            logInfo(L"Registry tree deleted successfully.");
            recordRegistryTreeRemoved(snapshot);
            result = true;
        } else {
            logError(L"Unable to delete the registry tree. Returned error code: %d", status);
            result = false;
        }
    }
    ahead.finished(result);
    return result;
}

std::unique_ptr<cRegistryOperation> makeRegistryOperation(std::wstring_view operation) {
    if (operation == L"add") return std::make_unique<cRegistryOperationAdd>();
    if (operation == L"remove") return std::make_unique<cRegistryOperationRemove>();
    return nullptr;
}

}  // namespace mw
