// Started by the update manager: detection through the Verdicta library the patcher carries (here a
// test double), the install folder the database decides, and the result file left for the manager.
#include "platform/text/text.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;

const wchar_t* const kResultFile = L"C:\\QUD\\result.xml";
// The update manager's idea of the folder, deliberately not the one the database knows.
const char* const kReportedDir = "D:\\Elsewhere\\Lumen\\";

std::string resultXml(int code, const std::string& message) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<Verdicta version=\"5\">\r\n<ReturnCode>" +
           std::to_string(code) + "</ReturnCode>\r\n<UserMessage>" + message +
           "</UserMessage>\r\n</Verdicta>\r\n";
}

class UpdateManagerTest : public ScenarioTest {
  protected:
    UpdateManagerTest() { fs::create_directories(machine_->host(L"C:\\QUD")); }

    PatcherRun runFromUpdateManager(std::map<std::string, std::string> environment = {
                                        {"QUD_APP_INSTALL_PATH", kReportedDir}}) {
        environment["QUD_IRPT_PATH"] = win::toUtf8(kResultFile);
        return run({}, patcherWithResultLibrary(MENDWELL_QUD_DOUBLE), environment);
    }
    std::string resultFile() const {
        const fs::path host = machine_->host(kResultFile);
        return fs::exists(host) ? testing_support::readHostFile(host) : std::string("(no result file)");
    }
    void expectDetected(const std::string& log) {
        for (const std::string& line : {
                 record("INFO", "Checkin if its intiated via QUD..."),
                 record("INFO",
                        "Mendwell found that this is the only instance running. Patch will progress."),
                 record("INFO", "The patcher investigating if it is initiated via QUD."),
                 record("INFO", "Patcher has successfully extracted the QUD library from the EXE resource."),
                 record("INFO", "Patcher has successfully loaded the QUD library."),
                 record("INFO", "QUD has successfully detected the product."),
                 // Reported without its trailing backslash.
                 record("INFO",
                        "QUD has detected the product and InstallDir is found to be: D:\\Elsewhere\\Lumen"),
                 record("INFO", "Successfully unloaded the QUD library."),
                 record("INFO", "Patcher is initiated via QUD."),
                 record("INFO",
                        "Mendwell found that you are logged in as an administrator. Patch will progress."),
                 record("INFO", "INSTALLDIR: D:\\Elsewhere\\Lumen"),
             }) {
            EXPECT_TRUE(contains(log, line)) << line << log;
        }
        EXPECT_FALSE(contains(log, "user will be presented the UI now"));
        // Detection builds the library path once and loads from it.
        const auto from = log.find("The patcher investigating if it is initiated via QUD.");
        const auto to = log.find("Patcher has successfully loaded the QUD library.");
        ASSERT_LT(from, to);
        const std::string detection = log.substr(from, to - from);
        EXPECT_EQ(detection.find("Verdicta library path: "), detection.rfind("Verdicta library path: "))
            << detection;
    }
};

// Nothing registered: the database's (empty) folder replaces the reported one, the version cannot fit,
// and the refusal is reported with code 4; the process ends with 6.
TEST_F(UpdateManagerTest, ProductNotRegisteredIsRefusedWith6) {
    PatcherRun r = runFromUpdateManager();
    EXPECT_EQ(r.exitCode, 6) << r.output;
    const std::string log = logText();
    expectDetected(log);
    EXPECT_TRUE(contains(log, record("INFO",
                                     "InstallDir returned from QUD is different than obtained from TALLY dB, "
                                     "InstallDir from TALLY takes precedence and is found to be: ")))
        << log;
    EXPECT_TRUE(
        contains(log, record("ERROR",
                             "The patcher with which you are trying to patch the product cannot patch "
                             "this version of the product.")))
        << log;
    // The shipped English dictionary gives the text of the refusal.
    EXPECT_EQ(resultFile(), resultXml(4, "The update cannot be applied to the product."));
}

// A fitting product reaches the patch run, which stops at the manifest (not applicable in this build):
// the run is rolled back and reported as a failed patch.
TEST_F(UpdateManagerTest, RegisteredProductIsPatchedInTheDatabaseFolder) {
    registerProduct("9.0");
    PatcherRun r = runFromUpdateManager();
    EXPECT_EQ(r.exitCode, 9) << r.output;
    const std::string log = logText();
    expectDetected(log);
    EXPECT_TRUE(contains(log, record("INFO",
                                     "InstallDir returned from QUD is different than obtained from TALLY dB, "
                                     "InstallDir from TALLY takes precedence and is found to be: C:\\Program "
                                     "Files\\Orvex\\Lumen TX4")))
        << log;
    EXPECT_TRUE(contains(log, record("ERROR", "Updater failed. Please try again."))) << log;
    EXPECT_FALSE(contains(log, "successfully updated"));
    EXPECT_EQ(resultFile(), resultXml(4,
                                      "The update cannot be applied to the product. Please re-install the "
                                      "product and try again."));
    EXPECT_FALSE(machine_->exists(std::wstring(kInstallDir) + L"\\readme.txt"));
}

TEST_F(UpdateManagerTest, VersionThatDoesNotFitReturns6) {
    registerProduct("8.5");
    PatcherRun r = runFromUpdateManager();
    EXPECT_EQ(r.exitCode, 6) << r.output;
    const std::string log = logText();
    expectDetected(log);
    EXPECT_TRUE(
        contains(log, record("ERROR",
                             "The patcher with which you are trying to patch the product cannot patch "
                             "this version of the product.")))
        << log;
    // Refused before the patch run: nothing extracted.
    for (const fs::path& work : workFolders()) EXPECT_FALSE(fs::exists(work / "manifest.xml"));
    EXPECT_EQ(resultFile(), resultXml(4, "The update cannot be applied to the product."));
}

// Only the result path set: not the update manager's run. The wizard takes over and the provisional
// failure stays in the result file.
TEST_F(UpdateManagerTest, WithoutAnInstallPathTheWizardRuns) {
    registerProduct("9.0");
    PatcherRun r = runFromUpdateManager({});
    EXPECT_EQ(r.exitCode, 2) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, record("INFO", "Patcher has successfully loaded the QUD library."))) << log;
    EXPECT_TRUE(contains(log, record("INFO",
                                     "Patcher is not intiated via QUD, patcher will now try to find "
                                     "INSTALLDIR through data in config.xml")))
        << log;
    EXPECT_TRUE(contains(
        log,
        record(
            "INFO",
            "Mendwell was not initiated via QUD or with <Silent> option, user will be presented the UI now")))
        << log;
    EXPECT_FALSE(contains(log, "QUD has successfully detected the product."));
    EXPECT_FALSE(contains(log, "Patcher is initiated via QUD."));
    EXPECT_EQ(resultFile(), resultXml(4, "Updater did not Worked"));
}

}  // namespace
}  // namespace scenarios
