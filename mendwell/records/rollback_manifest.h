// RollbackManifest.xml: the undo entries of one run, in the patch manifest's own element schema, so that
// the rollback run reads it with the manifest readers.
#pragma once
#include <string>

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

    // The sets undo entries are appended to, e.g. fileSet().appendElement(L"File").
    win::xml::Node fileSet() const;
    win::xml::Node directorySet() const;
    win::xml::Node pdsSet() const;
    win::xml::Document& document() { return doc_; }

    // Appends one undo entry, just recorded in a set, to the journal beside the file (its path followed by
    // ".journal"): one UTF-8 line of XML per entry, written at once, so that a patcher that dies in the
    // middle of a run leaves every change made so far on disk. Linear in the number of entries.
    bool journal(const win::xml::Node& entry);
    std::wstring journalPath() const { return path_ + L".journal"; }

    // Writes the file the first time it succeeds; later calls do nothing and return true.
    bool save();
    bool isSaved() const { return saved_; }

  private:
    std::wstring path_;
    win::xml::Document doc_;
    bool saved_ = false;
    win::File journal_;
};

}  // namespace mw
