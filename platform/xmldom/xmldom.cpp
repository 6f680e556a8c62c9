#include "platform/xmldom/xmldom.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <mutex>
#include <unordered_set>

#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "platform/win.h"

namespace win::xml {

namespace x = xercesc;

namespace {

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { x::XMLPlatformUtils::Initialize(); });
}

std::u16string toX(std::wstring_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        auto u = static_cast<char32_t>(c);
        if (u >= 0x10000 && u <= 0x10FFFF) {
            u -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (u >> 10));
            out += static_cast<char16_t>(0xDC00 + (u & 0x3FF));
        } else {
            out += static_cast<char16_t>(u > 0x10FFFF ? 0xFFFD : u);
        }
    }
    return out;
}

std::wstring fromX(const XMLCh* text) {
    std::wstring out;
    if (!text) return out;
    for (const XMLCh* p = text; *p; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c < 0xDC00 && p[1] >= 0xDC00 && p[1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        }
        out += static_cast<wchar_t>(c);
    }
    return out;
}

x::DOMNode* dom(void* p) {
    return static_cast<x::DOMNode*>(p);
}
x::DOMDocument* docOf(void* p) {
    return static_cast<x::DOMDocument*>(p);
}

x::DOMDocument* ownerOf(x::DOMNode* n) {
    return n->getNodeType() == x::DOMNode::DOCUMENT_NODE ? static_cast<x::DOMDocument*>(n)
                                                         : n->getOwnerDocument();
}

bool isBlank(const XMLCh* text) {
    for (const XMLCh* p = text; p && *p; ++p) {
        if (*p != u' ' && *p != u'\t' && *p != u'\r' && *p != u'\n') return false;
    }
    return true;
}

// Indentation text between elements is not content in the documents we keep.
void dropBlankText(x::DOMNode* node) {
    bool hasElement = false;
    for (x::DOMNode* c = node->getFirstChild(); c; c = c->getNextSibling())
        hasElement = hasElement || c->getNodeType() == x::DOMNode::ELEMENT_NODE;
    for (x::DOMNode* c = node->getFirstChild(); c;) {
        x::DOMNode* next = c->getNextSibling();
        if (c->getNodeType() == x::DOMNode::TEXT_NODE && hasElement && isBlank(c->getNodeValue())) {
            node->removeChild(c)->release();
        } else if (c->getNodeType() == x::DOMNode::ELEMENT_NODE) {
            dropBlankText(c);
        }
        c = next;
    }
}

// The writer copies comment text as it stands, so "--" or a closing "-" would end up as a file no
// parser reads back.
bool commentFits(std::wstring_view text) {
    return text.find(L"--") == std::wstring_view::npos && (text.empty() || text.back() != L'-');
}

struct Step {
    bool anyDepth = false;
    std::u16string name;
};

std::vector<Step> parsePath(std::wstring_view path, bool& fromDocument) {
    std::vector<Step> steps;
    fromDocument = !path.empty() && path[0] == L'/';
    std::size_t i = 0;
    while (i < path.size()) {
        Step s;
        if (path.compare(i, 2, L"//") == 0) {
            s.anyDepth = true;
            i += 2;
        } else if (path[i] == L'/') {
            i += 1;
        }
        std::size_t end = path.find(L'/', i);
        if (end == std::wstring_view::npos) end = path.size();
        s.name = toX(path.substr(i, end - i));
        i = end;
        if (!s.name.empty()) steps.push_back(std::move(s));
    }
    return steps;
}

bool matches(x::DOMNode* n, const std::u16string& name) {
    return n->getNodeType() == x::DOMNode::ELEMENT_NODE &&
           (name == u"*" || x::XMLString::equals(n->getNodeName(), name.c_str()));
}

void collectDescendants(x::DOMNode* n, const std::u16string& name, std::unordered_set<x::DOMNode*>& out) {
    for (x::DOMNode* c = n->getFirstChild(); c; c = c->getNextSibling()) {
        if (c->getNodeType() != x::DOMNode::ELEMENT_NODE) continue;
        if (matches(c, name)) out.insert(c);
        collectDescendants(c, name, out);
    }
}

