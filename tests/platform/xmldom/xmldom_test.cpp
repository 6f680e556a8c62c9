// The XML DOM: building, saving as UTF-16, reading back, path selection and hostile input.
#include <gtest/gtest.h>

#include <string>

#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "platform/xmldom/xmldom.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;
using win::xml::Document;
using win::xml::Node;

std::vector<std::wstring> names(const std::vector<Node>& nodes, const wchar_t* attribute = L"id") {
    std::vector<std::wstring> out;
    for (const Node& n : nodes) out.push_back(n.name() + L":" + n.attribute(attribute));
    return out;
}

TEST(XmlDom, SavesUtf16WithDeclarationCommentAndReadsBack) {
    TestMachine machine;
    Document doc;
    ASSERT_TRUE(doc.create(L"History"));
    ASSERT_TRUE(doc.insertCommentBeforeRoot(L"made by a test"));
    Node root = doc.root();
    ASSERT_TRUE(root.setAttribute(L"stamp", L"12 & <34>"));
    Node entry = root.appendElement(L"Entry");
    entry.setAttribute(L"id", L"1");
    entry.appendElement(L"Name", L"Zoë \u6F22 \U0001F600");
    entry.appendElement(L"Empty");
    entry.appendElement(L"Lines", L"a\r\n\r\nb\n\nc");
    entry.appendComment(L"nothing here");
    EXPECT_FALSE(doc.save(L"C:\\data\\h.xml", L"version='1.0'"));  // no such folder
    ASSERT_TRUE(win::createDirectory(L"C:\\data"));
    ASSERT_TRUE(doc.save(L"C:\\data\\h.xml", L"version='1.0' encoding='UTF-16'"));

    std::string bytes = machine.readFile(L"C:\\data\\h.xml");
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::wstring text = win::fromUtf16le(bytes.substr(2));
    EXPECT_EQ(text.rfind(L"<?xml version='1.0' encoding='UTF-16'?>\r\n<!--made by a test-->", 0), 0u) << text;
    EXPECT_LT(text.find(L"-->"), text.find(L"<History"));

    Document back;
    ASSERT_TRUE(back.load(L"c:\\DATA\\H.XML")) << back.error();
    EXPECT_EQ(back.root().name(), L"History");
    EXPECT_EQ(back.root().attribute(L"stamp"), L"12 & <34>");
    Node name = back.selectFirst(L"//Entry/Name");
    EXPECT_EQ(name.text(), L"Zoë \u6F22 \U0001F600");
    // Indentation did not turn into text nodes: the entry holds exactly what was built.
    std::vector<Node> kids = back.selectFirst(L"//Entry").childNodes();
    ASSERT_EQ(kids.size(), 4u);
    EXPECT_TRUE(kids[3].isComment());
    EXPECT_EQ(kids[3].text(), L"nothing here");
    EXPECT_EQ(back.selectFirst(L"//Empty").text(), L"");
    EXPECT_EQ(back.selectFirst(L"//Lines").text(), L"a\r\n\r\nb\n\nc");  // blank lines in text survive
}

TEST(XmlDom, SelectsByChildAndAnyDepthPathsInDocumentOrder) {
    Document doc;
    ASSERT_TRUE(
        doc.parse("<R><P id='1'><P id='2'/></P><Q><P id='3'><X><P id='4'/></X></P></Q><P id='5'/></R>"));
    EXPECT_EQ(names(doc.select(L"//P")), (std::vector<std::wstring>{L"P:1", L"P:2", L"P:3", L"P:4", L"P:5"}));
    EXPECT_EQ(names(doc.select(L"//R//P")), names(doc.select(L"//P")));  // nested matches counted once
    EXPECT_EQ(names(doc.select(L"/R/P")), (std::vector<std::wstring>{L"P:1", L"P:5"}));
    EXPECT_EQ(names(doc.select(L"R/P")), (std::vector<std::wstring>{L"P:1", L"P:5"}));
    EXPECT_EQ(names(doc.select(L"//Q//P")), (std::vector<std::wstring>{L"P:3", L"P:4"}));
    EXPECT_EQ(names(doc.select(L"//Q/P/X/P")), (std::vector<std::wstring>{L"P:4"}));
    EXPECT_TRUE(doc.select(L"//p").empty());  // names are case-sensitive
    EXPECT_TRUE(doc.select(L"/Q").empty());
    EXPECT_EQ(doc.select(L"/R/*").size(), 3u);
    Node q = doc.selectFirst(L"//Q");
    EXPECT_EQ(names(q.select(L"P")), (std::vector<std::wstring>{L"P:3"}));
    EXPECT_EQ(names(q.select(L"//P")).size(), 5u);  // a leading "/" starts from the document
}

TEST(XmlDom, CopiesSubtreesBetweenDocuments) {
    Document source;
    ASSERT_TRUE(
        source.parse("<Manifest><FileSet><File a='1'><Op>add</Op></File></FileSet><!--c--></Manifest>"));
    Document target;
    ASSERT_TRUE(target.create(L"Top"));
    Node copy = target.root().appendElement(L"Entry").appendCopy(source.root());
    ASSERT_TRUE(copy);
    source.close();  // the copy belongs to the target
    EXPECT_EQ(target.selectFirst(L"//Entry/Manifest/FileSet/File").attribute(L"a"), L"1");
    EXPECT_EQ(target.selectFirst(L"//File/Op").text(), L"add");
    EXPECT_TRUE(copy.childNodes().back().isComment());
}

