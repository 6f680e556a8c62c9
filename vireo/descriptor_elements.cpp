// Element-level reads and updates of the current descriptor document.
#include "platform/system/system.h"
#include "platform/text/text.h"
#include "vireo/descriptor.h"
#include "vireo/descriptor_state.h"

namespace vireo {

namespace x = xercesc;

namespace {

constexpr int kNoParser = -1;
constexpr int kNoDocument = 1;
constexpr int kNoElement = 2;

// The current document, or the code to return for its absence.
int document(x::DOMDocument*& out) {
    bool hasParser = false;
    out = currentDescriptor(&hasParser);
    if (!hasParser) return kNoParser;
    return out ? 0 : kNoDocument;
}

}  // namespace

int readElementText(std::wstring_view name, char* buffer, std::size_t size) {
    if (buffer && size) buffer[0] = '\0';
    x::DOMDocument* doc = nullptr;
    if (int rc = document(doc)) return rc;
    x::DOMElement* element = firstElement(doc, name);
    if (!element) return kNoElement;
    if (buffer) win::toCodePage(textOf(element), win::ansiCodePage(), buffer, size);
    return 0;
}

int readElementText(std::wstring_view name, std::wstring& text) {
    x::DOMDocument* doc = nullptr;
    if (int rc = document(doc)) return rc;
    x::DOMElement* element = firstElement(doc, name);
    if (!element) return kNoElement;
    text = trimmed(textOf(element));
    return 0;
}

int setInitialWindowText(std::wstring_view child, std::wstring_view value) {
    return setChildText(L"initialWindow", child, value);
}

int setChildText(std::wstring_view parentName, std::wstring_view child, std::wstring_view value) {
    if (parentName.empty() || child.empty()) return 0;
    x::DOMDocument* doc = nullptr;
    if (int rc = document(doc)) return rc;
    x::DOMElement* parent = firstElement(doc, parentName);
    if (!parent) return kNoElement;
    x::DOMElement* element = childElement(parent, child);
    if (!element) element = appendElement(parent, child);
    setText(element, value);
    return 0;
}

int removeChild(std::wstring_view parentName, std::wstring_view child) {
    x::DOMDocument* doc = nullptr;
    if (int rc = document(doc)) return rc;
    x::DOMElement* parent = firstElement(doc, parentName);
    if (!parent) return kNoElement;
    if (x::DOMElement* element = childElement(parent, child)) parent->removeChild(element)->release();
    return 0;
}

int clearElementText(std::wstring_view name) {
    x::DOMDocument* doc = nullptr;
    if (int rc = document(doc)) return rc;
    x::DOMElement* element = firstElement(doc, name);
    if (!element) return kNoElement;
    setText(element, L"");
    return 0;
}

}  // namespace vireo
