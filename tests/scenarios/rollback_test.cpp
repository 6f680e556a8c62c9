// A patch that touches every kind of entry, made to fail at each entry in turn: the rollback brings every
// file (bytes and read-only bit) and every registry value back exactly as they were, and the run ends in 9.
#include "tests/scenarios/patcher_fixture.h"

#include <map>
#include <sstream>

#include "platform/fs/file.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;
using testing_support::writeHostFile;

// Every kind of entry the patcher knows, except binary patches (their own scenarios) and the
// installed-programs entry.
const char* const kEveryKindManifest = R"(<?xml version="1.0" encoding="UTF-8"?>
<Manifest>
  <FileSet>
    <File><Operation>add</Operation><ObjectName>1</ObjectName>
      <DestinationPath dir="[INSTALLDIR]\new\deeper" defName="added.txt"/></File>
    <File><Operation>overwrite</Operation><ObjectName>2</ObjectName>
      <DestinationPath dir="[INSTALLDIR]\bin" defName="lumen.dll"/></File>
    <File><Operation>blindoverwrite</Operation><ObjectName>3</ObjectName>
      <DestinationPath dir="[INSTALLDIR]" defName="lumen.ini"/>
      <RenamePath dir="[INSTALLDIR]" defName="lumen-9.ini"/></File>
    <File><Operation>rename</Operation><ObjectName>4</ObjectName>
      <DestinationPath dir="[INSTALLDIR]" defName="old-name.txt"/>
      <RenamePath dir="[INSTALLDIR]\moved\in" defName="new-name.txt"/>
      <Checksum><AfterPatch>acca362a48577269b87ef58cd46e2c3a</AfterPatch></Checksum></File>
    <File><Operation>remove</Operation><ObjectName>5</ObjectName>
      <DestinationPath dir="[INSTALLDIR]\lonely" defName="gone.txt"/></File>
    <File><Operation>touch</Operation><ObjectName>6</ObjectName>
      <DestinationPath dir="[INSTALLDIR]" defName="touched.txt"/></File>
  </FileSet>
  <DirectorySet>
    <Directory><Operation>add</Operation><DirectoryBase>[INSTALLDIR]\Presets\Publishing</DirectoryBase>
      <SubDirectoryTree/></Directory>
    <Directory><Operation>remove</Operation><DirectoryBase>[INSTALLDIR]\Empty</DirectoryBase>
      <SubDirectoryTree>Empty</SubDirectoryTree></Directory>
  </DirectorySet>
  <PDSSet>
    <PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\Orvex\Lumen\9.0\New\Sub</KeyPath>
      <KeyName>Made</KeyName><Value defValue="[INSTALLDIR]"/><DataType>REG_SZ</DataType></PDS>
    <PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\Orvex\Lumen\9.0</KeyPath>
      <KeyName>Version</KeyName><Value defValue="9.0.3"/><DataType>REG_SZ</DataType></PDS>
    <PDS><Operation>remove</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\Orvex\Lumen\9.0</KeyPath>
      <KeyName>Obsolete</KeyName><Value/><DataType/><SubRegistryTree/></PDS>
    <PDS><Operation>remove</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\Orvex\Lumen\9.0\Plugins</KeyPath>
      <KeyName>x</KeyName><Value/><DataType/><SubRegistryTree>Plugins</SubRegistryTree></PDS>
  </PDSSet>
</Manifest>
)";
constexpr int kEntries = 12;

// The patch tool is carried but never run here: stand-ins do where it is not built yet.
fs::path binFolder(const fs::path& folder) {
    const fs::path bin = folder / "bin";
    if (fs::exists(bin)) return bin;
    fs::create_directories(bin);
    for (const char* name : {"Mendwell", "orvex_tally.so", "patch", "quadw32.so"}) {
        std::error_code ec;
        if (fs::exists(testing_support::binDir() / name))
            fs::create_symlink(testing_support::binDir() / name, bin / name, ec);
        else
            writeHostFile(bin / name, "stand-in");
    }
    return bin;
}

