// The payload written from the program's resources into the work folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "mendwell/base/patch_state.h"
#include "mendwell/base/payload_extractor.h"
#include "mendwell/base/workfolder.h"
#include "tests/base/base_fixtures.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;

class PayloadTest : public ::testing::Test {
  protected:
    PayloadTest() { mw::patchGlobals().rollbackMode = 0; }
    ~PayloadTest() override { mw::patchGlobals().rollbackMode = 0; }
    void addAll(const std::string& archive) {
        module.add(L"MANIFEST", 100, "<Manifest/>");
        module.add(L"PATCHFILES", 100, archive);
        module.add(L"QUADRELFILES", 100, "tool");
        module.add(L"QUADRELFILES", 200, "engine");
    }
    TestMachine machine;
    shell_test::ResourceModule module;
};

TEST_F(PayloadTest, LayoutAfterExtraction) {
    addAll(shell_test::makeZip({{"1", "first"}, {"2", "second"}}));
    shell_test::CapturedLog log(machine);
    mw::PayloadExtractor payload(module.build());
    EXPECT_TRUE(payload.succeeded());
    const std::wstring w = mw::workFolder();
    EXPECT_EQ(payload.manifestPath(), w + L"\\manifest.xml");
    EXPECT_EQ(payload.archivePath(), w + L"\\ZippedStagingArea\\PatchFiles.zip");
    EXPECT_EQ(payload.stagingAreaPath(), w + L"\\StagingArea");
    EXPECT_EQ(machine.readFile(w + L"\\manifest.xml"), "<Manifest/>");
    EXPECT_EQ(machine.readFile(w + L"\\StagingArea\\1"), "first");
    EXPECT_EQ(machine.readFile(w + L"\\StagingArea\\2"), "second");
    EXPECT_EQ(machine.readFile(w + L"\\Quadrel\\patch.exe"), "tool");
    EXPECT_EQ(machine.readFile(w + L"\\Quadrel\\quadw32.dll"), "engine");
    EXPECT_TRUE(machine.exists(w + L"\\ZippedStagingArea\\PatchFiles.zip"));

    const auto lines = log.lines();
    EXPECT_EQ(shell_test::messagesOf(lines, L"INFO"),
              (std::vector<std::wstring>{
                  L"==========================Begin: Manifest XML Processing===========================",
                  L"Manifest XML will be extracted at " + w + L"\\manifest.xml ",
                  L"Staging Area will be extracted at " + w + L"\\StagingArea ",
                  L"Manifest XML file Parser succeessfully",
                  L"Manifest extracted successfully.",
                  L"Zipped PatchFiles successfully extracted.",
                  L"Staging area extracted successfully.",
                  L"Quadrel Files extracted Succesfully",
              }));
    EXPECT_TRUE(shell_test::messagesOf(lines, L"ERROR").empty());
}

TEST_F(PayloadTest, RollbackModeExtractsNothing) {
    addAll(shell_test::makeZip({{"1", "first"}}));
    mw::patchGlobals().rollbackMode = 1;
    mw::PayloadExtractor payload(module.build());
    EXPECT_TRUE(payload.succeeded());
    const std::wstring w = mw::workFolder();
    EXPECT_EQ(payload.manifestPath(), w + L"\\RollbackManifest.xml");
    std::vector<std::string> inside;
    for (const auto& e : std::filesystem::directory_iterator(machine.host(w))) {
        inside.push_back(e.path().filename().string());
    }
    EXPECT_TRUE(inside.empty());
}

TEST_F(PayloadTest, MissingResourcesClearTheFlagWithTheirMessages) {
    struct Case {
        std::vector<std::wstring> types;
        std::wstring error;
    };
    const std::vector<Case> cases{
        {{L"PATCHFILES", L"QUADRELFILES"}, L"Manifest XML failed to extract from EXE."},
        {{L"MANIFEST", L"QUADRELFILES"}, L"Zipped PatchFiles failed to extract from EXE"},
        {{L"MANIFEST", L"PATCHFILES"}, L"Quadrel files failed to extract from EXE"},
    };
    const std::string zip = shell_test::makeZip({{"1", "x"}});
    for (const Case& c : cases) {
        shell_test::ResourceModule m;
        for (const auto& type : c.types) {
            m.add(type, 100, type == L"PATCHFILES" ? zip : "data");
            if (type == L"QUADRELFILES") m.add(type, 200, "data");
        }
        shell_test::CapturedLog log(machine);
        mw::PayloadExtractor payload(m.build());
        EXPECT_FALSE(payload.succeeded());
        const auto errors = shell_test::messagesOf(log.lines(), L"ERROR");
        ASSERT_FALSE(errors.empty());
        EXPECT_EQ(errors.front(), c.error);
    }
}

TEST_F(PayloadTest, ArchiveThatCannotBeUnpackedFailsThePayload) {
    addAll("this is not a zip archive");
    shell_test::CapturedLog log(machine);
    mw::PayloadExtractor payload(module.build());
    EXPECT_FALSE(payload.succeeded());
    const auto lines = log.lines();
    const auto info = shell_test::messagesOf(lines, L"INFO");
    EXPECT_EQ(info.back(), L"Staging Area extraction failed.");
    EXPECT_EQ(shell_test::messagesOf(lines, L"ERROR").size(), 1u);
}

}  // namespace
