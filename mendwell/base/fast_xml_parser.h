// The patcher's own document tree, built with expat: config.xml, manifest.xml and the rollback manifest
// are read through it. Elements only; text is the character data directly inside an element.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mw {

class XMLDocumentNode;
using XMLNodeList = std::vector<const XMLDocumentNode*>;

class XMLDocumentNode {
  public:
    XMLDocumentNode(std::wstring name, XMLDocumentNode* parent) : name_(std::move(name)), parent_(parent) {}
    // Tears the subtree down level by level, so a deep tree cannot exhaust the stack.
    ~XMLDocumentNode();
    XMLDocumentNode(const XMLDocumentNode&) = delete;
    XMLDocumentNode& operator=(const XMLDocumentNode&) = delete;

    const std::wstring& name() const { return name_; }
    const std::wstring& text() const { return text_; }
    const XMLDocumentNode* parent() const { return parent_; }
    const std::vector<std::unique_ptr<XMLDocumentNode>>& children() const { return children_; }
    const std::vector<std::pair<std::wstring, std::wstring>>& attributes() const { return attributes_; }

    bool hasAttribute(std::wstring_view name) const;
    std::wstring attribute(std::wstring_view name) const;  // "" when absent

    // Child elements along a path of element names ("FileSet/File"), in document order. A leading "//"
    // starts at the document, above the root element ("//Manifest/FileSet").
    XMLNodeList selectNodes(std::wstring_view path) const;
    const XMLDocumentNode* selectNode(std::wstring_view path) const;  // the first match, or null
    // Text of the first element along the path; "" when there is none.
    std::wstring textAt(std::wstring_view path) const;

    // Building (used by the parser).
    XMLDocumentNode* addChild(std::wstring name);
    void addAttribute(std::wstring name, std::wstring value);
    void appendText(std::wstring_view text) { text_.append(text); }

  private:
    std::wstring name_;
    std::wstring text_;
    XMLDocumentNode* parent_;
    std::vector<std::pair<std::wstring, std::wstring>> attributes_;
    std::vector<std::unique_ptr<XMLDocumentNode>> children_;
};

// A parsed document: an unnamed document node whose only child is the root element.
class ExpatDOM {
  public:
    ExpatDOM() : document_(std::make_unique<XMLDocumentNode>(std::wstring(), nullptr)) {}

    const XMLDocumentNode& document() const { return *document_; }
    const XMLDocumentNode* root() const;  // null for an empty tree
    bool empty() const { return document_->children().empty(); }
    void clear() { document_ = std::make_unique<XMLDocumentNode>(std::wstring(), nullptr); }
    // From the document: "Manifest/FileSet/File" and "//Manifest/FileSet" name the root element first.
    XMLNodeList selectNodes(std::wstring_view path) const { return document_->selectNodes(path); }

    XMLDocumentNode& mutableDocument() { return *document_; }

  private:
    std::unique_ptr<XMLDocumentNode> document_;
};

class CFastXMLParser {
  public:
    // No document we read nests deeper than a handful of levels; one deeper than this is refused as not
    // well-formed, so that no walk over it can run away.
    static constexpr std::size_t kMaxDepth = 256;

    // Parses a file (Windows path). UTF-8 and UTF-16 with a byte-order mark, plus the declared single-byte
    // Windows code pages. On failure the tree is empty and errorText() says why.
    bool parseFile(std::wstring_view path);
    bool parseBuffer(std::string_view bytes);

    const ExpatDOM& dom() const { return dom_; }
    const XMLDocumentNode* root() const { return dom_.root(); }
    XMLNodeList selectNodes(std::wstring_view path) const { return dom_.selectNodes(path); }
    const std::wstring& errorText() const { return error_; }

  private:
    ExpatDOM dom_;
    std::wstring error_;
};

}  // namespace mw
