#include "mendwell/records/patch_history.h"

#include <algorithm>
#include <cstdint>

#include "mendwell/records/rollback_manifest.h"
#include "mendwell/records/tally_session.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"
#include "platform/text/format.h"

namespace mw {

namespace {

void createFolders(const std::wstring& folder) {
    if (folder.size() <= 3 || win::isDirectory(folder)) return;
    createFolders(win::parentPart(folder));
    win::createDirectory(folder);
}

}  // namespace

PatchHistoryFile::PatchHistoryFile(std::wstring productCode)
    : code_(std::move(productCode)), path_(pathFor(code_)) {}

std::wstring PatchHistoryFile::pathFor(std::wstring_view productCode) {
    std::wstring common;
    win::shellFolder(win::csidl::programFilesCommon, common);
    return common + L"\\Orvex\\Installers\\" + std::wstring(productCode) + L".patch";
}

bool PatchHistoryFile::exists() const {
    return win::pathExists(path_) && !win::isDirectory(path_);
}

bool PatchHistoryFile::load() {
    damaged_ = false;
    doc_.close();
    if (!exists()) return false;
    if (doc_.load(path_) && doc_.root().name() == L"TVRHistory") return true;
    doc_.close();
    damaged_ = true;
    logWarning(L"The history file %s cannot be read and is treated as absent.", path_);
    return false;
}

std::wstring PatchHistoryFile::entryCount() const {
    return std::to_wstring(doc_.select(L"//TVRHistory//Patcher").size());
}

namespace {

// A SequenceID as a number; one that is not a number counts as 0.
std::uint64_t sequenceOf(const win::xml::Node& entry) {
    const std::wstring id = entry.attribute(L"SequenceID");
    if (id.empty() || id.size() > 18 || id.find_first_not_of(L"0123456789") != std::wstring::npos) return 0;
    return std::stoull(id);
}

}  // namespace

win::xml::Node PatchHistoryFile::latestEntry() const {
    // The highest SequenceID, not the count: stored files may have gaps in their numbering.
    win::xml::Node latest;
    std::uint64_t highest = 0;
    for (const win::xml::Node& entry : doc_.select(L"//TVRHistory//Patcher")) {
        const std::uint64_t sequence = sequenceOf(entry);
        if (sequence > 0 && sequence >= highest) {
            highest = sequence;
            latest = entry;
        }
    }
    return latest;
}

std::uint64_t PatchHistoryFile::highestSequence() const {
    std::uint64_t highest = 0;
    for (const win::xml::Node& entry : doc_.select(L"//TVRHistory//Patcher"))
        highest = std::max(highest, sequenceOf(entry));
    return highest;
}

std::wstring PatchHistoryFile::latestValue(std::wstring_view child) const {
    return latestEntry().firstChild(child).text();
}

std::wstring PatchHistoryFile::latestPatcherId() const {
    return latestEntry().attribute(L"PatcherID");
}

std::wstring PatchHistoryFile::tsInstalled() const {
    return doc_.root().attribute(L"tsInstalled");
}
std::wstring PatchHistoryFile::tsModified() const {
    return doc_.root().attribute(L"tsModified");
}

bool PatchHistoryFile::appendEntry(win::xml::Node root, const std::wstring& sequence,
                                   const PatcherConfigRecord& config,
                                   const std::wstring& rollbackManifestPath) {
    win::xml::Node entry = root.appendElement(L"Patcher");
    if (!entry) return false;
    entry.setAttribute(L"SequenceID", sequence);
    entry.setAttribute(L"PatcherID", config.patcherId);
    entry.appendElement(L"OldVersion", config.oldVersion);
    entry.appendElement(L"NewVersion", config.newVersion);
    entry.appendElement(L"OrvexCode", code_);
    entry.appendElement(L"ProductName", config.productName);
    entry.appendElement(L"ProductFamily", config.productFamily);
    win::xml::Document rollback;
    if (rollback.load(rollbackManifestPath) && rollback.root().name() == L"Manifest") {
        entry.appendCopy(rollback.root());
    } else {
        logError(L"Error reading the rollback manifest file from temp directory.");
        entry.appendComment(L"no rollback manifest info available");
    }
    return true;
}

bool PatchHistoryFile::record(const PatcherConfigRecord& config, const std::wstring& rollbackManifestPath) {
    std::wstring tsInstalledText;
    std::wstring tsModifiedText;
    {
        TallySession session;
        std::wstring collection = session.queryCollectionId(tallyId(code_));
        if (!collection.empty()) {
            if (auto ts = session.queryTimestamps(tallyId(collection))) {
                tsInstalledText = win::format(L"%d", ts->tsInstalled);
                tsModifiedText = win::format(L"%d", ts->tsModified);
            }
        }
    }

    load();
    if (damaged_) {
        // Never lose what the damaged file still holds: keep it for whoever looks into it later.
        std::wstring aside = path_ + L".bad";
        if (!win::moveFile(path_, aside, win::moveflag::replaceExisting)) {
            logError(L"The damaged history file %s cannot be moved aside (error %d); it is left as it is.",
                     path_, win::lastError());
            return false;
        }
        logWarning(L"The damaged history file is kept as %s and a new one is created.", aside);
        damaged_ = false;
    }

    if (isLoaded()) {
        if (latestPatcherId() == config.patcherId) {
            logInfo(L"The history file already records this patch: %s", path_);
            return true;
        }
        std::wstring sequence = std::to_wstring(highestSequence() + 1);
        if (!appendEntry(doc_.root(), sequence, config, rollbackManifestPath)) return false;
    } else {
        if (!doc_.create(L"TVRHistory")) {
            logError(L"Unable to create the history file: %s", doc_.error());
            return false;
        }
        doc_.insertCommentBeforeRoot(L"TVR generated OrvexCode.patch XML file");
        win::xml::Node root = doc_.root();
        root.setAttribute(L"tsInstalled", tsInstalledText);
        root.setAttribute(L"tsModified", tsModifiedText);
        if (!appendEntry(root, L"1", config, rollbackManifestPath)) return false;
    }

    createFolders(win::parentPart(path_));
    if (!doc_.save(path_, kRecordXmlDeclaration)) {
        logError(L"Unable to write the history file: %s", doc_.error());
        return false;
    }
    logInfo(L"The history file is written at: %s", path_);
    return true;
}

std::wstring PatchHistoryFile::whyNotWritable() const {
    if (win::pathExists(path_)) {
        if (win::isDirectory(path_)) return L"the history file " + path_ + L" is a folder";
        if (win::getFileAttributes(path_) & win::attr::readOnly)
            return L"the history file " + path_ + L" is read-only";
        return {};
    }
    // The folders are made as needed: the first one that exists must be a folder.
    for (std::wstring folder = win::parentPart(path_); folder.size() > 3; folder = win::parentPart(folder)) {
        if (!win::pathExists(folder)) continue;
        if (!win::isDirectory(folder))
            return L"the history file's folder cannot be made: " + folder + L" is a file";
        break;
    }
    return {};
}

bool PatchHistoryFile::remove() {
    doc_.close();
    return win::deleteFile(path_);
}

}  // namespace mw
