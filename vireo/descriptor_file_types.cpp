// The descriptor's file types (`fileTypes`/`fileType`) and the icons packaging collects.
#include <array>
#include <cstring>
#include <cwchar>
#include <utility>

#include "platform/text/text.h"
#include "vireo/descriptor.h"
#include "vireo/descriptor_state.h"

namespace vireo {

namespace x = xercesc;

namespace {

constexpr std::array<const wchar_t*, 4> kIconSizes = {L"image16x16", L"image32x32", L"image48x48",
                                                      L"image128x128"};

std::wstring fromWide(const wchar_t* field, std::size_t capacity) {
    return std::wstring(field, ::wcsnlen(field, capacity));
}

template <std::size_t N>
void toField(const std::wstring& text, char (&field)[N]) {
    setField(field, N, text);
}

template <std::size_t N>
void toWide(const std::wstring& text, wchar_t (&field)[N]) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::wmemcpy(field, text.data(), n);
    field[n] = L'\0';
}

// The record's icon fields by element name.
std::array<std::pair<const wchar_t*, std::wstring>, 4> iconFields(const FileTypeRecord& r) {
    return {{{L"image16x16", fieldText(r.image16x16, sizeof r.image16x16)},
             {L"image32x32", fieldText(r.image32x32, sizeof r.image32x32)},
             {L"image48x48", fieldText(r.image48x48, sizeof r.image48x48)},
             {L"image128x128", fieldText(r.image128x128, sizeof r.image128x128)}}};
}

int withDocument(x::DOMDocument*& doc) {
    bool hasParser = false;
    doc = currentDescriptor(&hasParser);
    if (!hasParser) return -1;
    return doc ? 0 : 1;
}

std::vector<x::DOMElement*> fileTypes(x::DOMElement* list) {
    std::vector<x::DOMElement*> out;
    if (!list) return out;
    for (x::DOMElement* c = list->getFirstElementChild(); c; c = c->getNextElementSibling())
        if (fromX(c->getTagName()) == L"fileType") out.push_back(c);
    return out;
}

x::DOMElement* findFileType(x::DOMDocument* doc, std::wstring_view name, bool trim) {
    for (x::DOMElement* type : fileTypes(firstElement(doc, L"fileTypes"))) {
        std::wstring text = textOf(childElement(type, L"name"));
        if ((trim ? trimmed(text) : text) == (trim ? trimmed(name) : std::wstring(name))) return type;
    }
    return nullptr;
}

void appendRecord(x::DOMElement* list, const FileTypeRecord& r) {
    x::DOMElement* type = appendElement(list, L"fileType");
    const std::pair<const wchar_t*, std::wstring> texts[] = {
        {L"name", fieldText(r.name, sizeof r.name)},
        {L"extension", fieldText(r.extension, sizeof r.extension)},
        {L"description", fromWide(r.description, 256)},
        {L"contentType", fromWide(r.contentType, 256)}};
    for (const auto& [name, text] : texts) {
        x::DOMElement* e = appendElement(type, name);
        if (!text.empty()) setText(e, text);
    }
    x::DOMElement* icon = appendElement(type, L"icon");
    for (const auto& [name, text] : iconFields(r))
        if (!text.empty()) setText(appendElement(icon, name), text);
}

void setOrCreate(x::DOMElement* parent, const wchar_t* name, const std::wstring& text) {
    x::DOMElement* e = childElement(parent, name);
    if (!e) e = appendElement(parent, name);
    setText(e, text);
}

}  // namespace

std::wstring fieldText(const char* field, std::size_t capacity) {
    return win::fromUtf8(std::string_view(field, ::strnlen(field, capacity)));
}

void setField(char* field, std::size_t capacity, std::wstring_view text) {
    win::toUtf8(text, field, capacity);
}

int listFileTypes(std::wstring& list) {
    list.clear();
    x::DOMDocument* doc = nullptr;
    if (int rc = withDocument(doc)) return rc;
    x::DOMElement* types = firstElement(doc, L"fileTypes");
    if (!types) return 2;
    for (x::DOMElement* type : fileTypes(types)) {
        list += L";" + textOf(childElement(type, L"name"));
        if (x::DOMElement* extension = childElement(type, L"extension"))
            list += L"(" + textOf(extension) + L")";
    }
    if (!list.empty()) list += L";";
    return 0;
}

