#include "mendwell/engine/preflight.h"

#include <cwctype>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "mendwell/engine/digest_memo.h"
#include "mendwell/engine/file_checks.h"
#include "mendwell/engine/file_operation.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/engine/manifest.h"
#include "mendwell/engine/registry_operation.h"
#include "mendwell/records/patch_history.h"
#include "mendwell/records/path_tokens.h"
#include "mendwell/records/product_validation.h"
#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/services/services.h"
#include "platform/system/system.h"
#include "platform/text/format.h"
#include "platform/text/text.h"

namespace mw {

namespace {

bool g_checkOnly = false;

// Paths and key names are compared as Windows compares them: without regard to case.
std::wstring folded(std::wstring text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

std::wstring pathKey(const std::wstring& path) {
    std::wstring full;
    if (!win::fullPath(path, full)) {
        full = path;
        normalizeSlashes(full);
    }
    return folded(win::removeBackslash(full));
}

// An MD5 text never matches when the file could not be read, not even an empty checksum.
bool matches(const std::wstring& md5, const std::wstring& expected) {
    return !md5.empty() && sameChecksum(md5, expected);
}

std::uint64_t sizeOf(const std::wstring& path) {
    std::uint64_t size = 0;
    return win::getFileSize(path, size) ? size : 0;
}

wchar_t driveOf(const std::wstring& path) {
    std::wstring full;
    if (!win::fullPath(path, full) || full.size() < 2 || full[1] != L':') return 0;
    return static_cast<wchar_t>(std::towupper(full[0]));
}

// The machine as the entries judged so far leave it. Paths the plan has not touched are answered by the
// machine; nothing is ever changed on it.
class PlanProbe final : public FileProbe {
  public:
    struct Planned {
        bool exists = false;
        bool directory = false;
        std::wstring md5;      // known checksum, or empty: then that of `content`
        std::wstring content;  // a file on the machine holding the planned bytes
        std::uint64_t size = 0;
    };

    bool exists(const std::wstring& path) override {
        const Planned* p = find(path);
        return p ? p->exists : win::pathExists(path);
    }
    bool isDirectory(const std::wstring& path) {
        const Planned* p = find(path);
        return p ? p->exists && p->directory : win::isDirectory(path);
    }
    std::wstring md5(const std::wstring& path) override {
        Planned* p = find(path);
        if (!p) return memoMd5Text(path);
        if (!p->exists || p->directory) return {};
        if (p->md5.empty() && !p->content.empty()) p->md5 = fileMd5Text(p->content);
        return p->md5;
    }
    bool readOnly(const std::wstring& path) override { return !find(path) && isReadOnly(path); }
    // Setting attributes fails only on a file that is not there.
    bool clearReadOnly(const std::wstring& path) override { return exists(path); }
    bool createTree(const std::wstring& path) override {
        for (std::size_t at = path.find(L'\\'); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
            const std::wstring prefix = path.substr(0, at);
            if (isDirectory(prefix)) continue;
            if (exists(prefix)) {
                logError(L"The file %s is in the way of a folder that must be created.", prefix);
                return false;
            }
            std::wstring full;
            // Windows refuses a folder whose full path leaves no room for an 8.3 name below it.
            if (!win::fullPath(prefix, full) || full.size() >= 248) {
                logError(L"The folder %s cannot be created: its path is too long.", prefix);
                return false;
            }
            putDirectory(prefix);
        }
        return true;
    }
    bool compareVersions(const std::wstring& first, const std::wstring& second, int& answer,
                         int& firstKind) override {
        if (find(first) || find(second)) {
            answer = 1;  // a file the plan brings has no version to compare yet: it would be overwritten
            firstKind = kNoFileKind;
            return true;
        }
        return compareFileVersions(first, second, answer, firstKind);
    }

    bool planned(const std::wstring& path) { return find(path) != nullptr; }
    std::uint64_t size(const std::wstring& path) {
        const Planned* p = find(path);
        return p ? p->size : sizeOf(path);
    }
    void putFile(const std::wstring& path, const std::wstring& md5, const std::wstring& content,
                 std::uint64_t size) {
        planned_[pathKey(path)] = Planned{true, false, md5, content, size};
    }
    // The file at `from` moves to `to`.
    void moveFile(const std::wstring& from, const std::wstring& to) {
        Planned moved{true, false, md5(from), {}, size(from)};
        planned_[pathKey(from)] = Planned{};
        planned_[pathKey(to)] = moved;
    }
    void removeFile(const std::wstring& path) { planned_[pathKey(path)] = Planned{}; }
    void putDirectory(const std::wstring& path) { planned_[pathKey(path)] = Planned{true, true, {}, {}, 0}; }

  private:
    Planned* find(const std::wstring& path) {
        const auto it = planned_.find(pathKey(path));
        return it == planned_.end() ? nullptr : &it->second;
    }

    std::map<std::wstring, Planned> planned_;
};

// Keys the plan creates or deletes, in order: a later entry sees the key as the earlier ones leave it.
class PlannedKeys {
  public:
    static std::wstring keyOf(const std::wstring& root, const std::wstring& path) {
        return root + L"\\" + folded(path);
    }
    // Created with every key above it.
    void create(const std::wstring& key) {
        ++sequence_;
        for (std::size_t at = key.find(L'\\'); at != std::wstring::npos; at = key.find(L'\\', at + 1))
            created_[key.substr(0, at)] = sequence_;
        created_[key] = sequence_;
    }
    void deleteTree(const std::wstring& key) { deleted_[key] = ++sequence_; }
    // Unknown when the plan has not touched the key or a tree holding it.
    std::optional<bool> exists(const std::wstring& key) const {
        long created = 0;
        long deleted = 0;
        if (const auto it = created_.find(key); it != created_.end()) created = it->second;
        for (const auto& [tree, when] : deleted_) {
            if (key == tree || (key.size() > tree.size() && key.compare(0, tree.size(), tree) == 0 &&
                                key[tree.size()] == L'\\'))
                deleted = std::max(deleted, when);
        }
        if (created == 0 && deleted == 0) return std::nullopt;
        return created > deleted;
    }

  private:
    long sequence_ = 0;
    std::map<std::wstring, long> created_;
    std::map<std::wstring, long> deleted_;
};

// True when another handle keeps this one from the access it needs (error 32). Opening and closing a
// handle changes nothing on the file.
bool heldByOther(const std::wstring& path, win::DWORD access, win::DWORD share) {
    // Write access to a read-only file is refused before sharing is looked at; the operation clears the
    // bit first, so the question is asked without it.
    if (isReadOnly(path)) access &= ~win::access::write;
    win::File file;
    if (file.open(path, access, share, win::Disposition::openExisting)) return false;
    return win::lastError() == win::err::sharingViolation;
}

constexpr win::DWORD kShareAll = win::share::read | win::share::write | win::share::del;
constexpr std::size_t kMaxPath = 260;  // MAX_PATH, the terminating character included

class Preflight {
  public:
    Preflight(const std::wstring& installDir, const std::wstring& language)
        : installDir_(installDir), language_(language) {}

    PreflightReport run(const ExpatDOM& manifest) {
        int index = 0;
        for (const XMLDocumentNode* entry : manifest.selectNodes(kServiceSetPath)) {
            const ServiceRecord record = readServiceRecord(*entry);
            noteServiceProcess(record.serviceName);
            plan(L"service entry " + std::to_wstring(++index) + L" (" + record.serviceName + L")",
                 L"stop the service if it runs, start it again at the end");
        }
        index = 0;
        for (const XMLDocumentNode* entry : manifest.selectNodes(kFileSetPath)) judgeFile(*entry, ++index);
        index = 0;
        for (const XMLDocumentNode* entry : manifest.selectNodes(kDirectorySetPath))
            judgeDirectory(*entry, ++index);
        index = 0;
        for (const XMLDocumentNode* entry : manifest.selectNodes(kPdsSetPath)) judgeRegistry(*entry, ++index);
        if (!manifest.selectNodes(kAddRemoveInfoPath).empty())
            plan(L"Add/Remove information", L"update the product's entry in the installed programs");
        judgeSpace();
        judgeHistory();
        return std::move(report_);
    }

  private:
    void finding(const std::wstring& entry, std::wstring why) {
        if (why.empty()) why = L"the operation would fail";
        report_.findings.push_back(entry + L": " + why);
        logError(L"Pre-flight: %s: %s", entry, why);
        if (g_checkOnly) win::printToParentConsole(L"\r\nRefused: " + entry + L": " + why);
    }

    void plan(const std::wstring& entry, const std::wstring& what) {
        report_.plan.push_back(entry + L": " + what);
        if (!g_checkOnly) return;
        logInfo(L"Plan: %s: %s", entry, what);
        win::printToParentConsole(L"\r\nPlan: " + entry + L": " + what);
    }

    void need(const std::wstring& path, std::uint64_t bytes) {
        if (const wchar_t drive = driveOf(path)) needed_[drive] += bytes;
    }

    // A backup is copied without overwriting: a second entry with the same object name cannot make its own.
    bool backup(const std::wstring& entry, const std::wstring& objectName, const std::wstring& file) {
        if (!backups_.insert(folded(objectName)).second) {
            finding(entry, L"an earlier entry already keeps its backup under the object name " + objectName +
                               L", so this file could not be backed up");
            return false;
        }
        need(workFolder(), files_.size(file));
        return true;
    }

    // The stop pass runs before the files: the process of a service it stops ends and lets go.
    void noteServiceProcess(const std::wstring& name) {
        win::ServiceManager manager;
        win::Service service;
        if (!manager.open() || !service.open(manager, name)) return;
        if (const win::DWORD pid = service.processId()) serviceProcesses_.insert(pid);
    }

    // Held by another process as the stop pass leaves the machine.
    bool held(const std::wstring& path, win::DWORD access, win::DWORD share) {
        if (files_.planned(path) || !heldByOther(path, access, share)) return false;
        if (serviceProcesses_.empty()) return true;
        const std::vector<win::DWORD> holders = win::processesHoldingFile(path);
        if (holders.empty()) return true;
        for (const win::DWORD pid : holders)
            if (!serviceProcesses_.contains(pid)) return true;
        return false;
    }

    bool free(const std::wstring& entry, const std::wstring& path, win::DWORD access, win::DWORD share) {
        if (!held(path, access, share)) return true;
        finding(entry, L"the file " + path + L" is in use by another process");
        return false;
    }

    void add(const std::wstring& target, const std::wstring& content, const std::wstring& md5) {
        const std::uint64_t size = sizeOf(content);
        need(target, size);
        files_.putFile(target, md5, content, size);
    }

    // What no operation can act on, found before any change rather than by a failure half-way.
    std::wstring unfitPaths(const FileRecord& record) {
        const std::wstring& op = record.operation;
        if (op != L"add" && op != L"overwrite" && op != L"blindoverwrite" && op != L"patch" && op != L"remove" &&
            op != L"rename" && op != L"touch")
            return {};
        if (record.objectName.empty() && op != L"touch") return L"the entry names no object (ObjectName is empty)";
        const bool moves = op == L"rename" || (op == L"blindoverwrite" && !record.renamePath.empty());
        for (const std::wstring* path : {&record.destinationPath, moves ? &record.renamePath : nullptr}) {
            if (!path) continue;
            if (path->size() >= kMaxPath) return L"the path " + *path + L" is longer than the system allows";
            const std::wstring name = win::fileNamePart(*path);
            std::wstring stem = name.substr(0, name.find(L'.'));
            while (!stem.empty() && stem.back() == L' ') stem.pop_back();
            if (isDeviceName(stem)) return L"the name " + name + L" is a device of the system, not a file";
            if (!files_.planned(*path) && win::isDirectory(*path))
                return L"a folder is at " + *path + L", where the entry names a file";
        }
        // A hidden or system file refuses to be replaced: it is refused here, before any change, rather
        // than have its attributes changed behind its owner's back.
        const win::DWORD attributes = win::getFileAttributes(record.destinationPath);
        if (op != L"add" && !files_.planned(record.destinationPath) && attributes != win::attr::invalid &&
            (attributes & (win::attr::hidden | win::attr::system)) != 0)
            return L"the file " + record.destinationPath + L" is hidden or a system file";
        return {};
    }

    static bool isDeviceName(const std::wstring& stem) {
        static const wchar_t* const devices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CLOCK$"};
        const std::wstring upper = win::toUpper(stem);
        for (const wchar_t* device : devices)
            if (upper == device) return true;
        if (upper.size() == 4 && (upper.compare(0, 3, L"COM") == 0 || upper.compare(0, 3, L"LPT") == 0) &&
            upper[3] >= L'1' && upper[3] <= L'9')
            return true;
        return false;
    }

    void judgeFile(const XMLDocumentNode& entry, int index) {
        FileRecord record;
        const FileEntryRead read = readFileRecord(entry, language_, false, record);
        const std::wstring name = L"file entry " + std::to_wstring(index);
        if (read == FileEntryRead::otherLanguage) {
            plan(name, L"not for the product's language: skipped");
            return;
        }
        const FileEntryPaths paths = prepareFilePaths(record.renamePath, record.destinationPath, installDir_);
        record.renamePath = paths.source;
        record.destinationPath = paths.target;
        normalizeSlashes(record.destinationPath);
        normalizeSlashes(record.renamePath);
        const std::wstring& op = record.operation;
        const std::wstring entryName = name + L" (" + op + L" " + record.destinationPath + L")";

        if (const std::wstring why = unfitPaths(record); !why.empty()) return finding(entryName, why);

        const std::unique_ptr<cFileOperation> operation = makeFileOperation(record);
        if (!operation) {
            if (op == L"patch") {
                finding(entryName, L"the binary patch operation is not part of this build");
            } else {
                plan(entryName, L"unknown operation: the file is left alone");
            }
            return;
        }
        operation->judgeWith(files_);
        int verdict = validationCannot;
        std::wstring why;
        {
            LogCapture capture;
            verdict = operation->validate(record);
            why = capture.errors();
        }
        const std::wstring& target = record.destinationPath;
        const std::wstring staged = workPath(L"\\StagingArea\\" + record.objectName);

        if (op == L"add") {
            if (verdict == validationNothingToDo) return plan(entryName, L"already in place: nothing to do");
            if (verdict != validationGo) return finding(entryName, why);
            if (!win::pathExists(staged))
                return finding(entryName, L"the new file is missing from the payload");
            add(target, staged, record.afterPatch);
            return plan(entryName, L"add the new file");
        }
        if (op == L"overwrite" || op == L"blindoverwrite")
            return judgeOverwrite(record, *operation, verdict, why, entryName);
        if (op == L"patch") {
            if (verdict == validationNothingToDo) return plan(entryName, L"already patched: nothing to do");
            if (verdict != validationGo) return finding(entryName, why);
            if (!win::pathExists(workPath(L"\\Quadrel\\Patch.exe")))
                return finding(entryName, L"the binary patch tool is missing from the work folder");
            if (!win::pathExists(staged))
                return finding(entryName, L"the difference file is missing from the payload");
            if (!free(entryName, target, win::access::read | win::access::write | win::access::del,
                      kShareAll) ||
                !backup(entryName, record.objectName, target))
                return;
            const std::uint64_t size = files_.size(target);
            need(target, size);
            need(win::windowsDirectory(), size + sizeOf(staged));
            files_.putFile(target, record.afterPatch, {}, size);
            return plan(entryName, L"back up the file and apply the difference");
        }
        if (op == L"remove") {
            if (verdict == validationNothingToDo) return plan(entryName, L"not present: nothing to do");
            if (verdict != validationGo) return finding(entryName, why);
            if (!free(entryName, target, win::access::read | win::access::del, kShareAll) ||
                !backup(entryName, record.objectName, target))
                return;
            files_.removeFile(target);
            return plan(entryName, L"back up the file and delete it");
        }
        if (op == L"rename") return judgeRename(record, verdict, why, entryName);
        // touch
        if (verdict == validationGo && held(target, win::access::read | win::access::write, win::share::none))
            return finding(entryName, L"the file " + target + L" is in use by another process");
        plan(entryName, verdict == validationGo ? L"set the file's time" : L"not present: nothing to do");
    }

    void judgeOverwrite(const FileRecord& record, cFileOperation& operation, int verdict,
                        const std::wstring& why, const std::wstring& entryName) {
        const bool blind = record.operation == L"blindoverwrite";
        const std::wstring& target = record.destinationPath;
        const std::wstring& staged = operation.sourcePath();
        std::wstring what;
        if (verdict == validationGo) {
            if (!free(entryName, target, win::access::read | win::access::write, kShareAll) ||
                !backup(entryName, record.objectName, target))
                return;
            add(target, staged, {});
            what = L"back up the file and replace it";
        } else if (verdict == validationNothingToDo) {
            what = L"already up to date: nothing to do";
        } else if (files_.exists(target)) {
            return finding(entryName, why);
        } else {
            // A missing target is added: the blind overwrite makes its folders, the overwrite does not.
            std::wstring reason;
            if (blind) {
                LogCapture capture;
                if (!files_.createTree(target)) reason = capture.errors();
            } else if (!files_.isDirectory(win::parentPart(target))) {
                reason = L"the file is missing and its folder does not exist, so it cannot be added";
            }
            if (!reason.empty()) return finding(entryName, reason);
            add(target, staged, {});
            what = L"not present: add the new file";
        }
        // The blind overwrite moves the file to its RenamePath afterwards, replacing nothing.
        const std::wstring& renamePath = record.renamePath;
        if (blind && !renamePath.empty() && renamePath != target && files_.exists(target)) {
            if (files_.exists(renamePath))
                return finding(entryName, L"a file is already at the new name " + renamePath);
            if (!free(entryName, target, win::access::del, kShareAll)) return;
            files_.moveFile(target, renamePath);
            what += L", then rename it to " + renamePath;
        }
        plan(entryName, what);
    }

    void judgeRename(const FileRecord& record, int verdict, const std::wstring& why,
                     const std::wstring& entryName) {
        const std::wstring& source = record.destinationPath;
        const std::wstring& target = record.renamePath;
        const bool targetMatches = files_.exists(target) && matches(files_.md5(target), record.afterPatch);
        if (verdict != validationGo || files_.exists(target)) {
            // The move is refused or not tried: the file at the new name decides.
            if (targetMatches) return plan(entryName, L"already renamed: nothing to do");
            if (verdict != validationGo) return finding(entryName, why);
            return finding(entryName,
                           L"a file with a different checksum is already at the new name " + target);
        }
        // After the move the file must carry the checksum after, or it is moved back and the entry fails.
        if (!matches(files_.md5(source), record.afterPatch))
            return finding(entryName, L"the renamed file would not have the checksum after (" +
                                          record.afterPatch + L")");
        if (!free(entryName, source, win::access::read | win::access::del, kShareAll)) return;
        // The rename's own backup copy may fail unseen, but it takes the object name from later entries.
        backups_.insert(folded(record.objectName));
        need(workFolder(), files_.size(source));
        files_.moveFile(source, target);
        plan(entryName, L"rename to " + target);
    }

    void judgeDirectory(const XMLDocumentNode& entry, int index) {
        DirectoryRecord record = readDirectoryRecord(entry);
        record.directoryBase = prepareDirectoryPath(record.directoryBase, installDir_);
        normalizeSlashes(record.directoryBase);
        const std::wstring entryName = L"directory entry " + std::to_wstring(index) + L" (" +
                                       record.operation + L" " + record.directoryBase + L")";
        if (record.operation == L"remove") return plan(entryName, L"remove the folder where it is empty");
        if (record.operation != L"add") return finding(entryName, L"unknown directory operation");
        std::wstring why;
        {
            LogCapture capture;
            if (!files_.createTree(record.directoryBase + L"\\")) why = capture.errors();
        }
        if (!why.empty()) return finding(entryName, why);
        plan(entryName, L"create the folder");
    }

    // Opens `path` and every key above it as the add creates them: a denied key refuses the entry.
    std::optional<std::wstring> deniedOnTheWay(win::RegRoot hive, const std::wstring& root,
                                               const std::wstring& path) {
        for (std::size_t at = 0; at != std::wstring::npos;) {
            at = path.find(L'\\', at + 1);
            const std::wstring prefix = path.substr(0, at);
            if (keys_.exists(PlannedKeys::keyOf(root, prefix)).has_value()) continue;
            win::RegKey key;
            const win::LONG status = key.open(hive, prefix);
            if (status == static_cast<win::LONG>(win::err::accessDenied)) return prefix;
            if (status != 0)
                return std::nullopt;  // missing from here on: it is created below a key that opened
        }
        return std::nullopt;
    }

    // A key inside a tree that cannot be opened, or null.
    static std::optional<std::wstring> deniedInside(win::RegKey& key, const std::wstring& path, int depth) {
        std::wstring name;
        for (win::DWORD i = 0; depth < 64 && key.enumKey(i, name) == 0; ++i) {
            win::RegKey child;
            const std::wstring childPath = path + L"\\" + name;
            if (child.open(key, name) != 0) return childPath;
            if (auto denied = deniedInside(child, childPath, depth + 1)) return denied;
        }
        return std::nullopt;
    }

    void judgeRegistry(const XMLDocumentNode& entry, int index) {
        const RegistryRecord record = readRegistryRecord(entry, language_);
        const std::wstring entryName = L"registry entry " + std::to_wstring(index) + L" (" +
                                       record.operation + L" " + record.root + L"\\" + record.keyPath + L" " +
                                       record.keyName + L")";
        const auto hive = registryHive(record.root);
        // The system refuses such a path (error 161) only once the entries before it have acted.
        if (!record.keyPath.empty() && (record.keyPath.front() == L'\\' ||
            record.keyPath.find(L"\\\\") != std::wstring::npos))
            return finding(entryName, L"the registry key path " + record.keyPath + L" is not valid");
        if (record.operation == L"add") {
            if (!hive) return finding(entryName, L"no registry hive is named " + record.root);
            if (const auto denied = deniedOnTheWay(*hive, record.root, record.keyPath))
                return finding(entryName, L"access to the registry key " + *denied + L" is denied");
            keys_.create(PlannedKeys::keyOf(record.root, record.keyPath));
            return plan(entryName, L"set the value");
        }
        if (record.operation != L"remove") return finding(entryName, L"unknown registry operation");

        const std::wstring key = PlannedKeys::keyOf(record.root, record.keyPath);
        if (hive && !keys_.exists(key).has_value()) {
            win::RegKey opened;
            if (opened.open(*hive, record.keyPath) == static_cast<win::LONG>(win::err::accessDenied))
                return finding(entryName, L"access to the registry key " + record.keyPath + L" is denied");
        }
        if (record.subtree.empty()) return plan(entryName, L"delete the value where it exists");

        std::wstring tree = record.keyPath;
        const std::size_t at = record.keyPath.find(record.subtree);
        if (at != std::wstring::npos)
            tree = record.keyPath.substr(0, at) + record.subtree.substr(0, record.subtree.find(L'\\'));
        if (!hive) return finding(entryName, L"no registry hive is named " + record.root);
        const std::wstring treeKey = PlannedKeys::keyOf(record.root, tree);
        const std::optional<bool> planned = keys_.exists(treeKey);
        if (planned == false)
            return finding(entryName, L"the registry key " + tree + L" to delete does not exist");
        if (!planned) {
            win::RegKey top;
            const win::LONG status = top.open(*hive, tree);
            if (status == static_cast<win::LONG>(win::err::accessDenied))
                return finding(entryName, L"access to the registry key " + tree + L" is denied");
            if (status != 0)
                return finding(entryName, L"the registry key " + tree + L" to delete does not exist");
            if (const auto denied = deniedInside(top, tree, 0))
                return finding(entryName, L"access to the registry key " + *denied + L" is denied");
        }
        keys_.deleteTree(treeKey);
        plan(entryName, L"delete the value and the key tree " + tree);
    }

    // A patch whose history cannot be written would be applied again by the next run.
    void judgeHistory() {
        const std::wstring code = detectedProductCode(globalConfig());
        if (code.empty()) return;
        const std::wstring why = PatchHistoryFile(code).whyNotWritable();
        if (!why.empty()) finding(L"history", why);
    }

    void judgeSpace() {
        for (const auto& [drive, bytes] : needed_) {
            std::uint64_t available = 0;
            const std::wstring root = std::wstring(1, drive) + L":\\";
            if (!win::diskFreeSpace(root, available) || bytes <= available) continue;
            finding(L"drive " + std::wstring(1, drive) + L":",
                    win::format(
                        L"too little free space for the new files and the backups (%s bytes needed, %s free)",
                        std::to_wstring(bytes), std::to_wstring(available)));
        }
    }

    const std::wstring installDir_;
    const std::wstring language_;
    PlanProbe files_;
    PlannedKeys keys_;
    std::set<win::DWORD> serviceProcesses_;
    std::set<std::wstring> backups_;
    std::map<wchar_t, std::uint64_t> needed_;
    PreflightReport report_;
};

}  // namespace

PreflightReport runPreflight(const ExpatDOM& manifest, const std::wstring& installDir,
                             const std::wstring& language) {
    logInfo(L"Pre-flight: judging every entry before the first change.");
    PreflightReport report = Preflight(installDir, language).run(manifest);
    if (report.passed()) {
        logInfo(L"Pre-flight: every entry can be carried out.");
    } else {
        logInfo(L"Pre-flight: %s entries cannot be carried out. Nothing was changed.",
                std::to_wstring(report.findings.size()));
    }
    logFlush();
    return report;
}

void setCheckOnly(bool on) {
    g_checkOnly = on;
}

bool checkOnly() {
    return g_checkOnly;
}

}  // namespace mw
