// Silent runs against running applications of the product and the manifest's services.
#include "platform/fs/file.h"
#include "platform/services/services.h"
#include "platform/text/text.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

class ServicesAppsTest : public ScenarioTest {
  protected:
    void replaceTheFileOfARunningService(bool alsoHeldElsewhere);
};

const std::wstring kReadme = std::wstring(kInstallDir) + L"\\readme.txt";

std::string withService(const std::string& service, const std::string& rest) {
    return "<Manifest><ServiceSet><Service><Operation>stop</Operation><ServiceName>" + service +
           "</ServiceName><ArgumentList><Argument>-resume</Argument></ArgumentList></Service></ServiceSet>"
           "<FileSet><File><Operation>add</Operation><ObjectName>1</ObjectName>"
           "<DestinationPath dir=\"[INSTALLDIR]\\\" defName=\"readme.txt\"/></File></FileSet>" +
           rest + "</Manifest>";
}

void addService(const wchar_t* name, bool refusesStop) {
    win::ServiceRecord r;
    r.name = name;
    r.state = win::svcstate::running;
    r.behaviour.refusesStop = refusesStop;
    ASSERT_TRUE(win::addService(r));
}

win::DWORD stateOf(const wchar_t* name) {
    win::ServiceRecord r;
    return win::getService(name, r) ? r.state : 0;
}

TEST_F(ServicesAppsTest, RunningApplicationOfTheProductRefusesThePatch) {
    registerProduct("9.0");
    auto started =
        testing_support::runProgram(testing_support::binDir() / "machine",
                                    {"process", "start", "C:\\Program Files\\Orvex\\Lumen TX4\\LumenSC.exe",
                                     "--description", "Lumen TX4"});
    ASSERT_EQ(started.exitCode, 0) << started.output;
    const std::string pid = started.output.substr(0, started.output.find('\n'));
    PatcherRun r =
        run({"-SILENT"}, patcher(configXml("<ComboPatch>false</ComboPatch><PrePatchValidation>"
                                           "<AppRunningList><AppRunning>^LumenSC\\.exe$</AppRunning>"
                                           "</AppRunningList></PrePatchValidation>")));
    testing_support::runProgram(testing_support::binDir() / "machine", {"process", "stop", pid});
    EXPECT_EQ(r.exitCode, 6) << r.output;
    EXPECT_TRUE(contains(logText(), record("ERROR", "Applications in Use /n\r\nLumen TX4"))) << logText();
    EXPECT_FALSE(machine_->exists(kReadme));
}

// The patcher named after the product is not one of its running applications.
TEST_F(ServicesAppsTest, ThePatchersOwnProcessIsLeftOut) {
    registerProduct("9.0");
    machine_->writeFile(std::wstring(kInstallDir) + L"\\bin\\lumen.dll", "9.0 library");
    testing_support::TempDir dir;
    const std::filesystem::path named = dir.path() / "LumenTX4_903_Update.exe";
    std::filesystem::copy_file(patcher(configXml("<ComboPatch>false</ComboPatch><PrePatchValidation>"
                                                 "<AppRunningList><AppRunning>^[Ll]umen</AppRunning>"
                                                 "</AppRunningList></PrePatchValidation>")),
                               named);
    PatcherRun r = run({"-SILENT"}, named);
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    EXPECT_FALSE(contains(logText(), "Applications in Use")) << logText();
    EXPECT_TRUE(machine_->exists(kReadme));
}

TEST_F(ServicesAppsTest, ServiceStoppedAroundTheFilesAndTheEntryUpdated) {
    registerProduct("9.0");
    addService(L"LumenSync", false);
    PatchFolder patch;
    patch.manifest = withService("LumenSync",
                                 "<AddRemoveInfo><DisplayVersion><Value>9.0.3</Value>"
                                 "</DisplayVersion></AddRemoveInfo>");
    patch.payload = {{"1", "Lumen TX4 9.0.3\r\n"}};
    PatcherRun r = run({"-SILENT"}, patcherFor(patch));
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    const std::string log = logText();
    EXPECT_TRUE(contains(log, "Successfully stopped the service: LumenSync")) << log;
    EXPECT_TRUE(contains(log, "Successfully started the service: LumenSync")) << log;
    EXPECT_LT(log.find("Successfully stopped the service"), log.find("readme.txt"));
    EXPECT_EQ(stateOf(L"LumenSync"), win::svcstate::running);
    win::ServiceRecord service;
    ASSERT_TRUE(win::getService(L"LumenSync", service));
    EXPECT_EQ(service.lastArguments, std::vector<std::wstring>{L"-resume"});
    EXPECT_TRUE(machine_->exists(kReadme));
}

TEST_F(ServicesAppsTest, RefusedStopFailsBeforeAnyFileChanges) {
    registerProduct("9.0");
    addService(L"LumenSync", true);
    PatchFolder patch;
    patch.manifest = withService("LumenSync", "");
    patch.payload = {{"1", "Lumen TX4 9.0.3\r\n"}};
    PatcherRun r = run({"-SILENT"}, patcherFor(patch));
    EXPECT_EQ(r.exitCode, 9) << r.output;
    EXPECT_TRUE(contains(logText(), "Unable to stop the service: LumenSync. Returned error code: 1061"))
        << logText();
    EXPECT_FALSE(machine_->exists(kReadme));
    EXPECT_EQ(stateOf(L"LumenSync"), win::svcstate::running);
}

