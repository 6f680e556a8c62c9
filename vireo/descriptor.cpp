#include <cstdint>
#include <cstdio>
#include <memory>

#include <xercesc/framework/MemBufFormatTarget.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/sax/HandlerBase.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLString.hpp>

#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "vireo/descriptor.h"
#include "vireo/descriptor_state.h"

namespace vireo {

namespace x = xercesc;

namespace {

struct ParserState {
    std::unique_ptr<x::SecurityManager> security;
    std::unique_ptr<x::XercesDOMParser> parser;
    std::wstring lastParsedPath;
    bool lastParsedValid = false;
};

ParserState& state() {
    static ParserState s;
    return s;
}

x::HandlerBase& errorHandler() {
    static x::HandlerBase handler;  // warnings and errors ignored, fatal errors thrown
    return handler;
}

void print(const char* format, const std::wstring& text) {
    std::printf(format, win::toUtf8(text).c_str());
    std::fflush(stdout);
}

// What a failed parse leaves behind is part of a document: nothing may read or save it.
int parseFailed() {
    state().lastParsedValid = false;
    state().parser.reset();
    return descriptor::parseFailed;
}

bool blank(const x::DOMNode* node) {
    return node->getNodeType() == x::DOMNode::TEXT_NODE && trimmed(fromX(node->getNodeValue())).empty();
}

// Indents an element's children two blanks a level. The indentation a file came with is dropped first,
// so a file saved again comes out the same instead of gaining a line at every level. Text and mixed
// content stay as they are.
void indent(x::DOMElement* element, const std::u16string& depth) {
    bool elements = false, text = false;
    for (x::DOMNode* c = element->getFirstChild(); c; c = c->getNextSibling()) {
        elements = elements || c->getNodeType() == x::DOMNode::ELEMENT_NODE;
        text = text || ((c->getNodeType() == x::DOMNode::TEXT_NODE ||
                         c->getNodeType() == x::DOMNode::CDATA_SECTION_NODE) &&
                        !blank(c));
    }
    if (!elements || text) return;
    for (x::DOMNode* c = element->getFirstChild(); c;) {
        x::DOMNode* next = c->getNextSibling();
        if (blank(c)) element->removeChild(c)->release();
        c = next;
    }
    x::DOMDocument* document = element->getOwnerDocument();
    const std::u16string inner = depth + u"  ";
    for (x::DOMNode* c = element->getFirstChild(); c; c = c->getNextSibling()) {
        element->insertBefore(document->createTextNode(inner.c_str()), c);
        if (c->getNodeType() == x::DOMNode::ELEMENT_NODE) indent(static_cast<x::DOMElement*>(c), inner);
    }
    element->appendChild(document->createTextNode(depth.c_str()));
}

}  // namespace

std::u16string toX(std::wstring_view text) {
    std::u16string out;
    const std::string bytes = win::toUtf16le(text);
    out.resize(bytes.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                       (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    return out;
}

std::wstring fromX(const XMLCh* text) {
    if (!text) return {};
    std::string bytes;
    for (const XMLCh* p = text; *p; ++p) {
        bytes.push_back(static_cast<char>(*p & 0xFF));
        bytes.push_back(static_cast<char>(*p >> 8));
    }
    return win::fromUtf16le(bytes);
}

std::wstring trimmed(std::wstring_view text) {
    const auto first = text.find_first_not_of(L" \t\r\n");
    if (first == std::wstring_view::npos) return {};
    const auto last = text.find_last_not_of(L" \t\r\n");
    return std::wstring(text.substr(first, last - first + 1));
}

x::DOMDocument* currentDescriptor(bool* hasParser) {
    auto& s = state();
    if (hasParser) *hasParser = s.parser != nullptr;
    return s.parser ? s.parser->getDocument() : nullptr;
}

x::DOMElement* firstElement(x::DOMDocument* document, std::wstring_view name) {
    if (!document) return nullptr;
    x::DOMNodeList* list = document->getElementsByTagName(toX(name).c_str());
    for (XMLSize_t i = 0; list && i < list->getLength(); ++i)
        if (list->item(i)->getNodeType() == x::DOMNode::ELEMENT_NODE)
            return static_cast<x::DOMElement*>(list->item(i));
    return nullptr;
}

x::DOMElement* childElement(x::DOMElement* parent, std::wstring_view name) {
    if (!parent) return nullptr;
    const std::u16string wanted = toX(name);
    for (x::DOMElement* c = parent->getFirstElementChild(); c; c = c->getNextElementSibling())
        if (x::XMLString::equals(c->getTagName(), wanted.c_str())) return c;
    return nullptr;
}

x::DOMElement* appendElement(x::DOMElement* parent, std::wstring_view name) {
    x::DOMElement* element =
        parent->getOwnerDocument()->createElementNS(parent->getNamespaceURI(), toX(name).c_str());
    parent->appendChild(element);
    return element;
}

std::wstring xmlChars(std::wstring_view text) {
    std::wstring out;
    for (wchar_t c : text) {
        const auto u = static_cast<std::uint32_t>(c);
        if (u == 0x9 || u == 0xA || u == 0xD || (u >= 0x20 && u <= 0xD7FF) || (u >= 0xE000 && u <= 0xFFFD) ||
            (u >= 0x10000 && u <= 0x10FFFF))
            out.push_back(c);
    }
    return out;
}

void setText(x::DOMElement* element, std::wstring_view text) {
    element->setTextContent(toX(xmlChars(text)).c_str());
}

std::wstring textOf(const x::DOMNode* node) {
    return node ? fromX(node->getTextContent()) : std::wstring();
}

void forgetLastParsed() {
    state().lastParsedValid = false;
}

bool lastParsedIs(std::wstring_view path) {
    return state().lastParsedValid && state().lastParsedPath == path;
}

int validateDescriptor(std::wstring_view path) {
    std::string bytes;
    if (!win::readFile(path, bytes)) {
        // No document replaces the current one's place: an unreadable file leaves none.
        state().parser.reset();
        print("Exception message is: %s\n", L"cannot open the file " + std::wstring(path));
        return parseFailed();
    }
    return validateDescriptorText(bytes, path);
}

int validateDescriptorText(std::string_view bytes, std::wstring_view name) {
    auto& s = state();
    try {
        x::XMLPlatformUtils::Initialize();
    } catch (const x::XMLException& e) {
        print("Error during initialization! :%s\n", fromX(e.getMessage()));
        return parseFailed();
    }
    // The new parser replaces the current one, and its document the current document.
    s.parser.reset();
    s.security.reset();
    try {
        s.security = std::make_unique<x::SecurityManager>();
        s.security->setEntityExpansionLimit(1000);
        s.parser = std::make_unique<x::XercesDOMParser>();
    } catch (const x::XMLException& e) {
        print("Error during creating parser! :%s\n", fromX(e.getMessage()));
        return parseFailed();
    }
    x::XercesDOMParser& parser = *s.parser;
    parser.setValidationScheme(x::XercesDOMParser::Val_Always);
    parser.setDoNamespaces(true);
    parser.setErrorHandler(&errorHandler());
    // Descriptors are outside input: an external DTD or entity is never fetched (the parse fails
    // instead), and entity expansion is bounded.
    parser.setDisableDefaultEntityResolution(true);
    parser.setSecurityManager(s.security.get());
    try {
        const std::u16string id = toX(name);
        x::MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(), id.c_str());
        parser.parse(source);
    } catch (const x::XMLException& e) {
        print("Exception message is: %s\n", fromX(e.getMessage()));
        return parseFailed();
    } catch (const x::DOMException& e) {
        print("Exception message is: %s\n", fromX(e.getMessage()));
        return parseFailed();
    } catch (...) {
        std::printf("Unexpected Exception \n");
        std::fflush(stdout);
        return parseFailed();
    }
    x::DOMDocument* document = parser.getDocument();
    x::DOMNodeList* list = document ? document->getElementsByTagName(u"application") : nullptr;
    if (!list || list->getLength() == 0) return descriptor::noApplication;
    if (list->item(0)->getNodeType() != x::DOMNode::ELEMENT_NODE) return descriptor::applicationNotElement;
    auto* application = static_cast<x::DOMElement*>(list->item(0));
    if (!application->hasAttribute(u"xmlns")) return descriptor::noNamespace;
    const std::wstring ns = fromX(application->getAttribute(u"xmlns"));
    if (ns.find(L"1.0.M5") != std::wstring::npos || ns.find(L"1.0.M6") != std::wstring::npos)
        return descriptor::preRelease;
    s.lastParsedPath = name;
    s.lastParsedValid = true;
    return descriptor::usable;
}

int saveDescriptor(std::wstring_view path) {
    x::DOMDocument* document = currentDescriptor();
    if (!document) return -1;
    try {
        x::DOMImplementation* impl = x::DOMImplementationRegistry::getDOMImplementation(u"LS");
        std::unique_ptr<x::DOMLSSerializer, void (*)(x::DOMLSSerializer*)> serializer(
            impl->createLSSerializer(), [](x::DOMLSSerializer* p) { p->release(); });
        // The serialiser's own pretty printing puts a blank line between the root's children; the
        // document is indented here instead, one node of the document a line.
        x::DOMConfiguration* config = serializer->getDomConfig();
        if (config->canSetParameter(x::XMLUni::fgDOMXMLDeclaration, false))
            config->setParameter(x::XMLUni::fgDOMXMLDeclaration, false);
        std::string bytes = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"no\" ?>\n";
        for (x::DOMNode* node = document->getFirstChild(); node; node = node->getNextSibling()) {
            if (node->getNodeType() == x::DOMNode::ELEMENT_NODE)
                indent(static_cast<x::DOMElement*>(node), u"\n");
            x::MemBufFormatTarget target;
            std::unique_ptr<x::DOMLSOutput, void (*)(x::DOMLSOutput*)> output(
                impl->createLSOutput(), [](x::DOMLSOutput* p) { p->release(); });
            output->setEncoding(u"UTF-8");
            output->setByteStream(&target);
            if (!serializer->write(node, output.get())) return -1;
            bytes.append(reinterpret_cast<const char*>(target.getRawBuffer()), target.getLen());
            bytes += '\n';
        }
        return win::writeFile(path, bytes) ? 0 : -1;
    } catch (...) {
        return -1;
    }
}

}  // namespace vireo
