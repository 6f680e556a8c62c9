// The manifest model: the records read from manifest.xml and from the rollback manifest, and the readers
// that build them from the document tree one entry at a time.
#pragma once
#include <string>
#include <vector>

#include "mendwell/base/fast_xml_parser.h"

namespace mw {

// Element paths of the sets, from the root.
inline constexpr const wchar_t* kFileSetPath = L"Manifest/FileSet/File";
inline constexpr const wchar_t* kDirectorySetPath = L"Manifest/DirectorySet/Directory";
inline constexpr const wchar_t* kPdsSetPath = L"Manifest/PDSSet/PDS";
inline constexpr const wchar_t* kServiceSetPath = L"Manifest/ServiceSet/Service";
inline constexpr const wchar_t* kAddRemoveInfoPath = L"Manifest/AddRemoveInfo";

struct FileRecord {
    std::wstring operation{};        // add, rename, remove, blindoverwrite, patch, overwrite, touch
    std::wstring objectName{};       // payload file name in the staging area
    std::wstring destinationPath{};  // resolved as the run's mode says; tokens still in place
    std::wstring renamePath{};
    std::wstring beforePatch{};  // MD5 text, or empty
    std::wstring afterPatch{};
    std::wstring touch = L"false";
    std::wstring defaultFileName{};
    std::wstring ascii = L"true";
    // Undo entries of a rename or touch only: "true" when the file was read-only before the entry.
    std::wstring readOnly{};
    // Undo entries of a touch only: the last-write time (decimal FILETIME) it had before.
    std::wstring lastWrite{};
};

struct DirectoryRecord {
    std::wstring operation;  // add, remove
    std::wstring directoryBase;
    std::wstring subDirectoryTree;
};

struct RegistryRecord {
    std::wstring operation;  // add, remove
    std::wstring root;       // HKCR, HKLM, HKCU, HKUSERS, HKCC
    std::wstring keyPath;
    std::wstring keyName;  // the value's name
    std::wstring value;
    std::wstring dataType;
    std::wstring subtree;
    // Undo entries only: restore exact data. rawType is a type number with rawData as hexadecimal bytes,
    // or "key" to create the key alone. Empty in manifests.
    std::wstring rawType;
    std::wstring rawData;
};

struct ServiceRecord {
    std::wstring operation;  // stop, start
    std::wstring filePath;
    std::wstring serviceName;
    std::wstring startElevated;
    std::vector<std::wstring> arguments;
};

struct AddRemoveRecord {
    std::wstring displayName;
    std::wstring displayVersion;
    std::wstring supportPhoneNumber;
    std::wstring publisher;
    std::wstring comment;
    std::wstring supportURL;
};

// What makes a document no patch manifest: a root other than Manifest, a set the run does not know, or
// an element inside a set that is not its entry (misspelt, the run would pass it over). "" when sound.
std::wstring manifestShapeProblem(const XMLDocumentNode& root);

// Reading one entry. Values are the text of the first child of a name; a missing optional child gives
// the record's default. Paths and registry data keep their tokens: the pass that uses them resolves them.

// Operation, ObjectName and DestinationPath present.
bool hasMandatoryFileTags(const XMLDocumentNode& file);

enum class FileEntryRead {
    ok,
    missingTags,    // Operation, ObjectName or DestinationPath absent
    otherLanguage,  // no file name for the install language: the entry is not for this product
};
// Normal mode picks the file names of DestinationPath and RenamePath by `language` (FileName children,
// else defName) and joins them to `dir`; rollback mode takes the elements' text as recorded.
FileEntryRead readFileRecord(const XMLDocumentNode& file, const std::wstring& language, bool rollbackMode,
                             FileRecord& record);

DirectoryRecord readDirectoryRecord(const XMLDocumentNode& directory);
// The value is chosen by `language` (RegValue children, else defValue) except for "remove" entries.
RegistryRecord readRegistryRecord(const XMLDocumentNode& pds, const std::wstring& language);
ServiceRecord readServiceRecord(const XMLDocumentNode& service);
AddRemoveRecord readAddRemoveRecord(const XMLDocumentNode& info);

}  // namespace mw