// Assembled once per manifest for the whole test program.
const fs::path& patcherWith(const std::string& manifest) {
    static testing_support::TempDir folder;
    static std::map<std::string, fs::path> built;
    if (built.count(manifest)) return built[manifest];
    const std::string n = std::to_string(built.size());
    const fs::path dir = folder.path() / ("patch" + n);
    fs::create_directories(dir / "payload");
    writeHostFile(dir / "config.xml", configXml());
    writeHostFile(dir / "manifest.xml", manifest);
    writeHostFile(dir / "payload" / "1", "added in 9.0.3");
    writeHostFile(dir / "payload" / "2", "lumen.dll of 9.0.3");
    writeHostFile(dir / "payload" / "3", "[Lumen]\r\nVersion=9.0.3\r\n");
    const fs::path out = folder.path() / ("Mendwell" + n);
    auto r = testing_support::runProgram(testing_support::binDir() / "mendwell-build",
                                         {"assemble", dir.string(), "-o", out.string(), "--bin",
                                          binFolder(folder.path()).string(), "--unchecked"});
    if (r.exitCode != 0) ADD_FAILURE() << r.output;
    return built[manifest] = out;
}

const fs::path& everyKindPatcher() {
    return patcherWith(kEveryKindManifest);
}

class RollbackTest : public ScenarioTest {
  protected:
    // The product as 9.0 left it: files (some read-only), an empty folder, registry values and a tree.
    void installProduct() {
        registerProduct("9.0");
        const std::wstring dir = kInstallDir;
        machine_->writeFile(dir + L"\\bin\\lumen.dll", "lumen.dll of 9.0");
        machine_->writeFile(dir + L"\\lumen.ini", "[Lumen]\r\nVersion=9.0\r\n");
        machine_->writeFile(dir + L"\\old-name.txt", "renamed");
        machine_->writeFile(dir + L"\\lonely\\gone.txt", "removed");
        machine_->writeFile(dir + L"\\touched.txt", "touched");
        ASSERT_TRUE(win::setFileAttributes(dir + L"\\lonely\\gone.txt", win::attr::readOnly));
        ASSERT_TRUE(win::setFileAttributes(dir + L"\\bin\\lumen.dll", win::attr::readOnly));
        ASSERT_TRUE(win::setFileAttributes(dir + L"\\old-name.txt", win::attr::readOnly));
        // A fixed time: the touch's undo entry keeps it, and the history then reads the same on every
        // machine.
        const win::FileTime installed = 133000000000000000ull;
        ASSERT_TRUE(win::setFileTimes(dir + L"\\touched.txt", nullptr, nullptr, &installed));
        ASSERT_TRUE(win::setFileAttributes(dir + L"\\touched.txt", win::attr::readOnly));
        ASSERT_TRUE(win::createDirectory(dir + L"\\Empty"));
        win::RegKey key;
        ASSERT_EQ(key.create(win::RegRoot::localMachine, L"SOFTWARE\\Orvex\\Lumen\\9.0\\Plugins\\Inner"), 0);
        ASSERT_EQ(key.setDword(L"Enabled", 1), 0);
        ASSERT_EQ(key.open(win::RegRoot::localMachine, L"SOFTWARE\\Orvex\\Lumen\\9.0"), 0);
        ASSERT_EQ(key.setString(L"Version", L"9.0"), 0);
        ASSERT_EQ(key.setValue(L"Obsolete", win::regtype::binary, std::vector<std::uint8_t>{1, 2, 3}), 0);
    }

    // Files with their bytes and attributes, and registry values with their types and bytes.
    std::string snapshot() {
        std::ostringstream out;
        const fs::path root = machine_->host(L"C:\\Program Files");
        for (const std::string& rel : treeOf(root)) {
            const std::wstring windows = L"C:\\Program Files\\" + win::fromUtf8(rel);
            out << rel << " attributes " << (win::getFileAttributes(windows) & ~win::attr::archive);
            if (fs::is_regular_file(root / rel))
                out << " bytes " << testing_support::readHostFile(root / rel);
            out << "\n";
        }
        dumpRegistryKey(L"SOFTWARE\\Orvex", out);
        return out.str();
    }

};

TEST_F(RollbackTest, TheWholePatchAppliesAndEachChangeIsVisible) {
    installProduct();
    const std::string before = snapshot();
    PatcherRun r = run({"-SILENT"}, everyKindPatcher());
    ASSERT_EQ(r.exitCode, 0) << r.output << logText();
    const std::string after = snapshot();
    for (const char* part : {"new/deeper/added.txt", "lumen.dll of 9.0.3", "moved/in/new-name.txt", "lumen-9.ini",
                             "Presets/Publishing", "[SOFTWARE\\Orvex\\Lumen\\9.0\\New\\Sub]"})
        EXPECT_TRUE(contains(after, part)) << part;
    for (const char* part : {"lonely/gone.txt", "Empty", "Obsolete", "Plugins"})
        EXPECT_FALSE(contains(after, part)) << part;
    EXPECT_NE(after, before);
}

