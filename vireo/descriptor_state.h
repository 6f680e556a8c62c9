// The current descriptor parser and its document, shared by the descriptor operations.
#pragma once
#include <string>
#include <string_view>

#include <xercesc/dom/DOM.hpp>

namespace vireo {

// Null when no validation has made a parser yet (*hasParser false) or the parser holds no document.
xercesc::DOMDocument* currentDescriptor(bool* hasParser = nullptr);
// The first element of a name anywhere in the current document; null when missing.
xercesc::DOMElement* firstElement(xercesc::DOMDocument* document, std::wstring_view name);
// The first element child of that name.
xercesc::DOMElement* childElement(xercesc::DOMElement* parent, std::wstring_view name);
// A new element in the parent's namespace, appended to it.
xercesc::DOMElement* appendElement(xercesc::DOMElement* parent, std::wstring_view name);
void setText(xercesc::DOMElement* element, std::wstring_view text);
std::wstring textOf(const xercesc::DOMNode* node);
std::wstring trimmed(std::wstring_view text);
// Drops the remembered clean parse of the default descriptor.
void forgetLastParsed();
// True when `path` is the descriptor last parsed cleanly and nothing has replaced it since.
bool lastParsedIs(std::wstring_view path);

// Xerces text <-> wide text.
std::u16string toX(std::wstring_view text);
std::wstring fromX(const XMLCh* text);

}  // namespace vireo
