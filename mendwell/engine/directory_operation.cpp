#include "mendwell/engine/directory_operation.h"

#include <algorithm>
#include <map>
#include <memory>
#include <thread>

#include "mendwell/base/patch_state.h"
#include "mendwell/engine/undo_record.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"

namespace mw {

namespace {

std::wstring normalisedBase(const DirectoryRecord& entry) {
    std::wstring base = entry.directoryBase;
    std::replace(base.begin(), base.end(), L'/', L'\\');
    logInfo(
        L"Forward slashes are converted to backslashes if any from directory base. New directory base: %s",
        base);
    return base;
}

// Tested the way the patcher always has: by entering the folder and coming back.
bool directoryExists(const std::wstring& path) {
    const std::wstring previous = win::currentDirectory();
    if (!win::setCurrentDirectory(path)) return false;
    win::setCurrentDirectory(previous);
    return true;
}

// One level up: a trailing "\" is dropped first, then everything from the last "\" on.
std::wstring parentFolder(std::wstring path) {
    if (!path.empty() && path.back() == L'\\') path.pop_back();
    const std::size_t cut = path.rfind(L'\\');
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

}  // namespace

bool cDirectoryOperationAdd::validate(const DirectoryRecord& entry) {
    logInfo(L"Creating directory tree recursively.");
    const std::wstring base = normalisedBase(entry);
    // Before the first folder is made, the journal learns which ones may be.
    WriteAhead ahead;
    {
        std::vector<std::wstring> missing;
        for (std::size_t at = base.find(L'\\'); at != std::wstring::npos; at = base.find(L'\\', at + 1)) {
            if (!directoryExists(base.substr(0, at))) missing.push_back(base.substr(0, at));
        }
        if (!directoryExists(base)) missing.push_back(base);
        recordDirectoryAddUndo(missing);
    }
    ahead.acting();
    std::vector<std::wstring> created;
    bool success = true;
    for (std::size_t at = base.find(L'\\'); at != std::wstring::npos; at = base.find(L'\\', at + 1)) {
        const std::wstring prefix = base.substr(0, at);
        logInfo(L"Patcher trying to create the directory: %s", prefix);
        if (directoryExists(prefix)) {
            logInfo(L"Directory already present. No action takes place. Patch will progress.");
        } else if (win::createDirectory(prefix)) {
            logInfo(L"Successfully created the directory: %s", prefix);
            created.push_back(prefix);
        } else if (const win::DWORD error = win::lastError(); error != 0) {
            logError(L"Failed to create the directory. Return error code: %d", error);
            success = false;
            break;
        }
    }
    logInfo(L"Patcher trying to create the directory: %s", base);
    if (directoryExists(base)) {
        logInfo(L"Directory already present. No action takes place. Patch will progress.");
    } else if (win::createDirectory(base)) {
        logInfo(L"Successfully created the directory: %s", base);
        created.push_back(base);
    } else {
        const win::DWORD error = win::lastError();
        logError(L"Unable to create the directory at: %s", base);
        if (error != 0) {
            logError(L"Failed to create the directory and returned the error code: %d", error);
            recordDirectoryAddUndo(created);
            ahead.finished(false);
            return false;
        }
    }
    if (success) logInfo(L"Directory tree created successfully.");
    recordDirectoryAddUndo(created);
    ahead.finished(success);
    return success;
}

bool cDirectoryOperationRemove::validate(const DirectoryRecord& entry) {
    logInfo(L"Removing directory tree recursively.");
    std::wstring current = normalisedBase(entry);
    const bool rollback = patchGlobals().rollbackMode != 0;
    WriteAhead ahead;
    if (directoryExists(current)) recordDirectoryRemoveUndo({current});
    ahead.acting();
    std::vector<std::wstring> removed;
    const std::wstring& tree = entry.subDirectoryTree;
    if (!tree.empty()) {
        int count = static_cast<int>(std::count(tree.begin() + 1, tree.end(), L'\\'));
        if (tree.back() != L'\\') ++count;
        logInfo(L"Total number of directories to delete: %d", count);
        for (int i = 0; i < count; ++i) {
            // Undoing, a folder already gone is what the undo wants (a repeated recovery meets it).
            if (rollback && !directoryExists(current)) {
                current = parentFolder(current);
                continue;
            }
            logInfo(L"Removing directory: %s", current);
            for (int attempt = 0; attempt < 4; ++attempt) {
                if (win::removeDirectory(current)) {
                    removed.push_back(current);
                    break;
                }
                logError(L"Unable to remove the directory %s. Returned error code: %d", current,
                         win::lastError());
                std::this_thread::sleep_for(std::chrono::milliseconds(250));
            }
            logInfo(L"Successfully deleted the directory: %s", current);
            current = parentFolder(current);
        }
    } else {
        // Walks up while the folders come away; the first one still holding something ends the walk.
        for (;;) {
            logInfo(L"Removing directory: %s", current);
            if (!win::removeDirectory(current)) {
                logError(L"Unable to remove the directory %s. Returned error code: %d", current,
                         win::lastError());
                break;
            }
            logInfo(L"Successfully deleted the directory: %s", current);
            removed.push_back(current);
            current = parentFolder(current);
            if (current.find(L'\\') == std::wstring::npos) break;  // never the drive itself
        }
    }
    recordDirectoryRemoveUndo(removed);
    ahead.finished(true);
    return true;
}

bool runDirectoryOperation(const DirectoryRecord& entry) {
    std::map<std::wstring, std::unique_ptr<cDirectoryOperation>> operations;
    operations.emplace(L"add", std::make_unique<cDirectoryOperationAdd>());
    operations.emplace(L"remove", std::make_unique<cDirectoryOperationRemove>());
    const auto found = operations.find(entry.operation);
    return found != operations.end() && found->second->validate(entry);
}

}  // namespace mw