TEST_F(RollbackTest, AFailureAtAnyEntryRollsTheProductBackExactly) {
    for (int entry = 1; entry <= kEntries; ++entry) {
        SCOPED_TRACE(testing::Message() << "failing at entry " << entry);
        machine_ = std::make_unique<testing_support::TestMachine>();
        installProduct();
        const std::string before = snapshot();
        PatcherRun r =
            run({"-SILENT"}, everyKindPatcher(), {{"MENDWELL_FAULT", "fail:" + std::to_string(entry)}});
        EXPECT_EQ(r.exitCode, 9) << r.output;
        EXPECT_TRUE(contains(logText(), "Injected fault at entry " + std::to_string(entry) + "."));
        EXPECT_EQ(snapshot(), before) << logText();
        // Rolled back: nothing is left for the next start to recover.
        for (const fs::path& folder : workFolders())
            EXPECT_FALSE(fs::exists(folder / "RollbackManifest.xml.journal")) << folder;
    }
}

// Real faults rather than injected ones: a file another process holds without write sharing, and a
// registry key the user may not change. The pre-flight finds each before any change: refused (6).
TEST_F(RollbackTest, AFileInUseAndADeniedKeyAreRefusedBeforeAnyChange) {
    installProduct();
    const std::string before = snapshot();
    const std::wstring held = std::wstring(kInstallDir) + L"\\lumen.ini";
    win::File holder;  // this process is the other process: share modes hold between processes
    ASSERT_TRUE(holder.open(held, win::access::read, win::share::read, win::Disposition::openExisting));
    PatcherRun r = run({"-SILENT"}, everyKindPatcher());
    holder.close();
    EXPECT_EQ(r.exitCode, 6) << r.output;
    EXPECT_TRUE(contains(logText(), "lumen.ini is in use by another process")) << logText();
    EXPECT_EQ(snapshot(), before) << logText();

    ASSERT_EQ(win::setRegKeyDenied(win::RegRoot::localMachine, L"SOFTWARE\\Orvex\\Lumen\\9.0\\Plugins", true),
              0);
    r = run({"-SILENT"}, everyKindPatcher());
    EXPECT_EQ(r.exitCode, 6) << r.output;
    EXPECT_TRUE(contains(logText(), "Plugins is denied")) << logText();
    ASSERT_EQ(
        win::setRegKeyDenied(win::RegRoot::localMachine, L"SOFTWARE\\Orvex\\Lumen\\9.0\\Plugins", false), 0);
    EXPECT_EQ(snapshot(), before) << logText();
}

// -SILENT -CHECK judges the patch and reports its plan, entry by entry, with the code the real run then
// gives; it changes nothing and writes no history. A refused patch checks as refused (6).
TEST_F(RollbackTest, ACheckRunChangesNothingAndReturnsWhatTheRealRunReturns) {
    installProduct();
    const std::string before = snapshot();
    const auto histories = [this] {
        int n = 0;
        for (const std::string& rel : treeOf(machine_->host(L"C:\\Program Files\\Common Files")))
            n += rel.size() > 6 && rel.compare(rel.size() - 6, 6, ".patch") == 0;
        return n;
    };
    PatcherRun r = run({"-SILENT", "-CHECK"}, everyKindPatcher());
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(snapshot(), before) << logText();
    EXPECT_EQ(histories(), 0);
    std::size_t plans = 0;
    for (std::size_t at = r.output.find("\r\nPlan: "); at != std::string::npos;
         at = r.output.find("\r\nPlan: ", at + 1))
        ++plans;
    EXPECT_EQ(plans, static_cast<std::size_t>(kEntries)) << r.output;
    EXPECT_TRUE(contains(r.output,
                         "Plan: file entry 4 (rename C:\\Program Files\\Orvex\\Lumen TX4\\old-name.txt): "
                         "rename to C:\\Program Files\\Orvex\\Lumen TX4\\moved\\in\\new-name.txt"))
        << r.output;
    EXPECT_TRUE(contains(logText(), record("INFO",
                                           "Plan: directory entry 1 (add C:\\Program Files\\Orvex\\Lumen "
                                           "TX4\\Presets\\Publishing): create the folder")))
        << logText();
    EXPECT_FALSE(contains(logText(), "Adding file:"));
    EXPECT_EQ(run({"-SILENT"}, everyKindPatcher()).exitCode, 0);
    EXPECT_EQ(histories(), 1);

    machine_ = std::make_unique<testing_support::TestMachine>();
    installProduct();
    const std::string held = snapshot();
    win::File holder;
    ASSERT_TRUE(holder.open(std::wstring(kInstallDir) + L"\\touched.txt", win::access::read, win::share::read,
                            win::Disposition::openExisting));
    r = run({"-SILENT", "-CHECK"}, everyKindPatcher());
    EXPECT_EQ(r.exitCode, 6) << r.output;
    EXPECT_TRUE(contains(r.output, "Refused: file entry 6 (touch")) << r.output;
    EXPECT_EQ(run({"-SILENT"}, everyKindPatcher()).exitCode, 6);
    holder.close();
    EXPECT_EQ(snapshot(), held) << logText();
    EXPECT_EQ(histories(), 0);
    // Without -SILENT the switch is refused: elsewhere the run would patch for real.
    EXPECT_EQ(run({"-CHECK"}, everyKindPatcher()).exitCode, 9);
    EXPECT_EQ(snapshot(), held);
}

