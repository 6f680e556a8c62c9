#include "mendwell/records/rollback_manifest.h"

#include "mendwell/shell/patchlog.h"
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

win::xml::Node RollbackManifestFile::fileSet() const {
    return doc_.root().firstChild(L"FileSet");
}
win::xml::Node RollbackManifestFile::directorySet() const {
    return doc_.root().firstChild(L"DirectorySet");
}
win::xml::Node RollbackManifestFile::pdsSet() const {
    return doc_.root().firstChild(L"PDSSet");
}

bool RollbackManifestFile::journal(const win::xml::Node& entry) {
    if (!journal_.isOpen() &&
        !journal_.open(journalPath(), win::access::write, win::share::read, win::Disposition::createAlways)) {
        logWarning(L"Unable to write the rollback journal: %s", journalPath());
        return false;
    }
    // One entry per line: line breaks inside values become character references, which read back the same.
    std::wstring line;
    for (wchar_t c : entry.toString()) {
        if (c == L'\n')
            line += L"&#xA;";
        else if (c == L'\r')
            line += L"&#xD;";
        else
            line += c;
    }
    const std::string bytes = win::toUtf8(line) + "\n";
    return journal_.write(bytes.data(), bytes.size());
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

}  // namespace mw
