// The rollback manifest and the patch history file: their shape on disk, recording patches one after
// another, and damaged or missing inputs.
#include <gtest/gtest.h>

#include "mendwell/records/patch_history.h"
#include "mendwell/records/rollback_manifest.h"
#include "mendwell/base/fast_xml_parser.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "tests/records/records_fixture.h"

namespace {

using records_test::RecordsTest;
using win::xml::Document;

const std::wstring kCode = L"LTX4";

std::wstring fileText(const testing_support::TestMachine& m, const std::wstring& path) {
    std::string bytes = m.readFile(path);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "UTF-16LE with byte-order mark";
    return win::fromUtf16le(bytes.substr(2));
}

class RecordFiles : public RecordsTest {
  protected:
    // A rollback manifest of this run holding one undo entry.
    std::wstring rollbackWithOneEntry() {
        mw::RollbackManifestFile rb(mw::workPath(L"\\RollbackManifest.xml"));
        auto file = rb.fileSet().appendElement(L"File");
        file.appendElement(L"Operation", L"remove");
        file.appendElement(L"ObjectName", L"1");
        file.appendElement(L"DestinationPath", L"C:\\P\\new.dll");
        EXPECT_TRUE(rb.save());
        return rb.path();
    }
    std::wstring historyPath() const { return mw::PatchHistoryFile::pathFor(kCode); }
    std::vector<win::xml::Node> entries(Document& doc) {
        EXPECT_TRUE(doc.load(historyPath())) << doc.error();
        return doc.select(L"//TVRHistory//Patcher");
    }
};

TEST_F(RecordFiles, RollbackManifestShapeAndReadBack) {
    mw::RollbackManifestFile rb(mw::workPath(L"\\RollbackManifest.xml"));
    EXPECT_TRUE(logged(L"CRITICALINFO", L"new rollbackXMLFile"));
    EXPECT_TRUE(logged(L"INFO", L"Rollback Manifest is created at: " + rb.path()));
    auto file = rb.fileSet().appendElement(L"File");
    file.appendElement(L"Operation", L"add");
    file.appendElement(L"ObjectName", L"7");
    file.appendElement(L"DestinationPath", L"C:\\P\\a & b.dll");
    auto dir = rb.directorySet().appendElement(L"Directory");
    dir.appendElement(L"Operation", L"remove");
    dir.appendElement(L"DirectoryBase", L"C:\\P");
    auto pds = rb.pdsSet().appendElement(L"PDS");
    pds.appendElement(L"Operation", L"remove");
    pds.appendElement(L"Root", L"HKLM");
    ASSERT_TRUE(rb.save());

    std::wstring text = fileText(*machine_, rb.path());
    EXPECT_EQ(
        text.rfind(
            L"<?xml version='1.0' encoding='UTF-16'?>\r\n<!--TVR generated RollbackManifest.XML file-->", 0),
        0u)
        << text;

    // The rollback run reads it with the manifest's own parser and set paths.
    mw::CFastXMLParser parser;
    ASSERT_TRUE(parser.parseFile(rb.path())) << parser.errorText();
    auto files = parser.selectNodes(L"//Manifest/FileSet/File");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0]->textAt(L"Operation"), L"add");
    EXPECT_EQ(files[0]->textAt(L"DestinationPath"), L"C:\\P\\a & b.dll");
    EXPECT_EQ(parser.selectNodes(L"//Manifest/DirectorySet/Directory").size(), 1u);
    EXPECT_EQ(parser.selectNodes(L"//Manifest/PDSSet/PDS")[0]->textAt(L"Root"), L"HKLM");

    // Only the first save writes.
    rb.fileSet().appendElement(L"File");
    EXPECT_TRUE(rb.save());
    ASSERT_TRUE(parser.parseFile(rb.path()));
    EXPECT_EQ(parser.selectNodes(L"//Manifest/FileSet/File").size(), 1u);
}

