#include "platform/xmldom/xmldom.h"

#include <xercesc/dom/DOM.hpp>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/framework/XMLPScanToken.hpp>
#include <xercesc/parsers/XercesDOMParser.hpp>
#include <xercesc/util/PlatformUtils.hpp>
#include <xercesc/util/SecurityManager.hpp>
#include <xercesc/util/XMLException.hpp>
#include <xercesc/util/XMLString.hpp>

#include <algorithm>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

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

bool isElementNode(const x::DOMNode* n) {
    return n->getNodeType() == x::DOMNode::ELEMENT_NODE;
}

// Every element below `start` in document order, each with whether an ancestor (or `start`) is in
// `marked`. An explicit stack: documents may be deep and the walk must not use the call stack.
template <class Visit>
void walkElements(x::DOMNode* start, const std::unordered_set<x::DOMNode*>& marked, Visit visit) {
    std::vector<std::pair<x::DOMNode*, bool>> stack;
    auto pushChildren = [&](x::DOMNode* n, bool under) {
        for (x::DOMNode* c = n->getLastChild(); c; c = c->getPreviousSibling())
            if (isElementNode(c)) stack.emplace_back(c, under);
    };
    pushChildren(start, marked.count(start) != 0);
    while (!stack.empty()) {
        const auto [n, under] = stack.back();
        stack.pop_back();
        visit(n, under);
        pushChildren(n, under || marked.count(n) != 0);
    }
}

// Indentation text between elements is not content in the documents we keep.
void tidy(x::DOMDocument* doc) {
    std::vector<x::DOMNode*> stack;
    if (x::DOMNode* root = doc->getDocumentElement()) stack.push_back(root);
    while (!stack.empty()) {
        x::DOMNode* node = stack.back();
        stack.pop_back();
        bool hasElement = false;
        for (x::DOMNode* c = node->getFirstChild(); c; c = c->getNextSibling())
            hasElement = hasElement || isElementNode(c);
        for (x::DOMNode* c = node->getFirstChild(); c;) {
            x::DOMNode* next = c->getNextSibling();
            if (c->getNodeType() == x::DOMNode::TEXT_NODE && hasElement && isBlank(c->getNodeValue())) {
                node->removeChild(c)->release();
            } else if (isElementNode(c)) {
                stack.push_back(c);
            }
            c = next;
        }
    }
}

// The DOM parser, counting open elements so that a document deeper than kMaxDepth is refused.
class BoundedParser : public x::XercesDOMParser {
  public:
    bool tooDeep() const { return tooDeep_; }

    void startElement(const x::XMLElementDecl& decl, const unsigned int urlId, const XMLCh* const prefix,
                      const x::RefVectorOf<x::XMLAttr>& attributes, const XMLSize_t count, const bool isEmpty,
                      const bool isRoot) override {
        if (depth_ + 1 > kMaxDepth) {
            tooDeep_ = true;
            return;
        }
        // Counted open first: for an empty element the base class calls endElement itself, which closes it.
        ++depth_;
        x::XercesDOMParser::startElement(decl, urlId, prefix, attributes, count, isEmpty, isRoot);
    }
    void endElement(const x::XMLElementDecl& decl, const unsigned int urlId, const bool isRoot,
                    const XMLCh* const prefix) override {
        if (tooDeep_) return;
        x::XercesDOMParser::endElement(decl, urlId, isRoot, prefix);
        --depth_;
    }

  private:
    std::size_t depth_ = 0;
    bool tooDeep_ = false;
};

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