int listFileTypeNames(std::vector<std::wstring>& names) {
    names.clear();
    x::DOMDocument* doc = nullptr;
    if (int rc = withDocument(doc)) return rc;
    x::DOMElement* types = firstElement(doc, L"fileTypes");
    if (!types) return 2;
    for (x::DOMElement* type : fileTypes(types)) names.push_back(textOf(childElement(type, L"name")));
    return 0;
}

int readFileType(std::wstring_view name, FileTypeRecord& record) {
    x::DOMDocument* doc = nullptr;
    if (int rc = withDocument(doc)) return rc;
    x::DOMElement* type = findFileType(doc, name, false);
    if (!type) return 2;
    toField(textOf(childElement(type, L"extension")), record.extension);
    toWide(textOf(childElement(type, L"description")), record.description);
    toWide(textOf(childElement(type, L"contentType")), record.contentType);
    x::DOMElement* icon = childElement(type, L"icon");
    toField(textOf(childElement(icon, L"image128x128")), record.image128x128);
    toField(textOf(childElement(icon, L"image48x48")), record.image48x48);
    toField(textOf(childElement(icon, L"image32x32")), record.image32x32);
    toField(textOf(childElement(icon, L"image16x16")), record.image16x16);
    return 0;
}

int addFileType(const FileTypeRecord& record) {
    x::DOMDocument* doc = nullptr;
    if (int rc = withDocument(doc)) return rc;
    x::DOMElement* types = firstElement(doc, L"fileTypes");
    if (!types) return 2;
    appendRecord(types, record);
    return 0;
}

int updateFileType(const FileTypeRecord& r) {
    x::DOMDocument* doc = nullptr;
    if (int rc = withDocument(doc)) return rc;
    x::DOMElement* types = firstElement(doc, L"fileTypes");
    if (!types) {
        x::DOMElement* root = doc->getDocumentElement();
        if (!root) return 2;
        appendRecord(appendElement(root, L"fileTypes"), r);
        return 0;
    }
    x::DOMElement* type = findFileType(doc, fieldText(r.previousName, sizeof r.previousName), true);
    if (!type) {
        appendRecord(types, r);
        return 0;
    }
    setOrCreate(type, L"name", fieldText(r.name, sizeof r.name));
    setOrCreate(type, L"extension", fieldText(r.extension, sizeof r.extension));
    setOrCreate(type, L"description", fromWide(r.description, 256));
    setOrCreate(type, L"contentType", fromWide(r.contentType, 256));
    x::DOMElement* icon = childElement(type, L"icon");
    for (const auto& [name, text] : iconFields(r)) {
        x::DOMElement* e = icon ? childElement(icon, name) : nullptr;
        if (text.empty()) {
            if (e) icon->removeChild(e)->release();
            continue;
        }
        if (!icon) icon = appendElement(type, L"icon");
        if (!e) e = appendElement(icon, name);
        setText(e, text);
    }
    return 0;
}

int removeFileType(std::wstring_view name) {
    x::DOMDocument* doc = nullptr;
    if (int rc = withDocument(doc)) return rc;
    x::DOMElement* type = findFileType(doc, name, false);
    if (!type) return 2;
    type->getParentNode()->removeChild(type)->release();
    return 0;
}

int collectIcons(std::vector<std::wstring>& icons) {
    x::DOMDocument* doc = nullptr;
    if (int rc = withDocument(doc)) return rc;
    auto collect = [&icons](x::DOMElement* icon) {
        for (auto it = kIconSizes.rbegin(); it != kIconSizes.rend(); ++it)
            if (x::DOMElement* e = childElement(icon, *it)) icons.push_back(textOf(e));
    };
    collect(firstElement(doc, L"icon"));
    x::DOMNodeList* types = doc->getElementsByTagName(u"fileType");
    for (XMLSize_t i = 0; types && i < types->getLength(); ++i)
        collect(childElement(static_cast<x::DOMElement*>(types->item(i)), L"icon"));
    return 0;
}

}  // namespace vireo