void inDocumentOrder(x::DOMNode* n, const std::unordered_set<x::DOMNode*>& wanted, std::vector<Node>& out,
                     Node (*make)(x::DOMNode*)) {
    for (x::DOMNode* c = n->getFirstChild(); c; c = c->getNextSibling()) {
        if (c->getNodeType() != x::DOMNode::ELEMENT_NODE) continue;
        if (wanted.count(c)) out.push_back(make(c));
        inDocumentOrder(c, wanted, out, make);
    }
}

}  // namespace

// Node ---------------------------------------------------------------------------------------------

bool Node::isElement() const {
    return node_ && dom(node_)->getNodeType() == x::DOMNode::ELEMENT_NODE;
}
bool Node::isComment() const {
    return node_ && dom(node_)->getNodeType() == x::DOMNode::COMMENT_NODE;
}

std::wstring Node::name() const {
    return node_ ? fromX(dom(node_)->getNodeName()) : std::wstring();
}

std::wstring Node::text() const {
    return node_ ? fromX(dom(node_)->getTextContent()) : std::wstring();
}

std::wstring Node::attribute(std::wstring_view name) const {
    if (!isElement()) return {};
    return fromX(static_cast<x::DOMElement*>(dom(node_))->getAttribute(toX(name).c_str()));
}

bool Node::hasAttribute(std::wstring_view name) const {
    return isElement() && static_cast<x::DOMElement*>(dom(node_))->hasAttribute(toX(name).c_str());
}

bool Node::setAttribute(std::wstring_view name, std::wstring_view value) {
    if (!isElement()) return false;
    try {
        static_cast<x::DOMElement*>(dom(node_))->setAttribute(toX(name).c_str(), toX(value).c_str());
        return true;
    } catch (const x::DOMException&) {
        return false;
    }
}

Node Node::appendElement(std::wstring_view name) {
    if (!node_) return {};
    try {
        x::DOMNode* n = dom(node_);
        return Node(n->appendChild(ownerOf(n)->createElement(toX(name).c_str())));
    } catch (const x::DOMException&) {
        return {};
    }
}

Node Node::prependElement(std::wstring_view name) {
    if (!node_) return {};
    try {
        x::DOMNode* n = dom(node_);
        return Node(n->insertBefore(ownerOf(n)->createElement(toX(name).c_str()), n->getFirstChild()));
    } catch (const x::DOMException&) {
        return {};
    }
}

Node Node::appendElement(std::wstring_view name, std::wstring_view text) {
    Node e = appendElement(name);
    if (e && !text.empty()) e.appendText(text);
    return e;
}

bool Node::appendText(std::wstring_view text) {
    if (!node_) return false;
    try {
        x::DOMNode* n = dom(node_);
        n->appendChild(ownerOf(n)->createTextNode(toX(text).c_str()));
        return true;
    } catch (const x::DOMException&) {
        return false;
    }
}

Node Node::appendComment(std::wstring_view text) {
    if (!node_ || !commentFits(text)) return {};
    try {
        x::DOMNode* n = dom(node_);
        return Node(n->appendChild(ownerOf(n)->createComment(toX(text).c_str())));
    } catch (const x::DOMException&) {
        return {};
    }
}

Node Node::appendCopy(const Node& source) {
    if (!node_ || !source.node_) return {};
    try {
        x::DOMNode* n = dom(node_);
        return Node(n->appendChild(ownerOf(n)->importNode(dom(source.node_), true)));
    } catch (const x::DOMException&) {
        return {};
    }
}

Node Node::parent() const {
    return node_ ? Node(dom(node_)->getParentNode()) : Node();
}

std::vector<Node> Node::children() const {
    std::vector<Node> out;
    if (!node_) return out;
    for (x::DOMNode* c = dom(node_)->getFirstChild(); c; c = c->getNextSibling())
        if (c->getNodeType() == x::DOMNode::ELEMENT_NODE) out.push_back(Node(c));
    return out;
}

Node Node::firstChild(std::wstring_view name) const {
    if (!node_) return {};
    std::u16string n = toX(name);
    for (x::DOMNode* c = dom(node_)->getFirstChild(); c; c = c->getNextSibling())
        if (matches(c, n)) return Node(c);
    return {};
}

