// The patcher's document tree (expat): any input parses or is refused with an empty tree, and every
// walk over what was built stays within the depth bound.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "mendwell/base/fast_xml_parser.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    mw::CFastXMLParser parser;
    if (!parser.parseBuffer(std::string_view(reinterpret_cast<const char*>(data), size))) {
        FUZZ_CHECK(parser.dom().empty() && !parser.errorText().empty(), "a refused document leaves a tree");
        return 0;
    }
    const mw::XMLDocumentNode* root = parser.root();
    FUZZ_CHECK(root != nullptr, "a parsed document has a root element");
    std::vector<std::pair<const mw::XMLDocumentNode*, std::size_t>> stack{{root, 1}};
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        FUZZ_CHECK(depth <= mw::CFastXMLParser::kMaxDepth, "depth bound");
        for (const auto& [name, value] : node->attributes())
            FUZZ_CHECK(node->hasAttribute(name), "attribute");
        if (!node->children().empty()) {
            const std::wstring& first = node->children().front()->name();
            FUZZ_CHECK(node->selectNode(first) == node->children().front().get(), "first child by name");
            node->textAt(first + L"/" + first);
        }
        for (const auto& child : node->children()) {
            FUZZ_CHECK(child->parent() == node, "parent link");
            stack.emplace_back(child.get(), depth + 1);
        }
    }
    parser.selectNodes(L"//" + root->name() + L"/FileSet/File");
    return 0;
}
