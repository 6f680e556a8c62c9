// Silent runs that fail: the rollback puts the product back exactly as the backups show, and a manifest
// with an incomplete entry changes nothing at all.
#include "platform/fs/file.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

using PatchRunTest = ScenarioTest;

std::string fileEntry(const std::string& op, const std::string& object, const std::string& name,
                      const std::string& extra = "") {
    return "<File><Operation>" + op + "</Operation><ObjectName>" + object +
           "</ObjectName><DestinationPath dir=\"[INSTALLDIR]\\\" defName=\"" + name + "\"/>" + extra +
           "</File>";
}

std::string manifest(const std::string& files) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Manifest><FileSet>" + files + "</FileSet></Manifest>";
}

std::wstring product(const std::wstring& name) {
    return std::wstring(kInstallDir) + L"\\" + name;
}

// The pre-flight finds the held file before any change: the patch is refused (6) and no entry runs.
TEST_F(PatchRunTest, AFileHeldOpenIsRefusedBeforeAnyChange) {
    const PatchFolder patch{
        .manifest =
            manifest(fileEntry("overwrite", "1", "a.dll") + fileEntry("add", "2", "new.txt") +
                     fileEntry("overwrite", "3", "held.dll") + fileEntry("overwrite", "4", "never.dll")),
        .payload = {{"1", "a 9.0.3"}, {"2", "added"}, {"3", "held 9.0.3"}, {"4", "never 9.0.3"}}};
    registerProduct("9.0");
    machine_->writeFile(product(L"a.dll"), "a 9.0");
    machine_->writeFile(product(L"held.dll"), "held 9.0");
    machine_->writeFile(product(L"never.dll"), "never 9.0");
    win::File holder;
    ASSERT_TRUE(holder.open(product(L"held.dll"), win::access::read, win::share::read,
                            win::Disposition::openExisting));

    PatcherRun r = run({"-SILENT"}, patcherFor(patch));
    holder.close();
    EXPECT_EQ(r.exitCode, 6) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, record("ERROR",
                                     "Pre-flight: file entry 3 (overwrite C:\\Program Files\\Orvex\\Lumen "
                                     "TX4\\held.dll): the file C:\\Program Files\\Orvex\\Lumen TX4\\held.dll "
                                     "is in use by another process")))
        << log;
    for (const char* line : {"Overwriting file:", "Adding file:", "Rolling back", "Patcher failed."})
        EXPECT_FALSE(contains(log, line)) << line;
    EXPECT_EQ(machine_->readFile(product(L"a.dll")), "a 9.0");
    EXPECT_EQ(machine_->readFile(product(L"held.dll")), "held 9.0");
    EXPECT_EQ(machine_->readFile(product(L"never.dll")), "never 9.0");
    EXPECT_FALSE(machine_->exists(product(L"new.txt")));
}

TEST_F(PatchRunTest, AnEntryWithoutItsMandatoryTagsChangesNothing) {
    const PatchFolder patch{
        .manifest = manifest(
            fileEntry("overwrite", "1", "a.dll") +
            "<File><Operation>add</Operation><DestinationPath dir=\"[INSTALLDIR]\" defName=\"b\"/></File>"),
        .payload = {{"1", "a 9.0.3"}}};
    registerProduct("9.0");
    machine_->writeFile(product(L"a.dll"), "a 9.0");
    PatcherRun r = run({"-SILENT"}, patcherFor(patch));
    EXPECT_EQ(r.exitCode, 9) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, record("ERROR", "Some mandatory tags might be missing..."))) << log;
    EXPECT_FALSE(contains(log, "Overwriting file:")) << log;
    EXPECT_EQ(machine_->readFile(product(L"a.dll")), "a 9.0");
}

// A binary patch whose target matches neither checksum fails before anything is changed.
TEST_F(PatchRunTest, ABinaryPatchOfAFileMatchingNeitherChecksumChangesNothing) {
    const PatchFolder patch{.manifest = manifest(fileEntry("patch", "1", "a.dll")),
                            .payload = {{"1", "diff"}}};
    registerProduct("9.0");
    machine_->writeFile(product(L"a.dll"), "a 9.0");
    PatcherRun r = run({"-SILENT"}, patcherFor(patch));
    EXPECT_EQ(r.exitCode, 6) << r.output;  // refused by the pre-flight
    EXPECT_TRUE(contains(logText(),
                         "Patcher was unable to verify the checksum before and checksum after of the "
                         "file to be patched. Patch will fail."))
        << logText();
    EXPECT_EQ(machine_->readFile(product(L"a.dll")), "a 9.0");
}

// The sample patch folder of the documentation does what its manifest says, its folder included.
TEST_F(PatchRunTest, TheSamplePatchFolderDoesWhatItsManifestSays) {
    const auto sample = testing_support::sourceDir() / "docs" / "examples" / "sample-patch";
    PatchFolder patch{.config = testing_support::readHostFile(sample / "config.xml"),
                      .manifest = testing_support::readHostFile(sample / "manifest.xml"),
                      .payload = {}};
    for (const char* name : {"1", "2"})
        patch.payload[name] = testing_support::readHostFile(sample / "payload" / name);
    registerProduct("9.0");
    PatcherRun r = run({"-SILENT"}, patcherFor(patch));
    ASSERT_EQ(r.exitCode, 0) << r.output << logText();
    EXPECT_EQ(machine_->readFile(product(L"docs\\whatsnew.txt")), patch.payload["1"]);
    EXPECT_EQ(machine_->readFile(product(L"lumen.ini")), patch.payload["2"]);
    EXPECT_TRUE(win::isDirectory(product(L"Presets\\Publishing")));
}

}  // namespace
}  // namespace scenarios
