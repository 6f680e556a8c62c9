#include "mendwell/base/fast_xml_parser.h"

#include <expat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/fs/file.h"
#include "platform/text/text.h"

namespace mw {

XMLDocumentNode::~XMLDocumentNode() {
    std::vector<std::unique_ptr<XMLDocumentNode>> pending = std::move(children_);
    while (!pending.empty()) {
        std::unique_ptr<XMLDocumentNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children_) pending.push_back(std::move(child));
        node->children_.clear();
    }
}

bool XMLDocumentNode::hasAttribute(std::wstring_view name) const {
    for (const auto& [key, value] : attributes_) {
        if (key == name) return true;
    }
    return false;
}

std::wstring XMLDocumentNode::attribute(std::wstring_view name) const {
    for (const auto& [key, value] : attributes_) {
        if (key == name) return value;
    }
    return std::wstring();
}

XMLNodeList XMLDocumentNode::selectNodes(std::wstring_view path) const {
    const XMLDocumentNode* start = this;
    if (!path.empty() && path.front() == L'/') {
        while (start->parent_) start = start->parent_;
    }
    XMLNodeList current{start};
    bool any = false;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        std::size_t slash = path.find(L'/', pos);
        if (slash == std::wstring_view::npos) slash = path.size();
        const std::wstring_view name = path.substr(pos, slash - pos);
        pos = slash + 1;
        if (name.empty()) continue;
        any = true;
        XMLNodeList next;
        for (const XMLDocumentNode* node : current) {
            for (const auto& child : node->children_) {
                if (child->name_ == name) next.push_back(child.get());
            }
        }
        current.swap(next);
        if (current.empty()) break;
    }
    return any ? current : XMLNodeList{};
}

const XMLDocumentNode* XMLDocumentNode::selectNode(std::wstring_view path) const {
    XMLNodeList nodes = selectNodes(path);
    return nodes.empty() ? nullptr : nodes.front();
}

std::wstring XMLDocumentNode::textAt(std::wstring_view path) const {
    const XMLDocumentNode* node = selectNode(path);
    return node ? node->text() : std::wstring();
}

XMLDocumentNode* XMLDocumentNode::addChild(std::wstring name) {
    children_.push_back(std::make_unique<XMLDocumentNode>(std::move(name), this));
    return children_.back().get();
}

void XMLDocumentNode::addAttribute(std::wstring name, std::wstring value) {
    attributes_.emplace_back(std::move(name), std::move(value));
}

const XMLDocumentNode* ExpatDOM::root() const {
    return document_->children().empty() ? nullptr : document_->children().front().get();
}

namespace {

struct Builder {
    XML_Parser parser = nullptr;
    XMLDocumentNode* current = nullptr;
    bool tooDeep = false;
    std::vector<std::string> pendingText;  // UTF-8 text per open element, converted at its end
};

void XMLCALL onStart(void* userData, const XML_Char* name, const XML_Char** attributes) {
    auto* b = static_cast<Builder*>(userData);
    if (b->pendingText.size() >= CFastXMLParser::kMaxDepth) {
        b->tooDeep = true;
        XML_StopParser(b->parser, XML_FALSE);
        return;
    }
    b->current = b->current->addChild(win::fromUtf8(name));
    for (const XML_Char** a = attributes; a && a[0]; a += 2) {
        b->current->addAttribute(win::fromUtf8(a[0]), win::fromUtf8(a[1]));
    }
    b->pendingText.emplace_back();
}

void XMLCALL onEnd(void* userData, const XML_Char*) {
    auto* b = static_cast<Builder*>(userData);
    // expat still reports the end of a refused empty element.
    if (b->tooDeep) return;
    b->current->appendText(win::fromUtf8(b->pendingText.back()));
    b->pendingText.pop_back();
    b->current = const_cast<XMLDocumentNode*>(b->current->parent());
}

void XMLCALL onText(void* userData, const XML_Char* text, int length) {
    auto* b = static_cast<Builder*>(userData);
    // Text outside the root element is not kept.
    if (!b->pendingText.empty()) b->pendingText.back().append(text, static_cast<std::size_t>(length));
}

// Declared single-byte Windows code pages ("windows-1252", "cp1251", "ibm437"), which expat does not
// know by itself.
int XMLCALL onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
    std::string lower;
    for (const char* p = name; *p; ++p)
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    unsigned codePage = 0;
    for (const char* prefix : {"windows-", "cp", "ibm"}) {
        const std::size_t n = std::strlen(prefix);
        if (lower.compare(0, n, prefix) == 0 && lower.size() > n) {
            codePage = static_cast<unsigned>(std::strtoul(lower.c_str() + n, nullptr, 10));
            break;
        }
    }
    const bool singleByte =
        (codePage >= 1250 && codePage <= 1258) || codePage == 437 || codePage == 850 || codePage == 866;
    if (!singleByte) return XML_STATUS_ERROR;
    for (int i = 0; i < 256; ++i) {
        const char byte = static_cast<char>(i);
        std::wstring out;
        if (i < 0x80) {
            info->map[i] = i;
        } else if (win::fromCodePage(std::string_view(&byte, 1), codePage, out) && out.size() == 1) {
            info->map[i] = static_cast<int>(out[0]);
        } else {
            info->map[i] = 0xFFFD;
        }
    }
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return XML_STATUS_OK;
}

}  // namespace

bool CFastXMLParser::parseBuffer(std::string_view bytes) {
    dom_.clear();
    error_.clear();
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (!parser) {
        error_ = L"out of memory";
        return false;
    }
    Builder builder;
    builder.parser = parser;
    builder.current = &dom_.mutableDocument();
    XML_SetUserData(parser, &builder);
    XML_SetElementHandler(parser, onStart, onEnd);
    XML_SetCharacterDataHandler(parser, onText);
    XML_SetUnknownEncodingHandler(parser, onUnknownEncoding, nullptr);

    bool ok = true;
    constexpr std::size_t kChunk = 1 << 20;  // expat takes int lengths
    std::size_t pos = 0;
    do {
        const std::size_t n = std::min(kChunk, bytes.size() - pos);
        const bool last = pos + n == bytes.size();
        if (XML_Parse(parser, bytes.data() + pos, static_cast<int>(n), last ? 1 : 0) == XML_STATUS_ERROR) {
            ok = false;
            break;
        }
        pos += n;
    } while (pos < bytes.size());

    if (!ok) {
        error_ = L"line " + std::to_wstring(XML_GetCurrentLineNumber(parser)) + L": " +
                 (builder.tooDeep ? L"elements nested deeper than " + std::to_wstring(kMaxDepth) + L" levels"
                                  : win::fromUtf8(XML_ErrorString(XML_GetErrorCode(parser))));
        dom_.clear();
    }
    XML_ParserFree(parser);
    return ok;
}

bool CFastXMLParser::parseFile(std::wstring_view path) {
    std::string bytes;
    if (!win::readFile(path, bytes)) {
        dom_.clear();
        error_ =
            L"cannot read " + std::wstring(path) + L" (error " + std::to_wstring(win::lastError()) + L")";
        return false;
    }
    return parseBuffer(bytes);
}

}  // namespace mw