std::vector<Node> Node::childNodes() const {
    std::vector<Node> out;
    if (!node_) return out;
    for (x::DOMNode* c = dom(node_)->getFirstChild(); c; c = c->getNextSibling()) out.push_back(Node(c));
    return out;
}

std::vector<Node> Node::select(std::wstring_view path) const {
    std::vector<Node> out;
    if (!node_) return out;
    bool fromDocument = false;
    std::vector<Step> steps = parsePath(path, fromDocument);
    if (steps.empty()) return out;
    x::DOMNode* start = fromDocument ? ownerOf(dom(node_)) : dom(node_);
    std::vector<x::DOMNode*> context{start};
    std::unordered_set<x::DOMNode*> found;
    for (const Step& step : steps) {
        found.clear();
        for (x::DOMNode* c : context) {
            if (step.anyDepth) {
                collectDescendants(c, step.name, found);
            } else {
                for (x::DOMNode* k = c->getFirstChild(); k; k = k->getNextSibling())
                    if (matches(k, step.name)) found.insert(k);
            }
        }
        context.assign(found.begin(), found.end());
    }
    inDocumentOrder(start, found, out, [](x::DOMNode* n) { return Node(n); });
    return out;
}

Node Node::selectFirst(std::wstring_view path) const {
    std::vector<Node> all = select(path);
    return all.empty() ? Node() : all.front();
}

// Document -----------------------------------------------------------------------------------------

Document::Document() {
    initialiseOnce();
}

Document::~Document() {
    close();
}

Document::Document(Document&& other) noexcept : doc_(other.doc_), error_(std::move(other.error_)) {
    other.doc_ = nullptr;
}

Document& Document::operator=(Document&& other) noexcept {
    if (this != &other) {
        close();
        doc_ = other.doc_;
        error_ = std::move(other.error_);
        other.doc_ = nullptr;
    }
    return *this;
}

void Document::close() {
    if (doc_) docOf(doc_)->release();
    doc_ = nullptr;
}

bool Document::create(std::wstring_view rootName) {
    close();
    try {
        x::DOMImplementation* impl = x::DOMImplementationRegistry::getDOMImplementation(u"Core");
        if (!impl) {
            error_ = L"no DOM implementation";
            return false;
        }
        doc_ = impl->createDocument(nullptr, toX(rootName).c_str(), nullptr);
        return true;
    } catch (const x::DOMException& e) {
        error_ = L"cannot create the document: " + fromX(e.getMessage());
    } catch (const x::XMLException& e) {
        error_ = L"cannot create the document: " + fromX(e.getMessage());
    }
    close();
    return false;
}

bool Document::load(std::wstring_view windowsPath) {
    close();
    std::string bytes;
    if (!readFile(windowsPath, bytes)) {
        error_ =
            L"cannot read " + std::wstring(windowsPath) + L" (error " + std::to_wstring(lastError()) + L")";
        return false;
    }
    if (!parse(bytes)) {
        error_ = std::wstring(windowsPath) + L": " + error_;
        return false;
    }
    return true;
}

bool Document::parse(std::string_view bytes) {
    close();
    try {
        // Declared first so that it outlives the parser that points at it.
        x::SecurityManager security;
        security.setEntityExpansionLimit(1000);
        x::XercesDOMParser parser;
        parser.setValidationScheme(x::XercesDOMParser::Val_Never);
        parser.setDoNamespaces(false);
        parser.setDoSchema(false);
        parser.setLoadExternalDTD(false);
        parser.setDisableDefaultEntityResolution(true);
        parser.setCreateEntityReferenceNodes(false);
        parser.setSecurityManager(&security);
        x::MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(),
                                    u"document");
        parser.parse(source);
        if (parser.getErrorCount() != 0 || !parser.getDocument() ||
            !parser.getDocument()->getDocumentElement()) {
            error_ = L"not a well-formed XML document";
            return false;
        }
        doc_ = parser.adoptDocument();
        dropBlankText(docOf(doc_));
        return true;
    } catch (const x::XMLException& e) {
        error_ = L"not a well-formed XML document: " + fromX(e.getMessage());
    } catch (const x::DOMException& e) {
        error_ = L"not a well-formed XML document: " + fromX(e.getMessage());
    } catch (...) {
        error_ = L"not a well-formed XML document";
    }
    close();
    return false;
}

