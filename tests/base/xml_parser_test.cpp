// The document tree: paths of element names, text, attributes and the encodings the documents use.
#include <gtest/gtest.h>

#include "mendwell/base/fast_xml_parser.h"
#include "platform/text/text.h"
#include "tests/support/testmachine.h"

namespace {

using mw::CFastXMLParser;
using mw::XMLDocumentNode;

constexpr const char* kManifest = R"(<?xml version="1.0" encoding="UTF-8"?>
<Manifest>
  <FileSet>
    <File><ObjectName>1</ObjectName><DestinationPath dir="[INSTALLDIR]" defName="a.dll"/></File>
    <File><ObjectName>2</ObjectName></File>
  </FileSet>
  <DirectorySet/>
  <FileSet>
    <File><ObjectName>3</ObjectName></File>
  </FileSet>
</Manifest>)";

TEST(FastXmlParser, SelectsChildElementsAlongAPathInDocumentOrder) {
    CFastXMLParser parser;
    ASSERT_TRUE(parser.parseBuffer(kManifest)) << win::toUtf8(parser.errorText());
    const auto files = parser.selectNodes(L"Manifest/FileSet/File");
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0]->textAt(L"ObjectName"), L"1");
    EXPECT_EQ(files[2]->textAt(L"ObjectName"), L"3");
    const XMLDocumentNode* dest = files[0]->selectNode(L"DestinationPath");
    ASSERT_NE(dest, nullptr);
    EXPECT_EQ(dest->attribute(L"defName"), L"a.dll");
    EXPECT_TRUE(dest->hasAttribute(L"dir"));
    EXPECT_FALSE(dest->hasAttribute(L"DefName"));  // names are exact
    EXPECT_EQ(dest->attribute(L"missing"), L"");
    EXPECT_EQ(files[1]->textAt(L"DestinationPath"), L"");

    // "//" starts at the document from any node; without it a path is relative to the node.
    EXPECT_EQ(files[2]->selectNodes(L"//Manifest/FileSet").size(), 2u);
    EXPECT_EQ(parser.selectNodes(L"//Manifest/DirectorySet").size(), 1u);
    EXPECT_TRUE(files[2]->selectNodes(L"Manifest/FileSet").empty());
    EXPECT_TRUE(parser.selectNodes(L"Manifest/PDSSet/PDS").empty());
    EXPECT_TRUE(parser.selectNodes(L"").empty());
    ASSERT_NE(parser.root(), nullptr);
    EXPECT_EQ(parser.root()->name(), L"Manifest");
}

TEST(FastXmlParser, ReadsUtf16WithAByteOrderMarkFromAFile) {
    testing_support::TestMachine machine;
    const std::wstring doc =
        L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
        L"<Manifest><FileSet><File Operation=\"\u00fcberschreiben\">"
        L"C:\\Programme\\\u65e5\u672c.dll</File></FileSet></Manifest>";
    machine.writeFile(L"C:\\w\\RollbackManifest.xml", "\xFF\xFE" + win::toUtf16le(doc));
    CFastXMLParser parser;
    ASSERT_TRUE(parser.parseFile(L"C:\\w\\RollbackManifest.xml")) << win::toUtf8(parser.errorText());
    const auto files = parser.selectNodes(L"//Manifest/FileSet/File");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]->text(), L"C:\\Programme\\\u65e5\u672c.dll");
    EXPECT_EQ(files[0]->attribute(L"Operation"), L"\u00fcberschreiben");
}

TEST(FastXmlParser, ReadsADeclaredWindowsCodePage) {
    CFastXMLParser parser;
    ASSERT_TRUE(parser.parseBuffer("<?xml version=\"1.0\" encoding=\"windows-1252\"?><a>caf\xE9 \x80</a>"))
        << win::toUtf8(parser.errorText());
    EXPECT_EQ(parser.root()->text(), L"caf\u00e9 \u20ac");
}

TEST(FastXmlParser, FailuresLeaveAnEmptyTree) {
    CFastXMLParser parser;
    EXPECT_FALSE(parser.parseBuffer("<a><b></a>"));
    EXPECT_TRUE(parser.dom().empty());
    EXPECT_EQ(parser.root(), nullptr);
    EXPECT_FALSE(parser.errorText().empty());
    EXPECT_FALSE(parser.parseBuffer(""));

    testing_support::TestMachine machine;
    EXPECT_FALSE(parser.parseFile(L"C:\\missing.xml"));
    EXPECT_TRUE(parser.selectNodes(L"a").empty());
}

}  // namespace

constexpr std::size_t kDeepest = 256;  // the documented bound

std::string nested(std::size_t depth) {
    std::string xml;
    for (std::size_t i = 0; i < depth; ++i) xml += "<a>";
    for (std::size_t i = 0; i < depth; ++i) xml += "</a>";
    return xml;
}

// Depth is bounded: the deepest document accepted is read and walked, one level more is refused like
// a document that is not well-formed, and a deep tree built by hand tears down without recursing.
TEST(FastXmlParser, DeepDocumentsAreBoundedAndTornDownWithoutRecursion) {
    CFastXMLParser parser;
    ASSERT_TRUE(parser.parseBuffer(nested(kDeepest)));
    std::wstring path(L"a");
    for (std::size_t i = 1; i < kDeepest; ++i) path += L"/a";
    EXPECT_EQ(parser.selectNodes(path).size(), 1u);

    for (std::size_t depth : {kDeepest + 1, std::size_t{300000}}) {
        EXPECT_FALSE(parser.parseBuffer(nested(depth)));
        EXPECT_TRUE(parser.dom().empty());
        EXPECT_NE(parser.errorText().find(L"deeper than 256 levels"), std::wstring::npos)
            << win::toUtf8(parser.errorText());
    }
    EXPECT_FALSE(parser.parseBuffer(nested(kDeepest + 1).replace(0, 3, "<a/><a>")));

    mw::ExpatDOM dom;
    mw::XMLDocumentNode* node = &dom.mutableDocument();
    for (int i = 0; i < 100000; ++i) node = node->addChild(L"a");
    dom.clear();
    EXPECT_TRUE(dom.empty());
}
