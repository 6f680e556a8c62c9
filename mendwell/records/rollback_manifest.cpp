#include "mendwell/records/rollback_manifest.h"

#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/text/text.h"

namespace mw {

const wchar_t* const kRecordXmlDeclaration = L"version='1.0' encoding='UTF-16'";

RollbackManifestFile::RollbackManifestFile(std::wstring path) : path_(std::move(path)) {
    logCritical(L"new rollbackXMLFile");
    if (!doc_.create(L"Manifest")) {
        logError(L"Unable to create the rollback manifest: %s", doc_.error());
        return;
    }
    doc_.insertCommentBeforeRoot(L"TVR generated RollbackManifest.XML file");
    win::xml::Node root = doc_.root();
    root.appendElement(L"FileSet");
    root.appendElement(L"DirectorySet");
    root.appendElement(L"PDSSet");
    logInfo(L"Rollback Manifest is created at: %s", path_);
}

win::xml::Node RollbackManifestFile::currentSet(std::wstring_view name) const {
    return (capturing_ ? pending_ : doc_).root().firstChild(name);
}

win::xml::Node RollbackManifestFile::fileSet() const {
    return currentSet(L"FileSet");
}
win::xml::Node RollbackManifestFile::directorySet() const {
    return currentSet(L"DirectorySet");
}
win::xml::Node RollbackManifestFile::pdsSet() const {
    return currentSet(L"PDSSet");
}
win::xml::Node RollbackManifestFile::serviceSet() {
    win::xml::Node set = currentSet(L"ServiceSet");
    if (!set) set = (capturing_ ? pending_ : doc_).root().prependElement(L"ServiceSet");
    return set;
}

namespace {

std::string journalLine(const std::wstring& xml) {
    // One entry per line: line breaks inside values become character references, which read back the same.
    std::wstring line;
    for (wchar_t c : xml) {
        if (c == L'\n')
            line += L"&#xA;";
        else if (c == L'\r')
            line += L"&#xD;";
        else
            line += c;
    }
    return win::toUtf8(line) + "\n";
}

std::string journalHeader(const std::wstring& installFolder) {
    win::xml::Document header;
    if (header.create(L"Run") && header.root().setAttribute(L"InstallDir", installFolder))
        return win::toUtf8(header.root().toString()) + "\n";
    return {};
}

}  // namespace

bool RollbackManifestFile::writeJournalLine(const std::wstring& xml) {
    if (!journal_.isOpen()) {
        if (!journal_.open(journalPath(), win::access::write, win::share::read,
                           win::Disposition::createAlways)) {
            logWarning(L"Unable to write the rollback journal: %s", journalPath());
            return false;
        }
        const std::string header = journalHeader(installFolder_);
        journal_.write(header.data(), header.size());
    }
    const std::string bytes = journalLine(xml);
    return journal_.write(bytes.data(), bytes.size());
}

bool RollbackManifestFile::journal(const win::xml::Node& entry) {
    // Entries recorded into a pending record reach the journal with it, in endPending.
    if (capturing_) return true;
    return writeJournalLine(entry.toString());
}

void RollbackManifestFile::beginPending() {
    pending_.close();
    pendingWritten_ = false;
    if (!pending_.create(L"Pending")) return;
    win::xml::Node root = pending_.root();
    root.appendElement(L"FileSet");
    root.appendElement(L"DirectorySet");
    root.appendElement(L"PDSSet");
    capturing_ = true;
}

void RollbackManifestFile::endPending() {
    if (!capturing_) return;
    capturing_ = false;
    bool any = false;
    for (const win::xml::Node& set : pending_.root().children()) any = any || !set.children().empty();
    // Nothing to repair, nothing to write: an entry that cannot change anything costs no line.
    if (any) pendingWritten_ = writeJournalLine(pending_.root().toString());
}

void RollbackManifestFile::settle() {
    capturing_ = false;
    if (pendingWritten_) writeJournalLine(L"<Settled/>");
    pendingWritten_ = false;
    pending_.close();
}

void RollbackManifestFile::keepPending() {
    capturing_ = false;
    if (pending_.isOpen()) {
        // Newest first, as every undo entry: the pending ones repair the last change made.
        for (const win::xml::Node& set : pending_.root().children()) {
            win::xml::Node into = doc_.root().firstChild(set.name());
            if (!into) into = doc_.root().prependElement(set.name());
            std::vector<win::xml::Node> entries = set.children();
            for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
                win::xml::Node copy = into.prependElement(it->name());
                for (const win::xml::Node& child : it->children()) copy.appendCopy(child);
            }
        }
    }
    // The journal keeps the pending line unsettled: a recovery repairs the entry the same way.
    pendingWritten_ = false;
    pending_.close();
}