// The journal a run leaves when it dies: settled write-ahead records drop out, a failed entry's and the
// interrupted entry's stay, and the line cut off by the end of the process is skipped.
TEST_F(RecordFiles, JournalReadsBackWhatARunThatDiedHadChanged) {
    const std::wstring path = mw::workPath(L"\\RollbackManifest.xml");
    {
        mw::RollbackManifestFile rb(path);
        rb.setInstallFolder(L"C:\\P");
        auto undo = [&](const wchar_t* name) {
            auto file = rb.fileSet().prependElement(L"File");
            file.appendElement(L"Operation", L"remove");
            file.appendElement(L"ObjectName", name);
            rb.journal(file);
        };
        rb.beginPending();  // done and settled
        undo(L"p1");
        rb.endPending();
        undo(L"1");
        rb.settle();
        rb.beginPending();  // nothing to repair: no line at all
        rb.endPending();
        rb.settle();
        rb.beginPending();  // failed: kept for the rollback
        undo(L"p3");
        rb.endPending();
        rb.keepPending();
        rb.beginPending();  // the process dies while this entry acts
        undo(L"p4");
        rb.endPending();
        std::vector<std::wstring> own;
        for (const auto& f : rb.fileSet().children()) own.push_back(f.firstChild(L"ObjectName").text());
        EXPECT_EQ(own, (std::vector<std::wstring>{L"p3", L"1"}));
    }
    std::string bytes = machine_->readFile(path + L".journal");
    machine_->writeFile(path + L".journal", bytes + "<File><Operation>rem");

    mw::JournalReplay replay;
    ASSERT_TRUE(mw::readJournal(path + L".journal", replay));
    EXPECT_EQ(replay.installFolder, L"C:\\P");
    EXPECT_EQ(replay.skippedLines, 1);
    EXPECT_EQ(replay.entries, 3);
    std::vector<std::wstring> order;
    for (const auto& f : replay.manifest.root().firstChild(L"FileSet").children())
        order.push_back(f.firstChild(L"ObjectName").text());
    EXPECT_EQ(order, (std::vector<std::wstring>{L"p4", L"p3", L"1"}));
}

TEST_F(RecordFiles, FirstSecondAndRepeatedPatches) {
    addProduct("LTX4", "C:\\P", "9.0", "C7", 1700000000, 1700000100);
    std::wstring rollback = rollbackWithOneEntry();
    mw::PatcherConfigRecord config = records_test::patchConfig({kCode});

    mw::PatchHistoryFile history(kCode);
    ASSERT_TRUE(history.record(config, rollback));
    std::wstring text = fileText(*machine_, historyPath());
    EXPECT_EQ(
        text.rfind(
            L"<?xml version='1.0' encoding='UTF-16'?>\r\n<!--TVR generated OrvexCode.patch XML file-->", 0),
        0u)
        << text;
    {
        Document doc;
        auto list = entries(doc);
        ASSERT_EQ(list.size(), 1u);
        EXPECT_EQ(doc.root().attribute(L"tsInstalled"), L"1700000000");
        EXPECT_EQ(doc.root().attribute(L"tsModified"), L"1700000100");
        EXPECT_EQ(list[0].attribute(L"SequenceID"), L"1");
        EXPECT_EQ(list[0].attribute(L"PatcherID"), L"LTX4-903");
        std::vector<std::wstring> children;
        for (auto& c : list[0].children())
            children.push_back(c.name() + L"=" + (c.name() == L"Manifest" ? L"" : c.text()));
        EXPECT_EQ(children, (std::vector<std::wstring>{L"OldVersion=9.0", L"NewVersion=9.0.3",
                                                       L"OrvexCode=LTX4", L"ProductName=Lumen TX4",
                                                       L"ProductFamily=Lumen", L"Manifest="}));
        EXPECT_EQ(list[0].selectFirst(L"Manifest/FileSet/File/DestinationPath").text(), L"C:\\P\\new.dll");
    }

    // A second, different patch; the database's time stamps changed meanwhile but the root keeps its own.
    setTallyValue("LTX4", "tsInstalled", "1800000000");
    mw::PatcherConfigRecord second = config;
    second.patcherId = L"LTX4-904";
    second.oldVersion = L"9.0.3";
    second.newVersion = L"9.0.4";
    ASSERT_TRUE(mw::PatchHistoryFile(kCode).record(second, rollback));
    // The same patch again changes nothing.
    ASSERT_TRUE(mw::PatchHistoryFile(kCode).record(second, rollback));
    {
        Document doc;
        auto list = entries(doc);
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[1].attribute(L"SequenceID"), L"2");
        EXPECT_EQ(list[1].attribute(L"PatcherID"), L"LTX4-904");
        EXPECT_EQ(doc.root().attribute(L"tsInstalled"), L"1700000000");
    }
    mw::PatchHistoryFile reread(kCode);
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.entryCount(), L"2");
    EXPECT_EQ(reread.latestValue(L"NewVersion"), L"9.0.4");
    EXPECT_EQ(reread.latestValue(L"OldVersion"), L"9.0.3");
    EXPECT_EQ(reread.tsInstalled(), L"1700000000");
}