// A run that stopped a service and then failed leaves it running again after the rollback.
TEST_F(ServicesAppsTest, RollbackStartsTheServiceTheRunStopped) {
    registerProduct("9.0");
    addService(L"LumenSync", false);
    PatchFolder patch;
    patch.manifest = withService("LumenSync", "");
    patch.payload = {{"1", "Lumen TX4 9.0.3\r\n"}};
    PatcherRun r = run({"-SILENT"}, patcherFor(patch), {{"MENDWELL_FAULT", "fail:2"}});
    EXPECT_EQ(r.exitCode, 9) << r.output;
    EXPECT_TRUE(contains(logText(), "Successfully stopped the service: LumenSync")) << logText();
    EXPECT_EQ(stateOf(L"LumenSync"), win::svcstate::running) << logText();
    EXPECT_FALSE(machine_->exists(kReadme));
}

// The service's own file, held by its process: judged as the stop pass leaves the machine, it is free
// once the service's process has ended with the stop; a second holder that is no service of the run
// still refuses the patch before any change.
void ServicesAppsTest::replaceTheFileOfARunningService(bool alsoHeldElsewhere) {
    registerProduct("9.0");
    const std::wstring dll = std::wstring(kInstallDir) + L"\\LumenSync.dll";
    machine_->writeFile(dll, "9.0 sync");
    const auto machineTool = testing_support::binDir() / "machine";
    const auto host = testing_support::runProgram(
        machineTool, {"process", "start", win::toUtf8(std::wstring(kInstallDir) + L"\\LumenSyncHost.exe"),
                      "--hold", win::toUtf8(dll), "--seconds", "120"});
    ASSERT_EQ(host.exitCode, 0) << host.output;
    const std::string pid = host.output.substr(0, host.output.find('\n'));
    const auto added = testing_support::runProgram(
        machineTool, {"service", "add", "LumenSync", "--state", "running", "--process", pid});
    ASSERT_EQ(added.exitCode, 0) << added.output;
    win::File other;
    if (alsoHeldElsewhere) {
        ASSERT_TRUE(other.open(dll, win::access::read, win::share::read, win::Disposition::openExisting));
    }

    PatchFolder patch;
    patch.manifest = withService("LumenSync", "");
    const std::size_t files = patch.manifest.find("</FileSet>");
    patch.manifest.insert(files,
                          "<File><Operation>overwrite</Operation><ObjectName>2</ObjectName>"
                          "<DestinationPath dir=\"[INSTALLDIR]\\\" defName=\"LumenSync.dll\"/></File>");
    patch.payload = {{"1", "Lumen TX4 9.0.3\r\n"}, {"2", "9.0.3 sync"}};
    PatcherRun r = run({"-SILENT"}, patcherFor(patch));
    other.close();
    testing_support::runProgram(machineTool, {"process", "stop", pid});
    const std::string log = logText();
    if (alsoHeldElsewhere) {
        EXPECT_EQ(r.exitCode, 6) << r.output << log;
        EXPECT_TRUE(contains(log, "LumenSync.dll is in use by another process")) << log;
        EXPECT_EQ(machine_->readFile(dll), "9.0 sync");
        EXPECT_FALSE(machine_->exists(kReadme));
    } else {
        EXPECT_EQ(r.exitCode, 0) << r.output << log;
        EXPECT_EQ(machine_->readFile(dll), "9.0.3 sync");
        EXPECT_TRUE(machine_->exists(kReadme));
    }
    EXPECT_EQ(stateOf(L"LumenSync"), win::svcstate::running) << log;
}

TEST_F(ServicesAppsTest, AFileHeldOnlyByAServiceTheRunStopsIsReplaced) {
    replaceTheFileOfARunningService(false);
}

TEST_F(ServicesAppsTest, AFileHeldByAServiceAndAnotherProgramIsRefused) {
    replaceTheFileOfARunningService(true);
}

// A service still stopping when the stop wait runs out fails the run; the rollback starts it again all
// the same, since this run asked it to stop.
TEST_F(ServicesAppsTest, ASlowStopFailsTheRunAndTheRollbackStartsTheServiceAgain) {
    registerProduct("9.0");
    const auto added = testing_support::runProgram(
        testing_support::binDir() / "machine",
        {"service", "add", "LumenSync", "--state", "running", "--stop-pending", "350"});
    ASSERT_EQ(added.exitCode, 0) << added.output;
    PatchFolder patch;
    patch.manifest = withService("LumenSync", "");
    patch.payload = {{"1", "Lumen TX4 9.0.3\r\n"}};
    PatcherRun r = run({"-SILENT"}, patcherFor(patch));
    EXPECT_EQ(r.exitCode, 9) << r.output;
    EXPECT_TRUE(contains(logText(), "The service LumenSync did not stop within 30000 milliseconds"))
        << logText();
    EXPECT_EQ(stateOf(L"LumenSync"), win::svcstate::running) << logText();
    EXPECT_FALSE(machine_->exists(kReadme));
}

}  // namespace
}  // namespace scenarios
