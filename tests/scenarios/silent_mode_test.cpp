// Silent mode on a registered (or missing) product: the codes 5, 6 and 9 with their log lines.
#include "tests/scenarios/patcher_fixture.h"

#include "mendwell/records/patch_history.h"

#include "platform/system/system.h"
#include "platform/text/text.h"

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

// Already updated, by the database's version (a combo patch) or by the history: 6 with its line.
TEST_F(SilentModeTest, AlreadyUpdatedProductReturns6WithItsLine) {
    for (const bool byHistory : {false, true}) {
        SCOPED_TRACE(byHistory ? "history" : "combo");
        machine_ = std::make_unique<testing_support::TestMachine>();
        registerProduct(byHistory ? "9.0" : "9.0.4");
        if (byHistory) writeHistory("9.1");
        PatcherRun r = run({"-SILENT"}, patcher(configXml(byHistory ? "<ComboPatch>false</ComboPatch>"
                                                                    : "<ComboPatch>true</ComboPatch>")));
        EXPECT_EQ(r.exitCode, 6) << r.output;
        EXPECT_TRUE(
            contains(logText(), record("ERROR", "The Product you are trying to update is already updated.")))
            << logText();
    }
}

// A history that cannot be written would let the same patch run again: refused before any change.
TEST_F(SilentModeTest, UnwritableHistoryIsRefusedBeforeAnyChange) {
    registerProduct("9.0");
    machine_->writeFile(std::wstring(kInstallDir) + L"\\bin\\lumen.dll", "9.0 library");
    std::wstring common;
    ASSERT_TRUE(win::shellFolder(win::csidl::programFilesCommon, common));
    machine_->writeFile(common + L"\\Orvex\\Installers", "a file, not a folder");
    PatcherRun r = run({"-SILENT"});
    EXPECT_EQ(r.exitCode, 6) << r.output << logText();
    EXPECT_TRUE(contains(logText(), "Pre-flight: history: the history file's folder cannot be made: " +
                                        win::toUtf8(common) + "\\Orvex\\Installers is a file"))
        << logText();
    EXPECT_FALSE(machine_->exists(std::wstring(kInstallDir) + L"\\readme.txt"));
    EXPECT_EQ(machine_->readFile(std::wstring(kInstallDir) + L"\\bin\\lumen.dll"), "9.0 library");
}

// A manifest that is no patch manifest (root or set misspelt) fails before any change, and records no
// history that would refuse the right patcher later.
TEST_F(SilentModeTest, AManifestThatIsNoPatchManifestFails) {
    const std::string add =
        "<File><Operation>add</Operation><ObjectName>1</ObjectName>"
        "<DestinationPath dir=\"[INSTALLDIR]\" defName=\"readme.txt\"/></File>";
    for (const std::string& manifest : {"<PatchManifest><FileSet>" + add + "</FileSet></PatchManifest>",
                                        "<Manifest><Fileset>" + add + "</Fileset></Manifest>"}) {
        SCOPED_TRACE(manifest);
        machine_ = std::make_unique<testing_support::TestMachine>();
        registerProduct("9.0");
        PatchFolder patch;
        patch.manifest = manifest;
        patch.payload = {{"1", "Lumen TX4 9.0.3\r\n"}};
        PatcherRun r = run({"-SILENT"}, patcherFor(patch));
        EXPECT_EQ(r.exitCode, 9) << r.output;
        EXPECT_TRUE(contains(logText(), "The manifest is not a patch manifest: ")) << logText();
        EXPECT_FALSE(machine_->exists(mw::PatchHistoryFile::pathFor(win::fromUtf8(kProductCode))));
        EXPECT_FALSE(machine_->exists(std::wstring(kInstallDir) + L"\\readme.txt"));
    }
}

// A user whose name has no form in the ANSI code page (Polish letters on 1252): the work folder lies in
// the user's profile, and the patch and its dictionaries are unpacked there all the same.
class UserOutsideTheCodePage : public ScenarioTest {
  protected:
    UserOutsideTheCodePage()
        : ScenarioTest([] {
              win::MachineProfile p;
              p.userName = L"\u0141ukasz \u017B\u00F3\u0142w";
              p.ansiCodePage = 1252;
              return p;
          }()) {}
};

