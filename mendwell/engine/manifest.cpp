#include "mendwell/engine/manifest.h"

#include "mendwell/base/patchlog.h"

namespace mw {

namespace {

const XMLDocumentNode* child(const XMLDocumentNode& node, std::wstring_view name) {
    for (const auto& c : node.children()) {
        if (c->name() == name) return c.get();
    }
    return nullptr;
}

std::wstring childText(const XMLDocumentNode& node, std::wstring_view name, const wchar_t* fallback = L"") {
    const XMLDocumentNode* c = child(node, name);
    return c ? c->text() : std::wstring(fallback);
}

// The text of the first `item` child whose lang attribute is `language`, else the element's
// `fallbackAttribute`.
std::wstring localized(const XMLDocumentNode& element, std::wstring_view item, const std::wstring& language,
                       std::wstring_view fallbackAttribute) {
    for (const auto& c : element.children()) {
        if (c->name() == item && c->hasAttribute(L"lang") && c->attribute(L"lang") == language) {
            return c->text();
        }
    }
    return element.attribute(fallbackAttribute);
}

// dir + "\" + the file name for the language; empty when there is no name for it.
std::wstring localizedPath(const XMLDocumentNode& element, const std::wstring& language) {
    const std::wstring name = localized(element, L"FileName", language, L"defName");
    if (name.empty()) return {};
    std::wstring dir = element.attribute(L"dir");
    if (!dir.empty() && (dir.back() == L'\\' || dir.back() == L'/')) dir.pop_back();
    return dir + L"\\" + name;
}

}  // namespace

bool hasMandatoryFileTags(const XMLDocumentNode& file) {
    return child(file, L"Operation") && child(file, L"ObjectName") && child(file, L"DestinationPath");
}

FileEntryRead readFileRecord(const XMLDocumentNode& file, const std::wstring& language, bool rollbackMode,
                             FileRecord& record) {
    record = FileRecord{};
    if (!hasMandatoryFileTags(file)) return FileEntryRead::missingTags;
    record.operation = childText(file, L"Operation");
    record.objectName = childText(file, L"ObjectName");
    const XMLDocumentNode& destination = *child(file, L"DestinationPath");
    const XMLDocumentNode* rename = child(file, L"RenamePath");
    record.defaultFileName = destination.attribute(L"defName");
    if (rollbackMode) {
        record.destinationPath = destination.text();
        if (rename) record.renamePath = rename->text();
        record.readOnly = childText(file, L"ReadOnly", L"");
        record.lastWrite = childText(file, L"LastWrite", L"");
    } else {
        record.destinationPath = localizedPath(destination, language);
        if (record.destinationPath.empty()) {
            logInfo(L"file destination path could not be found from the manifest.xml. ignoring the file.");
            return FileEntryRead::otherLanguage;
        }
        if (rename) {
            record.renamePath = localizedPath(*rename, language);
            if (record.renamePath.empty()) {
                logInfo(L"file rename path could not be found from the manifest.xml. ignoring the file");
                return FileEntryRead::otherLanguage;
            }
        }
    }
    if (const XMLDocumentNode* checksum = child(file, L"Checksum")) {
        record.beforePatch = childText(*checksum, L"BeforePatch");
        record.afterPatch = childText(*checksum, L"AfterPatch");
    }
    record.touch = childText(file, L"Touch", L"false");
    record.ascii = childText(file, L"ascii", L"true");
    return FileEntryRead::ok;
}

DirectoryRecord readDirectoryRecord(const XMLDocumentNode& directory) {
    DirectoryRecord record;
    record.operation = childText(directory, L"Operation");
    record.directoryBase = childText(directory, L"DirectoryBase");
    record.subDirectoryTree = childText(directory, L"SubDirectoryTree");
    return record;
}

RegistryRecord readRegistryRecord(const XMLDocumentNode& pds, const std::wstring& language) {
    RegistryRecord record;
    record.operation = childText(pds, L"Operation");
    record.root = childText(pds, L"Root");
    record.keyPath = childText(pds, L"KeyPath");
    record.keyName = childText(pds, L"KeyName");
    record.dataType = childText(pds, L"DataType");
    record.subtree = childText(pds, L"SubRegistryTree");
    record.rawType = childText(pds, L"RawType");
    record.rawData = childText(pds, L"RawData");
    if (const XMLDocumentNode* value = child(pds, L"Value")) {
        record.value = record.operation == L"remove" ? value->attribute(L"defValue")
                                                     : localized(*value, L"RegValue", language, L"defValue");
    }
    return record;
}

ServiceRecord readServiceRecord(const XMLDocumentNode& service) {
    ServiceRecord record;
    record.operation = childText(service, L"Operation");
    record.filePath = childText(service, L"FilePath");
    record.serviceName = childText(service, L"ServiceName");
    record.startElevated = childText(service, L"StartElevated");
    if (const XMLDocumentNode* list = child(service, L"ArgumentList")) {
        for (const auto& c : list->children()) {
            if (c->name() == L"Argument") record.arguments.push_back(c->text());
        }
    }
    return record;
}

AddRemoveRecord readAddRemoveRecord(const XMLDocumentNode& info) {
    auto value = [&info](std::wstring_view name) {
        const XMLDocumentNode* element = child(info, name);
        return element ? childText(*element, L"Value") : std::wstring();
    };
    AddRemoveRecord record;
    record.displayName = value(L"DisplayName");
    record.displayVersion = value(L"DisplayVersion");
    record.supportPhoneNumber = value(L"SupportPhoneNumber");
    record.publisher = value(L"Publisher");
    record.comment = value(L"Comment");
    record.supportURL = value(L"SupportURL");
    return record;
}

std::wstring manifestShapeProblem(const XMLDocumentNode& root) {
    if (root.name() != L"Manifest") return L"the root element is <" + root.name() + L">, not <Manifest>";
    // Each set with the entry element it holds; AddRemoveInfo holds values and BundleSet is not read.
    static const std::pair<const wchar_t*, const wchar_t*> kSets[] = {
        {L"FileSet", L"File"},       {L"DirectorySet", L"Directory"}, {L"PDSSet", L"PDS"},
        {L"ServiceSet", L"Service"}, {L"AddRemoveInfo", nullptr},     {L"BundleSet", nullptr},
    };
    for (const auto& set : root.children()) {
        const wchar_t* entry = L"";
        for (const auto& [name, child] : kSets)
            if (set->name() == name) entry = child;
        if (entry && !*entry) return L"<" + set->name() + L"> is not a set of the manifest";
        if (!entry) continue;
        for (const auto& element : set->children())
            if (element->name() != entry)
                return L"<" + element->name() + L"> in <" + set->name() + L"> is not a <" + entry +
                       L"> entry";
    }
    return {};
}

}  // namespace mw