bool RollbackManifestFile::journalHistory(const std::wstring& path, const std::wstring& kept) {
    win::xml::Document line;
    if (!line.create(L"History") || !line.root().setAttribute(L"Path", path) ||
        !line.root().setAttribute(L"Kept", kept))
        return false;
    return writeJournalLine(line.root().toString());
}

void RollbackManifestFile::discardJournal() {
    if (journal_.isOpen()) journal_.close();
    win::deleteFile(journalPath());
}

bool RollbackManifestFile::save() {
    if (saved_) return true;
    // A failed write is tried again by the next call rather than losing the undo entries.
    if (!doc_.save(path_, kRecordXmlDeclaration)) {
        logError(L"Unable to save the rollback manifest: %s", doc_.error());
        return false;
    }
    saved_ = true;
    return true;
}

bool readJournal(const std::wstring& journalPath, JournalReplay& replay) {
    std::string bytes;
    if (!win::readFile(journalPath, bytes)) return false;
    std::vector<win::xml::Document> lines;  // entries in the order they were recorded
    std::vector<win::xml::Document> pending;
    auto keepPendingEntries = [&] {
        for (win::xml::Document& doc : pending) lines.push_back(std::move(doc));
        pending.clear();
    };
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        const std::string_view line(bytes.data() + at, end - at);
        at = end + 1;
        if (line.empty()) continue;
        win::xml::Document doc;
        if (!doc.parse(line)) {
            ++replay.skippedLines;
            continue;
        }
        const std::wstring name = doc.root().name();
        if (name == L"Run") {
            replay.installFolder = doc.root().attribute(L"InstallDir");
        } else if (name == L"History") {
            replay.historyPath = doc.root().attribute(L"Path");
            replay.historyKept = doc.root().attribute(L"Kept");
        } else if (name == L"Settled") {
            pending.clear();
        } else if (name == L"Pending") {
            // An entry that failed keeps its pending line unsettled; the next one does not cancel it.
            keepPendingEntries();
            // Its entries are newest first already; the lines are read back to front below, so they go in
            // back to front here, to be undone in the same order as by the run's own rollback.
            for (const win::xml::Node& set : doc.root().children()) {
                const std::vector<win::xml::Node> entries = set.children();
                for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
                    const win::xml::Node& entry = *it;
                    win::xml::Document one;
                    if (!one.create(entry.name())) continue;
                    for (const win::xml::Node& child : entry.children()) one.root().appendCopy(child);
                    pending.push_back(std::move(one));
                }
            }
        } else {
            lines.push_back(std::move(doc));
        }
    }
    keepPendingEntries();

    win::xml::Document& out = replay.manifest;
    if (!out.create(L"Manifest")) return false;
    out.insertCommentBeforeRoot(L"TVR generated RollbackManifest.XML file");
    const std::pair<const wchar_t*, const wchar_t*> sets[] = {
        {L"File", L"FileSet"}, {L"Directory", L"DirectorySet"}, {L"PDS", L"PDSSet"}, {L"Service", L"ServiceSet"}};
    for (const auto& [entry, set] : sets) out.root().appendElement(set);
    // Newest first, as the run itself keeps them.
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
        const std::wstring name = it->root().name();
        for (const auto& [entry, set] : sets) {
            if (name != entry) continue;
            win::xml::Node copy = out.root().firstChild(set).appendElement(entry);
            for (const win::xml::Node& child : it->root().children()) copy.appendCopy(child);
            ++replay.entries;
        }
    }
    return true;
}

bool keepJournalEntries(const std::wstring& manifestPath, const std::wstring& installFolder,
                        const std::vector<JournalEntryRef>& keep) {
    const std::wstring journalPath = manifestPath + L".journal";
    if (keep.empty()) return win::deleteFile(journalPath) || !win::pathExists(journalPath);
    win::xml::Document manifest;
    if (!manifest.load(manifestPath)) return false;
    std::vector<std::wstring> lines;
    for (const JournalEntryRef& ref : keep) {
        const win::xml::Node set = manifest.root().firstChild(ref.set);
        if (!set) continue;
        const std::vector<win::xml::Node> entries = set.children();
        if (ref.index >= 0 && static_cast<std::size_t>(ref.index) < entries.size())
            lines.push_back(entries[ref.index].toString());
    }
    // The manifest keeps the newest first; the journal is written in the order the changes were made.
    std::string bytes = journalHeader(installFolder);
    for (auto it = lines.rbegin(); it != lines.rend(); ++it) bytes += journalLine(*it);
    win::File journal;
    if (!journal.open(journalPath, win::access::write, win::share::read, win::Disposition::createAlways))
        return false;
    return journal.write(bytes.data(), bytes.size());
}

}  // namespace mw