// An incomplete entry fails the run before anything changes; the rollback that follows has nothing to undo.
TEST_F(RollbackTest, AnUnreadableManifestChangesNothing) {
    installProduct();
    const std::string before = snapshot();
    std::string broken = kEveryKindManifest;
    broken.replace(broken.rfind("<ObjectName>6</ObjectName>"), 26, "");
    PatcherRun r = run({"-SILENT"}, patcherWith(broken));
    EXPECT_EQ(r.exitCode, 9) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, record("ERROR", "Some mandatory tags might be missing..."))) << log;
    EXPECT_FALSE(contains(log, "Adding file:"));
    EXPECT_EQ(snapshot(), before);
}

// A patcher killed at any moment (before an entry, or after an entry changed the product and before its
// undo entry was recorded): the next start rolls the dead run back before anything else, leaving the
// product exactly as it was, and a run after that patches it.
TEST_F(RollbackTest, APatcherKilledAtAnyMomentIsRolledBackByTheNextStart) {
    installProduct();
    ASSERT_EQ(run({"-SILENT"}, everyKindPatcher()).exitCode, 0);
    const std::string patched = snapshot();
    int killedAfterChange = 0;
    for (const std::string kind : {"kill", "killafter"}) {
        for (int entry = 1; entry <= kEntries; ++entry) {
            SCOPED_TRACE(testing::Message() << kind << " at entry " << entry);
            machine_ = std::make_unique<testing_support::TestMachine>();
            installProduct();
            const std::string before = snapshot();
            const std::string fault = kind + ":" + std::to_string(entry);
            PatcherRun r = run({"-SILENT"}, everyKindPatcher(), {{"MENDWELL_FAULT", fault}});
            if (kind == "killafter" && r.exitCode == 0) continue;  // the entry had nothing to record
            ASSERT_EQ(r.exitCode, 128 + 9) << r.output << logText();
            if (kind == "killafter") ++killedAfterChange;
            bool journaled = false;  // not before the first change
            for (const fs::path& folder : workFolders())
                journaled = journaled || fs::exists(folder / "RollbackManifest.xml.journal");
            EXPECT_EQ(journaled, kind == "killafter" || entry > 1);
            // The next start recovers; a check run then changes nothing of its own.
            r = run({"-SILENT", "-CHECK"}, everyKindPatcher());
            EXPECT_EQ(r.exitCode, 0) << r.output;
            EXPECT_EQ(contains(logText(), "patch run that did not finish; it is rolled back first."), journaled);
            EXPECT_EQ(snapshot(), before) << logText();
            if (kind == "kill") {
                EXPECT_EQ(run({"-SILENT"}, everyKindPatcher()).exitCode, 0);
                EXPECT_EQ(snapshot(), patched) << logText();
            }
        }
    }
    EXPECT_GE(killedAfterChange, 10);
}