TEST_F(RecordFiles, LatestEntryHasTheHighestSequenceId) {
    win::createDirectory(L"C:\\Program Files\\Common Files\\Orvex");
    win::createDirectory(L"C:\\Program Files\\Common Files\\Orvex\\Installers");
    machine_->writeFile(historyPath(),
                        "<?xml version='1.0'?><TVRHistory tsInstalled='5' tsModified='6'>"
                        "<Patcher SequenceID='1' PatcherID='a'><NewVersion>9.0.1</NewVersion></Patcher>"
                        "<Patcher SequenceID='3' PatcherID='c'><NewVersion>9.0.3</NewVersion></Patcher>"
                        "<Patcher SequenceID='2' PatcherID='b'><NewVersion>9.0.2</NewVersion></Patcher>"
                        "</TVRHistory>");
    mw::PatchHistoryFile history(kCode);
    ASSERT_TRUE(history.load());
    EXPECT_EQ(history.entryCount(), L"3");
    EXPECT_EQ(history.latestValue(L"NewVersion"), L"9.0.3");
    EXPECT_EQ(history.latestPatcherId(), L"c");

    // With a gap in the numbering a new entry still comes after the highest and is read back as latest.
    addProduct("LTX4", "C:\\P", "9.0");
    machine_->writeFile(historyPath(),
                        "<?xml version='1.0'?><TVRHistory tsInstalled='5' tsModified='6'>"
                        "<Patcher SequenceID='1' PatcherID='a'><NewVersion>9.0.1</NewVersion></Patcher>"
                        "<Patcher SequenceID='3' PatcherID='c'><NewVersion>9.0.2</NewVersion></Patcher>"
                        "</TVRHistory>");
    ASSERT_TRUE(history.record(records_test::patchConfig({kCode}), rollbackWithOneEntry()));
    mw::PatchHistoryFile reread(kCode);
    ASSERT_TRUE(reread.load());
    EXPECT_EQ(reread.latestValue(L"NewVersion"), L"9.0.3");
    Document doc;
    EXPECT_EQ(entries(doc).back().attribute(L"SequenceID"), L"4");

    mw::PatchHistoryFile none(L"OTHER");
    EXPECT_FALSE(none.load());
    EXPECT_EQ(none.entryCount(), L"0");
    EXPECT_EQ(none.latestValue(L"NewVersion"), L"");
    EXPECT_EQ(none.tsInstalled(), L"");
}

TEST_F(RecordFiles, UnknownCollectionAndUnreadableRollbackManifest) {
    addProduct("LTX4", "C:\\P", "9.0");  // no collection
    ASSERT_TRUE(
        mw::PatchHistoryFile(kCode).record(records_test::patchConfig({kCode}), L"C:\\nowhere\\rb.xml"));
    EXPECT_TRUE(logged(L"ERROR", L"Error reading the rollback manifest file from temp directory."));
    Document doc;
    auto list = entries(doc);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_TRUE(doc.root().hasAttribute(L"tsInstalled"));
    EXPECT_EQ(doc.root().attribute(L"tsInstalled"), L"");
    EXPECT_EQ(doc.root().attribute(L"tsModified"), L"");
    auto last = list[0].childNodes().back();
    EXPECT_TRUE(last.isComment());
    EXPECT_EQ(last.text(), L"no rollback manifest info available");
}

TEST_F(RecordFiles, DamagedHistoryIsKeptAsideNotOverwritten) {
    addProduct("LTX4", "C:\\P", "9.0", "C7", 11, 12);
    win::createDirectory(L"C:\\Program Files\\Common Files\\Orvex");
    win::createDirectory(L"C:\\Program Files\\Common Files\\Orvex\\Installers");
    const std::string damaged = "<TVRHistory tsInstalled='11'><Patcher SequenceID='1' PatcherID='x'>";
    machine_->writeFile(historyPath(), damaged);

    mw::PatchHistoryFile history(kCode);
    EXPECT_FALSE(history.load());
    EXPECT_TRUE(history.isDamaged());
    EXPECT_EQ(history.entryCount(), L"0");

    ASSERT_TRUE(history.record(records_test::patchConfig({kCode}), rollbackWithOneEntry()));
    EXPECT_EQ(machine_->readFile(historyPath() + L".bad"), damaged);
    EXPECT_TRUE(logged(L"WARNING", L"The damaged history file is kept as " + historyPath() +
                                       L".bad and a new one is created."));
    Document doc;
    auto list = entries(doc);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].attribute(L"SequenceID"), L"1");
    EXPECT_EQ(doc.root().attribute(L"tsInstalled"), L"11");
}

}  // namespace