// Characters an XML 1.0 document can carry; a lone surrogate or a control character cannot be written.
bool appendChecked(std::u16string& out, const XMLCh* text, bool attribute) {
    for (const XMLCh* p = text; p && *p; ++p) {
        const char16_t c = *p;
        if (c >= 0xD800 && c < 0xDC00) {
            if (p[1] < 0xDC00 || p[1] >= 0xE000) return false;
            out += c;
            out += *++p;
            continue;
        }
        if (c >= 0xDC00 && c < 0xE000) return false;
        if (c < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') return false;
        if (c == 0xFFFE || c == 0xFFFF) return false;
        switch (c) {
            case u'&':
                out += u"&amp;";
                break;
            case u'<':
                out += u"&lt;";
                break;
            case u'>':
                out += u"&gt;";
                break;
            case u'"':
                out += attribute ? u"&quot;" : u"\"";
                break;
            // A CR would read back as a line end; in attributes blanks of any kind would read back as spaces.
            case u'\r':
                out += u"&#xD;";
                break;
            case u'\n':
                out += attribute ? u"&#xA;" : u"\n";
                break;
            case u'\t':
                out += attribute ? u"&#x9;" : u"\t";
                break;
            default:
                out += c;
        }
    }
    return true;
}

bool appendComment(std::u16string& out, const XMLCh* text) {
    std::u16string body;
    if (!appendChecked(body, text, false)) return false;
    // Comments carry their text as it stands.
    out += u"<!--";
    out += text ? std::u16string_view(text) : std::u16string_view();
    out += u"-->";
    return true;
}

// The document as indented text. Iterative and linear: indentation stops growing at kMaxDepth, and an
// element holding text keeps its content exactly as it is (no indentation inside it).
// `start` is a document (its comments and root element, one per line) or a single node. Unindented
// (`indent` false) everything goes on one line.
bool serialise(x::DOMNode* start, bool indent, std::u16string& out, std::wstring& error) {
    struct Frame {
        x::DOMNode* node;
        x::DOMNode* next;
        std::size_t depth;
        bool flat;
    };
    auto newLine = [&out](std::size_t depth) {
        out += u"\r\n";
        out.append(2 * std::min(depth, kMaxDepth), u' ');
    };
    std::vector<Frame> stack;
    auto unwritable = [&error] {
        error = L"cannot write the document: it holds text XML cannot carry";
        return false;
    };
    // Writes one node; an element with children gets a frame for them.
    auto write = [&](x::DOMNode* n, std::size_t depth, bool flat) -> bool {
        switch (n->getNodeType()) {
            case x::DOMNode::ELEMENT_NODE: {
                if (depth >= kMaxDepth) {
                    error = L"cannot write the document: it nests deeper than " + std::to_wstring(kMaxDepth) +
                            L" levels";
                    return false;
                }
                out += u'<';
                out += n->getNodeName();
                x::DOMNamedNodeMap* attributes = n->getAttributes();
                for (XMLSize_t i = 0; attributes && i < attributes->getLength(); ++i) {
                    x::DOMNode* a = attributes->item(i);
                    out += u' ';
                    out += a->getNodeName();
                    out += u"=\"";
                    if (!appendChecked(out, a->getNodeValue(), true)) return unwritable();
                    out += u'"';
                }
                if (!n->getFirstChild()) {
                    out += u"/>";
                    return true;
                }
                out += u'>';
                bool holdsText = flat;
                for (x::DOMNode* c = n->getFirstChild(); c && !holdsText; c = c->getNextSibling()) {
                    const auto type = c->getNodeType();
                    holdsText = type == x::DOMNode::TEXT_NODE || type == x::DOMNode::CDATA_SECTION_NODE;
                }
                stack.push_back({n, n->getFirstChild(), depth, holdsText});
                return true;
            }
            case x::DOMNode::TEXT_NODE:
            case x::DOMNode::CDATA_SECTION_NODE:
                return appendChecked(out, n->getNodeValue(), false) || unwritable();
            case x::DOMNode::COMMENT_NODE:
                return appendComment(out, n->getNodeValue()) || unwritable();
            default:
                return true;  // no other kind is built or kept
        }
    };
    std::vector<x::DOMNode*> tops;
    if (start->getNodeType() == x::DOMNode::DOCUMENT_NODE) {
        for (x::DOMNode* top = start->getFirstChild(); top; top = top->getNextSibling()) {
            const auto type = top->getNodeType();
            if (type == x::DOMNode::ELEMENT_NODE || type == x::DOMNode::COMMENT_NODE) tops.push_back(top);
        }
    } else {
        tops.push_back(start);
    }
    std::size_t depth = 0;
    for (x::DOMNode* n = start->getParentNode(); n && n->getNodeType() != x::DOMNode::DOCUMENT_NODE;
         n = n->getParentNode())
        ++depth;
    bool first = true;
    for (x::DOMNode* top : tops) {
        if (!first) out += u"\r\n";
        first = false;
        if (!write(top, depth, !indent)) return false;
        while (!stack.empty()) {
            Frame& f = stack.back();
            if (x::DOMNode* c = f.next) {
                f.next = c->getNextSibling();
                const std::size_t depth = f.depth + 1;
                const bool flat = f.flat;
                if (!flat) newLine(depth);
                if (!write(c, depth, flat)) return false;  // may grow the stack: `f` is not used after
                continue;
            }
            if (!f.flat) newLine(f.depth);
            out += u"</";
            out += f.node->getNodeName();
            out += u'>';
            stack.pop_back();
        }
    }
    return true;
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
    if (!node_) return {};
    x::DOMNode* n = dom(node_);
    if (!isElementNode(n)) return fromX(n->getNodeValue());
    // The text nodes below, in document order, without recursion.
    std::u16string text;
    std::vector<x::DOMNode*> stack{n};
    while (!stack.empty()) {
        x::DOMNode* at = stack.back();
        stack.pop_back();
        const auto type = at->getNodeType();
        if (type == x::DOMNode::TEXT_NODE || type == x::DOMNode::CDATA_SECTION_NODE) {
            if (const XMLCh* v = at->getNodeValue()) text += v;
        } else if (type == x::DOMNode::ELEMENT_NODE) {
            for (x::DOMNode* c = at->getLastChild(); c; c = c->getPreviousSibling()) stack.push_back(c);
        }
    }
    return fromX(text.c_str());
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
        x::DOMDocument* owner = ownerOf(n);
        // Node by node (each import is shallow), so a deep source cannot exhaust the stack.
        x::DOMNode* top = n->appendChild(owner->importNode(dom(source.node_), false));
        std::vector<std::pair<x::DOMNode*, x::DOMNode*>> pending{{dom(source.node_), top}};
        while (!pending.empty()) {
            const auto [from, to] = pending.back();
            pending.pop_back();
            for (x::DOMNode* c = from->getFirstChild(); c; c = c->getNextSibling()) {
                x::DOMNode* copy = to->appendChild(owner->importNode(c, false));
                if (c->getFirstChild()) pending.emplace_back(c, copy);
            }
        }
        return Node(top);
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
    // Each step is one pass over the nodes, so nested matches of "//" never make the walk quadratic.
    std::unordered_set<x::DOMNode*> context{start};
    std::unordered_set<x::DOMNode*> found;
    for (const Step& step : steps) {
        found.clear();
        if (step.anyDepth) {
            walkElements(start, context, [&](x::DOMNode* n, bool under) {
                if (under && matches(n, step.name)) found.insert(n);
            });
        } else {
            for (x::DOMNode* c : context) {
                for (x::DOMNode* k = c->getFirstChild(); k; k = k->getNextSibling())
                    if (matches(k, step.name)) found.insert(k);
            }
        }
        context.swap(found);
        if (context.empty()) return out;
    }
    walkElements(start, {}, [&](x::DOMNode* n, bool) {
        if (context.count(n)) out.push_back(Node(n));
    });
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
        BoundedParser parser;
        parser.setValidationScheme(x::XercesDOMParser::Val_Never);
        parser.setDoNamespaces(false);
        parser.setDoSchema(false);
        parser.setLoadExternalDTD(false);
        parser.setDisableDefaultEntityResolution(true);
        parser.setCreateEntityReferenceNodes(false);
        parser.setSecurityManager(&security);
        x::MemBufInputSource source(reinterpret_cast<const XMLByte*>(bytes.data()), bytes.size(),
                                    u"document");
        // Token by token, so that a document nested too deep is dropped as soon as it is.
        x::XMLPScanToken token;
        bool more = parser.parseFirst(source, token);
        while (more && !parser.tooDeep()) more = parser.parseNext(token);
        if (parser.tooDeep()) {
            parser.parseReset(token);
            error_ = L"not a well-formed XML document: elements nested deeper than " +
                     std::to_wstring(kMaxDepth) + L" levels";
            return false;
        }
        if (parser.getErrorCount() != 0 || !parser.getDocument() ||
            !parser.getDocument()->getDocumentElement()) {
            error_ = L"not a well-formed XML document";
            return false;
        }
        doc_ = parser.adoptDocument();
        tidy(docOf(doc_));
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
    std::u16string text;
    try {
        if (!serialise(docOf(doc_), true, text, error_)) return {};
    } catch (const x::DOMException& e) {
        error_ = L"cannot write the document: " + fromX(e.getMessage());
        return {};
    }
    return fromX(text.c_str());
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
    std::u16string text;
    std::wstring error;
    try {
        if (!serialise(dom(node_), false, text, error)) return {};
    } catch (const x::DOMException&) {
        return {};
    }
    return fromX(text.c_str());
}

}  // namespace win::xml