TEST(XmlDom, RejectsBrokenAndHostileInput) {
    TestMachine machine;
    Document doc;
    EXPECT_FALSE(doc.load(L"C:\\missing.xml"));
    EXPECT_FALSE(doc.error().empty());
    EXPECT_FALSE(doc.parse("<a><b></a>"));
    EXPECT_FALSE(doc.isOpen());
    EXPECT_FALSE(doc.parse(""));
    EXPECT_FALSE(doc.parse("\xFF\xFE<\0a"));
    machine.writeFile(L"C:\\half.xml", "<TVRHistory tsInstalled='1'><Patcher SequenceID='1'>");
    EXPECT_FALSE(doc.load(L"C:\\half.xml"));

    // External entities are never read, so a document cannot pull the host's files in.
    machine.writeFile(L"C:\\secret.txt", "SECRET");
    const std::string hostile = "<!DOCTYPE r [<!ENTITY s SYSTEM \"file://" +
                                machine.host(L"C:\\secret.txt").string() + "\">]><r>&s;</r>";
    if (doc.parse(hostile)) {
        EXPECT_EQ(doc.root().text().find(L"SECRET"), std::wstring::npos);
    }
    // Entity expansion bombs stop instead of eating memory.
    std::string bomb = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
    std::string prev = "a";
    for (int i = 0; i < 9; ++i) {
        std::string name = "e" + std::to_string(i);
        bomb += "<!ENTITY " + name + " \"" + std::string("&") + prev + ";&" + prev + ";&" + prev + ";&" +
                prev + ";&" + prev + ";&" + prev + ";&" + prev + ";&" + prev + ";&" + prev + ";&" + prev +
                ";\">";
        prev = name;
    }
    bomb += "]><r>&" + prev + ";</r>";
    EXPECT_FALSE(doc.parse(bomb));
}

TEST(XmlDom, InvalidNamesFailWithoutThrowing) {
    Document doc;
    EXPECT_FALSE(doc.create(L"not a name"));
    ASSERT_TRUE(doc.create(L"R"));
    EXPECT_FALSE(doc.root().appendElement(L"1bad"));
    EXPECT_FALSE(doc.root().setAttribute(L"a b", L"x"));
    EXPECT_FALSE(Node().appendElement(L"x"));
    EXPECT_EQ(Node().attribute(L"x"), L"");
    EXPECT_TRUE(Node().select(L"//x").empty());

    // What would make an unreadable file is refused, and a failed save says why.
    EXPECT_FALSE(doc.root().appendComment(L"a--b"));
    EXPECT_FALSE(doc.insertCommentBeforeRoot(L"ends-"));
    EXPECT_TRUE(doc.root().appendComment(L"a - b"));
    doc.root().appendElement(L"V", L"bell \x07");
    TestMachine machine;
    EXPECT_FALSE(doc.save(L"C:\\bad.xml", L"version='1.0'"));
    EXPECT_FALSE(doc.error().empty());
}

std::string nested(std::size_t depth, const std::string& inner = "") {
    std::string xml;
    for (std::size_t i = 0; i < depth; ++i) xml += "<a n='" + std::to_string(i) + "'>";
    xml += inner;
    for (std::size_t i = 0; i < depth; ++i) xml += "</a>";
    return xml;
}

// The deepest document accepted is selected, copied, saved and read back; deeper ones are refused when
// read and when written, and nothing recurses per level.
TEST(XmlDom, DepthIsBoundedAndWalksDoNotRecurse) {
    TestMachine machine;
    const std::size_t deepest = 256;  // the bound the files are documented with
    Document doc;
    ASSERT_TRUE(doc.parse(nested(deepest, "t&amp;x")));
    EXPECT_EQ(doc.select(L"//a").size(), deepest);
    EXPECT_EQ(doc.select(L"//a//a").size(), deepest - 1);
    EXPECT_EQ(doc.root().text(), L"t&x");
    ASSERT_TRUE(doc.save(L"C:\\deep.xml", L"version='1.0'")) << doc.error();
    Document back;
    ASSERT_TRUE(back.load(L"C:\\deep.xml")) << back.error();
    EXPECT_EQ(back.select(L"//a").back().attribute(L"n"), std::to_wstring(deepest - 1));
    EXPECT_EQ(back.root().text(), L"t&x");

    for (std::size_t depth : {deepest + 1, std::size_t{300000}}) {
        EXPECT_FALSE(doc.parse(nested(depth)));
        EXPECT_FALSE(doc.isOpen());
        EXPECT_NE(doc.error().find(L"not a well-formed XML document"), std::wstring::npos);
    }

    // One level more by building: copied without recursion, refused when written.
    ASSERT_TRUE(doc.create(L"Top"));
    ASSERT_TRUE(doc.root().appendCopy(back.root()));
    EXPECT_EQ(doc.select(L"//a").size(), deepest);
    EXPECT_FALSE(doc.save(L"C:\\deeper.xml", L"version='1.0'"));
    EXPECT_NE(doc.error().find(L"deeper than 256 levels"), std::wstring::npos);
}

}  // namespace