// A patcher killed as it ends a run that patched the product: before its journal goes (the history entry
// already written) the next start rolls the run back and its history with it; after, the product is
// patched and its history says so. Either way the same patch then applies or is already applied.
TEST_F(RollbackTest, APatcherKilledAsItEndsLeavesHistoryAndProductAgreeing) {
    const auto histories = [this] {
        return static_cast<int>(treeOf(machine_->host(L"C:\\Program Files\\Common Files\\Orvex\\Installers")).size());
    };
    for (int step : {1, 2}) {
        SCOPED_TRACE(testing::Message() << "killed at step " << step);
        machine_ = std::make_unique<testing_support::TestMachine>();
        installProduct();
        const std::string before = snapshot();
        PatcherRun r = run({"-SILENT"}, everyKindPatcher(), {{"MENDWELL_FAULT", "killpatched:" + std::to_string(step)}});
        ASSERT_EQ(r.exitCode, 137) << r.output << logText();
        r = run({"-SILENT"}, everyKindPatcher());
        if (step == 1) {
            EXPECT_EQ(r.exitCode, 0) << r.output << logText();
            EXPECT_TRUE(contains(logText(), "is as it was before the unfinished run.")) << logText();
        } else {
            EXPECT_EQ(r.exitCode, 6) << r.output;
            EXPECT_TRUE(contains(logText(), "is already updated")) << logText();
        }
        EXPECT_NE(snapshot(), before);
        EXPECT_EQ(histories(), 1);
    }
}

// A check run changes nothing, not even a history file whose time stamps no longer match; and removing
// the product's last file never takes the folders above the product with it.
TEST_F(RollbackTest, ACheckRunKeepsAStaleHistoryAndNothingAboveTheProductIsPruned) {
    installProduct();
    auto t = testing_support::runProgram(testing_support::binDir() / "tally",
                                         {"add", kProductCode, "--collection", "LUMEN", "--installed",
                                          "1700000000", "--modified", "1700000000"});
    ASSERT_EQ(t.exitCode, 0) << t.output;
    ASSERT_EQ(run({"-SILENT"}, everyKindPatcher()).exitCode, 0);
    const fs::path history =
        machine_->host(std::wstring(L"C:\\Program Files\\Common Files\\Orvex\\Installers\\") +
                       win::fromUtf8(kProductCode) + L".patch");
    ASSERT_TRUE(fs::exists(history));
    t = testing_support::runProgram(testing_support::binDir() / "tally",
                                    {"set", kProductCode, "tsInstalled", "1790000000"});
    ASSERT_EQ(t.exitCode, 0) << t.output;
    run({"-SILENT", "-CHECK"}, everyKindPatcher());
    EXPECT_TRUE(fs::exists(history)) << logText();

    machine_ = std::make_unique<testing_support::TestMachine>();
    registerProduct("9.0");
    machine_->writeFile(std::wstring(kInstallDir) + L"\\only.txt", "the last file");
    const PatcherRun r = run({"-SILENT"}, patcherWith(R"(<?xml version="1.0" encoding="UTF-8"?>
<Manifest><FileSet><File><Operation>remove</Operation><ObjectName>1</ObjectName>
  <DestinationPath dir="[INSTALLDIR]" defName="only.txt"/></File></FileSet></Manifest>
)"));
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    EXPECT_FALSE(fs::exists(machine_->host(std::wstring(kInstallDir) + L"\\only.txt")));
    EXPECT_TRUE(fs::is_directory(machine_->host(kInstallDir)));
}

// A recovery killed after it had undone the file entries and started again: each undo entry finds its
// work done and leaves it, so neither a stray copy nor a lost original remains.
TEST_F(RollbackTest, ARecoveryRunTwiceUndoesEachEntryOnce) {
    const std::string rename = R"(<File><Operation>rename</Operation><ObjectName>4</ObjectName>
      <DestinationPath dir="[INSTALLDIR]" defName="old-name.txt"/>
      <RenamePath dir="[INSTALLDIR]" defName="renamed.txt"/>
      <Checksum><AfterPatch>acca362a48577269b87ef58cd46e2c3a</AfterPatch></Checksum></File>)";
    const std::string registry = R"(<PDSSet>
    <PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\Orvex\Lumen\9.0</KeyPath>
      <KeyName>Version</KeyName><Value defValue="9.0.3"/><DataType>REG_SZ</DataType></PDS>
    <PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\Orvex\Lumen\9.0</KeyPath>
      <KeyName>Other</KeyName><Value defValue="1"/><DataType>REG_SZ</DataType></PDS></PDSSet>)";
    const std::string then[] = {
        R"(<File><Operation>overwrite</Operation><ObjectName>2</ObjectName>
      <DestinationPath dir="[INSTALLDIR]" defName="renamed.txt"/></File>)",
        R"(<File><Operation>add</Operation><ObjectName>1</ObjectName>
      <DestinationPath dir="[INSTALLDIR]" defName="old-name.txt"/></File>)",
    };
    for (const std::string& second : then) {
        SCOPED_TRACE(second);
        machine_ = std::make_unique<testing_support::TestMachine>();
        installProduct();
        const std::string before = snapshot();
        const fs::path& patcher = patcherWith("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Manifest><FileSet>" +
                                              rename + second + "</FileSet>" + registry + "</Manifest>");
        ASSERT_EQ(run({"-SILENT"}, patcher, {{"MENDWELL_FAULT", "kill:4"}}).exitCode, 137) << logText();
        ASSERT_EQ(run({"-SILENT"}, patcher, {{"MENDWELL_FAULT", "killrollback:3"}}).exitCode, 137) << logText();
        const PatcherRun r = run({"-SILENT", "-CHECK"}, patcher);
        EXPECT_EQ(r.exitCode, 0) << r.output << logText();
        EXPECT_EQ(snapshot(), before) << logText();
    }
}