std::wstring Document::toString() const {
    if (!doc_) return {};
    try {
        x::DOMImplementation* impl = x::DOMImplementationRegistry::getDOMImplementation(u"LS");
        // Released on every path, a throwing write included.
        std::unique_ptr<x::DOMLSSerializer, void (*)(x::DOMLSSerializer*)> writer(
            static_cast<x::DOMImplementationLS*>(impl)->createLSSerializer(),
            [](x::DOMLSSerializer* w) { w->release(); });
        x::DOMConfiguration* config = writer->getDomConfig();
        config->setParameter(x::XMLUni::fgDOMXMLDeclaration, false);
        if (config->canSetParameter(x::XMLUni::fgDOMWRTFormatPrettyPrint, true))
            config->setParameter(x::XMLUni::fgDOMWRTFormatPrettyPrint, true);
        writer->setNewLine(u"\r\n");
        XMLCh* text = writer->writeToString(docOf(doc_));
        if (!text) {
            error_ = L"cannot write the document: it holds text XML cannot carry";
            return {};
        }
        std::wstring out = fromX(text);
        x::XMLString::release(&text);
        // The indenting writer puts blank lines around the root's children. Only the writer emits CR LF
        // (a CR inside text is written as a reference), so dropping empty lines never touches content.
        for (std::size_t at = out.find(L"\r\n\r\n"); at != std::wstring::npos; at = out.find(L"\r\n\r\n", at))
            out.erase(at, 2);
        while (out.size() >= 2 && out.compare(0, 2, L"\r\n") == 0) out.erase(0, 2);
        return out;
    } catch (const x::DOMException& e) {
        error_ = L"cannot write the document: " + fromX(e.getMessage());
    } catch (const x::XMLException& e) {
        error_ = L"cannot write the document: " + fromX(e.getMessage());
    }
    return {};
}

bool Document::save(std::wstring_view windowsPath, std::wstring_view declaration) const {
    if (!doc_) {
        error_ = L"no document to save";
        return false;
    }
    std::wstring body = toString();
    if (body.empty()) return false;
    std::wstring text = L"<?xml " + std::wstring(declaration) + L"?>\r\n" + body;
    if (text.empty() || text.back() != L'\n') text += L"\r\n";
    std::string bytes = "\xFF\xFE" + toUtf16le(text);
    if (!writeFile(windowsPath, bytes)) {
        error_ =
            L"cannot write " + std::wstring(windowsPath) + L" (error " + std::to_wstring(lastError()) + L")";
        return false;
    }
    return true;
}

Node Document::root() const {
    return doc_ ? Node(docOf(doc_)->getDocumentElement()) : Node();
}

Node Document::insertCommentBeforeRoot(std::wstring_view text) {
    if (!doc_ || !commentFits(text)) return {};
    try {
        x::DOMDocument* d = docOf(doc_);
        return Node(d->insertBefore(d->createComment(toX(text).c_str()), d->getDocumentElement()));
    } catch (const x::DOMException&) {
        return {};
    }
}

std::vector<Node> Document::select(std::wstring_view path) const {
    if (!doc_) return {};
    // A relative path from the document reads like the same path from its start.
    return Node(static_cast<x::DOMNode*>(docOf(doc_))).select(path);
}

Node Document::selectFirst(std::wstring_view path) const {
    std::vector<Node> all = select(path);
    return all.empty() ? Node() : all.front();
}

// One element on one line: small records such as journal entries.
std::wstring Node::toString() const {
    if (!node_) return {};
    try {
        x::DOMImplementation* impl = x::DOMImplementationRegistry::getDOMImplementation(u"LS");
        std::unique_ptr<x::DOMLSSerializer, void (*)(x::DOMLSSerializer*)> writer(
            static_cast<x::DOMImplementationLS*>(impl)->createLSSerializer(),
            [](x::DOMLSSerializer* w) { w->release(); });
        writer->getDomConfig()->setParameter(x::XMLUni::fgDOMXMLDeclaration, false);
        XMLCh* text = writer->writeToString(dom(node_));
        if (!text) return {};
        std::wstring out = fromX(text);
        x::XMLString::release(&text);
        return out;
    } catch (const x::DOMException&) {
    } catch (const x::XMLException&) {
    }
    return {};
}

}  // namespace win::xml
