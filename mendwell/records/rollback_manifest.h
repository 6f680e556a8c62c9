// RollbackManifest.xml: the undo entries of one run, in the patch manifest's own element schema, so that
// the rollback run reads it with the manifest readers.
#pragma once
#include <string>
#include <vector>

#include "platform/fs/file.h"
#include "platform/xmldom/xmldom.h"

namespace mw {

// The declaration both record files are saved with.
extern const wchar_t* const kRecordXmlDeclaration;

class RollbackManifestFile {
  public:
    // Builds the empty document (comment, Manifest with FileSet, DirectorySet and PDSSet) for `path`.
    explicit RollbackManifestFile(std::wstring path);
    RollbackManifestFile(const RollbackManifestFile&) = delete;
    RollbackManifestFile& operator=(const RollbackManifestFile&) = delete;

    const std::wstring& path() const { return path_; }
    bool isOpen() const { return doc_.isOpen(); }

    // The sets undo entries are appended to, e.g. fileSet().appendElement(L"File"). While a pending
    // record is being made they are the sets of that record instead.
    win::xml::Node fileSet() const;
    win::xml::Node directorySet() const;
    win::xml::Node pdsSet() const;
    win::xml::Node serviceSet();
    win::xml::Document& document() { return doc_; }

    // Appends one undo entry, just recorded in a set, to the journal beside the file (its path followed by
    // ".journal"): one UTF-8 line of XML per entry, written at once, so that a patcher that dies in the
    // middle of a run leaves every change made so far on disk. Linear in the number of entries.
    bool journal(const win::xml::Node& entry);
    std::wstring journalPath() const { return path_ + L".journal"; }
    // Named on the journal's first line, for the log of a later recovery.
    void setInstallFolder(std::wstring folder) { installFolder_ = std::move(folder); }

    // Write-ahead records. An entry about to act first records, between beginPending and endPending,
    // the undo entries that would repair it if the run died half-way (they go to the journal as one
    // "Pending" line before the entry acts); it ends with settle (its own undo entries, if it did
    // anything, are on record) or, when it failed, with keepPending (the pending entries join the
    // rollback manifest, so the rollback repairs whatever the entry half did).
    void beginPending();
    bool capturing() const { return capturing_; }
    void endPending();
    void settle();
    void keepPending();

    // Before the run writes the history file `path`: where its former content is kept (empty when
    // there was none), so that a recovery that rolls the run back puts it back.
    bool journalHistory(const std::wstring& path, const std::wstring& kept);
    // The run ended with the product in a known state (patched, or rolled back): the journal goes.
    void discardJournal();
    // Writes the file the first time it succeeds; later calls do nothing and return true.
    bool save();
    bool isSaved() const { return saved_; }

  private:
    bool writeJournalLine(const std::wstring& xml);
    win::xml::Node currentSet(std::wstring_view name) const;

    std::wstring path_;
    std::wstring installFolder_;
    win::xml::Document pending_;
    bool capturing_ = false;
    bool pendingWritten_ = false;
    win::xml::Document doc_;
    bool saved_ = false;
    win::File journal_;
};

// A journal read back: the undo entries of a run that did not finish, newest first in their sets, with
// the pending entries of an entry that had not settled among them. Lines that do not read (the one
// being written when the patcher died) are skipped.
struct JournalReplay {
    std::wstring installFolder;
    std::wstring historyPath;  // a history file the run may have written, and its former content's copy
    std::wstring historyKept;
    int entries = 0;
    int skippedLines = 0;
    win::xml::Document manifest;  // Manifest with FileSet, DirectorySet, PDSSet and ServiceSet
};
bool readJournal(const std::wstring& journalPath, JournalReplay& replay);

// Rewrites the journal beside the rollback manifest at `manifestPath` with only the named entries of
// that manifest (set element name, index in the set); none named: the journal goes. False when the
// manifest cannot be read or the journal cannot be written.
struct JournalEntryRef {
    std::wstring set;
    int index = 0;
};
bool keepJournalEntries(const std::wstring& manifestPath, const std::wstring& installFolder,
                        const std::vector<JournalEntryRef>& keep);

}  // namespace mw