// A registry add whose key path the system refuses, after a value it changed: refused before any change,
// and the next patch runs.
TEST_F(RollbackTest, AnInvalidKeyPathIsRefusedBeforeAnyChange) {
    installProduct();
    const std::string before = snapshot();
    const std::string manifest = R"(<?xml version="1.0" encoding="UTF-8"?>
<Manifest><PDSSet>
  <PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\Orvex\Lumen\9.0</KeyPath>
    <KeyName>Version</KeyName><Value defValue="9.0.3"/><DataType>REG_SZ</DataType></PDS>
  <PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>\SOFTWARE\Orvex\Bad</KeyPath>
    <KeyName>V</KeyName><Value defValue="1"/><DataType>REG_SZ</DataType></PDS>
</PDSSet></Manifest>
)";
    PatcherRun r = run({"-SILENT"}, patcherWith(manifest));
    EXPECT_EQ(r.exitCode, 6) << r.output << logText();
    EXPECT_TRUE(contains(logText(), "registry key path \\SOFTWARE\\Orvex\\Bad is not valid")) << logText();
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(run({"-SILENT"}, everyKindPatcher()).exitCode, 0) << logText();
}

// A recovery killed in its turn is done again by the next start; one that cannot finish (a file held
// open) keeps the journal, applies nothing and ends in 9 until it can.
TEST_F(RollbackTest, ARecoveryThatDiesOrFailsIsDoneAgainByTheNextStart) {
    installProduct();
    const std::string before = snapshot();
    ASSERT_EQ(run({"-SILENT"}, everyKindPatcher(), {{"MENDWELL_FAULT", "killafter:11"}}).exitCode, 137);
    EXPECT_EQ(run({"-SILENT"}, everyKindPatcher(), {{"MENDWELL_FAULT", "killrollback:3"}}).exitCode, 137);

    const std::wstring held = std::wstring(kInstallDir) + L"\\bin\\lumen.dll";
    win::File holder;
    ASSERT_TRUE(holder.open(held, win::access::read, win::share::read, win::Disposition::openExisting));
    PatcherRun r = run({"-SILENT"}, everyKindPatcher());
    holder.close();
    EXPECT_EQ(r.exitCode, 9) << r.output;
    EXPECT_TRUE(contains(logText(), "could not be rolled back; no patch is applied until it is."));
    // Everything else is undone; what to release is named on standard error.
    const auto registryOf = [](const std::string& state) { return state.substr(state.find("[SOFTWARE")); };
    EXPECT_EQ(registryOf(snapshot()), registryOf(before)) << logText();
    EXPECT_TRUE(contains(r.output, "Release the file " + win::toUtf8(held))) << r.output;

    r = run({"-SILENT", "-CHECK"}, everyKindPatcher());
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(snapshot(), before) << logText();
    for (const fs::path& folder : workFolders())
        EXPECT_FALSE(fs::exists(folder / "RollbackManifest.xml.journal")) << folder;
}

}  // namespace
}  // namespace scenarios