TEST_F(UserOutsideTheCodePage, PatchesAsAnyOther) {
    registerProduct("9.0");
    machine_->writeFile(std::wstring(kInstallDir) + L"\\bin\\lumen.dll", "9.0 library");
    PatcherRun r = run({"-SILENT"});
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    EXPECT_EQ(machine_->readFile(std::wstring(kInstallDir) + L"\\readme.txt"), "Lumen TX4 9.0.3\r\n");
    ASSERT_EQ(workFolders().size(), 1u);
    EXPECT_TRUE(contains(workFolders()[0].string(), "\xC5\x81ukasz")) << workFolders()[0];
}

// The fault hook works only on a machine made for tests; elsewhere one WARNING line says it is ignored.
TEST_F(SilentModeTest, TheFaultHookIsIgnoredOnAMachineNotMadeForTests) {
    registerProduct("9.0");
    machine_->writeFile(std::wstring(kInstallDir) + L"\\bin\\lumen.dll", "9.0 library");
    const fs::path ini = machine_->root() / "machine.ini";
    std::string profile = testing_support::readHostFile(ini);
    ASSERT_NE(profile.find("test=yes\n"), std::string::npos) << profile;
    profile.erase(profile.find("test=yes\n"), 9);
    testing_support::writeHostFile(ini, profile);

    PatcherRun r = run({"-SILENT"}, patcher(), {{"MENDWELL_FAULT", "fail:1"}});
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    const std::string warning =
        record("WARNING", "MENDWELL_FAULT is set, but this is not a machine made for tests: it is ignored.");
    const std::string log = logText();
    EXPECT_NE(log.find(warning), std::string::npos) << log;
    EXPECT_EQ(log.find(warning), log.rfind(warning)) << log;
    EXPECT_FALSE(contains(log, "Injected fault")) << log;
}

// A product that fits is patched: the file added, the file overwritten, the backups cleaned up, and the
// history recorded, so that running the same patcher again is refused as already updated.
TEST_F(SilentModeTest, FittingProductIsPatchedAndASecondRunIsRefused) {
    registerProduct("9.0");
    machine_->writeFile(std::wstring(kInstallDir) + L"\\bin\\lumen.dll", "9.0 library");
    PatcherRun r = run({"-SILENT", "-LOGLEVEL=3"});
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    EXPECT_TRUE(contains(r.output, "Patcher is successful.")) << r.output;

    const std::string log = logText();
    for (const char* line :
         {"Product is located and validated.", "Install language of the product as returned by Tally: en_US",
          "Adding file: C:\\Program Files\\Orvex\\Lumen TX4\\readme.txt", "File added successfully.",
          "Overwriting file: C:\\Program Files\\Orvex\\Lumen TX4\\bin\\lumen.dll",
          "No directories are being found to operate.",
          "Updater has successfully updated the application."}) {
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    }
    EXPECT_EQ(machine_->readFile(std::wstring(kInstallDir) + L"\\readme.txt"), "Lumen TX4 9.0.3\r\n");
    EXPECT_EQ(machine_->readFile(std::wstring(kInstallDir) + L"\\bin\\lumen.dll"), std::string(4096, 'L'));
    const auto work = workFolders();
    ASSERT_EQ(work.size(), 1u);
    EXPECT_TRUE(fs::is_empty(work[0] / "BackUp"));
    const std::string rollbackManifest = testing_support::readHostFile(work[0] / "RollbackManifest.xml");
    EXPECT_FALSE(rollbackManifest.empty());

    std::wstring common;
    ASSERT_TRUE(win::shellFolder(win::csidl::programFilesCommon, common));
    const std::wstring history = common + L"\\Orvex\\Installers\\" + win::fromUtf8(kProductCode) + L".patch";
    ASSERT_TRUE(machine_->exists(history));

    PatcherRun again = run({"-SILENT"});
    EXPECT_EQ(again.exitCode, 6) << again.output;
    EXPECT_TRUE(
        contains(logText(), record("ERROR", "The Product you are trying to update is already updated.")));
}

}  // namespace
}  // namespace scenarios
