// A small XML DOM (on Xerces-C): build documents, read them back, select nodes by simple paths, and save
// them as UTF-16LE files with a byte-order mark and the caller's XML declaration. Paths are Windows paths.
// No call throws; failures return false or an empty Node, and Document::error() says why.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace win::xml {

class Document;

// Deeper documents are refused when read and when written: no file we keep comes near it, and every
// walk over a document stays bounded.
constexpr std::size_t kMaxDepth = 256;

// A node inside a Document (element, comment or text); valid while the document lives.
class Node {
  public:
    Node() = default;
    bool valid() const { return node_ != nullptr; }
    explicit operator bool() const { return valid(); }
    bool operator==(const Node& other) const { return node_ == other.node_; }

    bool isElement() const;
    bool isComment() const;
    std::wstring name() const;                             // element name, "#comment", "#text"
    std::wstring text() const;                             // all text below the node, concatenated
    std::wstring attribute(std::wstring_view name) const;  // "" when absent
    bool hasAttribute(std::wstring_view name) const;
    bool setAttribute(std::wstring_view name, std::wstring_view value);  // false for an invalid name

    // New children at the end. An invalid name gives an empty Node.
    Node appendElement(std::wstring_view name);
    Node appendElement(std::wstring_view name, std::wstring_view text);  // element holding one text
    Node prependElement(std::wstring_view name);                         // new first child
    bool appendText(std::wstring_view text);
    Node appendComment(std::wstring_view text);  // empty Node for text holding "--" or ending in "-"
    // A deep copy of `source` (from this or any other document) as the last child.
    Node appendCopy(const Node& source);

    // The node as XML text, without indentation ("" when it cannot be written).
    std::wstring toString() const;

    Node parent() const;
    std::vector<Node> children() const;             // element children, in order
    Node firstChild(std::wstring_view name) const;  // first element child of that name
    std::vector<Node> childNodes() const;           // every child node (comments and text too)

    // Elements by a simple path of names joined by "/" (child) or "//" (any depth): "A/B", "//A//B",
    // "/A/B" (from the document). "*" matches any name. Document order, each node once.
    std::vector<Node> select(std::wstring_view path) const;
    Node selectFirst(std::wstring_view path) const;

  private:
    friend class Document;
    explicit Node(void* node) : node_(node) {}
    void* node_ = nullptr;
};

class Document {
  public:
    Document();
    ~Document();
    Document(Document&& other) noexcept;
    Document& operator=(Document&& other) noexcept;
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    // A new document holding only the root element.
    bool create(std::wstring_view rootName);
    // Reads a file; false when it is missing, unreadable, not well-formed or nested deeper than kMaxDepth.
    // DTDs and external entities are never fetched. Blank text between elements is dropped, so what was saved
    // indented reads back as it was built.
    bool load(std::wstring_view windowsPath);
    bool parse(std::string_view bytes);  // the same from memory (any encoding the declaration names)

    // UTF-16LE with byte-order mark: "<?xml " + declaration + "?>" and the document, indented.
    bool save(std::wstring_view windowsPath, std::wstring_view declaration) const;
    // The document as text (no declaration), indented with CR LF line ends.
    std::wstring toString() const;

    bool isOpen() const { return doc_ != nullptr; }
    void close();
    Node root() const;
    // A comment placed before the root element (after any earlier one).
    Node insertCommentBeforeRoot(std::wstring_view text);
    std::vector<Node> select(std::wstring_view path) const;
    Node selectFirst(std::wstring_view path) const;
    const std::wstring& error() const { return error_; }

  private:
    void* doc_ = nullptr;
    mutable std::wstring error_;
};

}  // namespace win::xml
