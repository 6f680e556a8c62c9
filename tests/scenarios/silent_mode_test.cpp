// Silent mode on a registered (or missing) product: the codes 5, 6 and 9 with their log lines.
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;
using SilentModeTest = ScenarioTest;

TEST_F(SilentModeTest, ProductNotRegisteredReturns5) {
    PatcherRun r = run({"-SILENT"});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_TRUE(contains(r.output, "\r\nPatcher is unsuccessful.\r\nReturn code: 5")) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, "  Patcher fails to locate the application.\r\n")) << log;
    EXPECT_FALSE(contains(log, "Patcher found the INSTALLDIR"));
}

TEST_F(SilentModeTest, WrongVersionReturns6WithTheVersionLine) {
    registerProduct("8.5");
    PatcherRun r = run({"-SILENT"});
    EXPECT_EQ(r.exitCode, 6) << r.output;
    EXPECT_TRUE(contains(r.output, "Return code: 6")) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(
        log, "Patcher found the INSTALLDIR and its found to be: C:\\Program Files\\Orvex\\Lumen TX4\r\n"))
        << log;
    EXPECT_TRUE(contains(log, record("ERROR",
                                     "The patcher with which you are trying to patch the product cannot "
                                     "patch this version of the product.")))
        << log;
    // Refused before the patch run: nothing extracted.
    for (const fs::path& work : workFolders()) EXPECT_FALSE(fs::exists(work / "manifest.xml"));
}

TEST_F(SilentModeTest, ProductNewerThanAComboPatchReturns6AsAlreadyUpdated) {
    registerProduct("9.0.4");
    PatcherRun r = run({"-SILENT"}, patcher(configXml("<ComboPatch>true</ComboPatch>")));
    EXPECT_EQ(r.exitCode, 6) << r.output;
    EXPECT_TRUE(
        contains(logText(), record("ERROR", "The Product you are trying to update is already updated.")))
        << logText();
}

// A product that fits reaches the patch run, which extracts the payload and then stops before any
// change: this build cannot apply manifests, and the run says so instead of claiming success.
TEST_F(SilentModeTest, FittingProductRunsThePatchUpToTheManifest) {
    registerProduct("9.0");
    PatcherRun r = run({"-SILENT", "-LOGLEVEL=3"});
    EXPECT_EQ(r.exitCode, 9) << r.output;
    EXPECT_TRUE(contains(r.output, "Return code: 9")) << r.output;

    const std::string log = logText();
    for (const char* line :
         {"Product is located and validated.", "Install language of the product as returned by Tally: en_US",
          "Install language of the product as set by patcher: en_US",
          "Manifest processing is not available in this build",
          "Patching fails, Rolling back the changes done by the patcher...",
          "Patcher failed. Please try again."}) {
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    }
    EXPECT_FALSE(contains(log, "successfully updated"));

    // The work folder holds the payload, the staging area and an emptied backup folder.
    const auto work = workFolders();
    ASSERT_EQ(work.size(), 1u);
    EXPECT_TRUE(fs::exists(work[0] / "manifest.xml"));
    EXPECT_TRUE(fs::exists(work[0] / "ZippedStagingArea" / "PatchFiles.zip"));
    EXPECT_EQ(testing_support::readHostFile(work[0] / "StagingArea" / "1"), "Lumen TX4 9.0.3\r\n");
    EXPECT_EQ(fs::file_size(work[0] / "StagingArea" / "2"), 4096u);
    EXPECT_TRUE(fs::is_directory(work[0] / "BackUp"));
    EXPECT_TRUE(fs::is_empty(work[0] / "BackUp"));
    // The product was not touched.
    EXPECT_FALSE(machine_->exists(std::wstring(kInstallDir) + L"\\readme.txt"));
}

}  // namespace
}  // namespace scenarios
