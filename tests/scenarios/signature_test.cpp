// Signed patchers on a machine: who may run under the machine's policy, and a patcher altered after
// signing refused with nothing changed, silently, for the update manager and in the wizard.
#include <functional>

#include "platform/registry/registry.h"
#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::writeHostFile;

const char* const kManifest = R"(<?xml version="1.0" encoding="UTF-8"?>
<Manifest>
  <FileSet>
    <File>
      <Operation>add</Operation>
      <ObjectName>1</ObjectName>
      <DestinationPath dir="[INSTALLDIR]\" defName="readme.txt"/>
    </File>
  </FileSet>
</Manifest>
)";

const wchar_t* const kResultFile = L"C:\\QUD\\result.xml";

// Two signers' keys and the patchers made with them, once for the test program. The configuration ends
// in a comment, so a byte altered near its end leaves the log where the tests read it.
struct Signed {
    TempDir dir;
    std::string fingerprintA, fingerprintB;
    fs::path byA, byB, byAOtherConfig, unsignedPatcher;

    Signed() {
        const fs::path bin = dir.path() / "bin";
        fs::create_directories(bin);
        for (const char* name : {"Mendwell", "orvex_tally.so", "TVRLocalizedStrings.zip", "Verdicta.so"})
            fs::create_symlink(testing_support::binDir() / name, bin / name);
        writeHostFile(bin / "patch", "patch tool stand-in");
        writeHostFile(bin / "quadw32.so", "patch engine stand-in");
        fingerprintA = keygen("Orvex Release");
        fingerprintB = keygen("Someone Else");
        const fs::path patch = folder("patch", configXml() + "<!-- signed -->\n");
        const fs::path other =
            folder("other", configXml("<ComboPatch>true</ComboPatch>") + "<!-- signed -->\n");
        const std::string keyA = (dir.path() / "Orvex Release.pem").string();
        byA = assemble(patch, "A", {"--sign", keyA});
        byB = assemble(patch, "B", {"--sign", (dir.path() / "Someone Else.pem").string()});
        byAOtherConfig = assemble(other, "A2", {"--sign", keyA});
        unsignedPatcher = assemble(patch, "U", {});
    }
    std::string keygen(const std::string& name) {
        auto r = testing_support::runProgram(testing_support::binDir() / "mendwell-build",
                                             {"keygen", (dir.path() / name).string()});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        const auto at = r.output.find("fingerprint: ");
        return at == std::string::npos ? "" : r.output.substr(at + 13, 64);
    }
    fs::path folder(const std::string& name, const std::string& config) {
        const fs::path p = dir.path() / name;
        fs::create_directories(p / "payload");
        writeHostFile(p / "config.xml", config);
        writeHostFile(p / "manifest.xml", kManifest);
        writeHostFile(p / "payload" / "1", "Lumen TX4 9.0.3\r\n");
        return p;
    }
    fs::path assemble(const fs::path& patch, const std::string& name, std::vector<std::string> extra) {
        const fs::path out = dir.path() / ("Mendwell-" + name);
        std::vector<std::string> args{"assemble",   patch.string(), "-o",
                                      out.string(), "--bin",        (dir.path() / "bin").string()};
        args.insert(args.end(), extra.begin(), extra.end());
        auto r = testing_support::runProgram(testing_support::binDir() / "mendwell-build", args);
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return out;
    }
};

Signed& keys() {
    static Signed s;
    return s;
}

using Change = std::function<void(std::vector<win::ResourceEntry>&)>;

// A copy of `from` whose resources went through `change`; the program's bytes stay as they are.
fs::path rewritten(const fs::path& from, const std::string& name, const Change& change) {
    win::Module module;
    EXPECT_TRUE(module.open(from));
    std::vector<win::ResourceEntry> entries = module.list();
    change(entries);
    win::ResourceWriter writer;
    for (auto& e : entries) writer.add(e.type, e.id, e.language, std::move(e.data));
    const fs::path out = keys().dir.path() / ("altered-" + name);
    std::string error;
    EXPECT_TRUE(writer.write(from, out, error)) << error;
    return out;
}

std::vector<std::uint8_t>& entry(std::vector<win::ResourceEntry>& entries, const std::wstring& type,
                                 std::uint16_t id = 100) {
    for (auto& e : entries)
        if (e.type == win::ResourceId(type) && e.id == id) return e.data;
    ADD_FAILURE() << "no resource " << win::toUtf8(type);
    return entries.front().data;
}

std::string keyText(const char* signer, const std::string& fingerprint) {
    return std::string(signer) + " (key " + fingerprint + ")";
}

class SignatureTest : public ScenarioTest {
  protected:
    void setPolicy(const std::vector<std::wstring>& fingerprints) {
        win::RegKey key;
        ASSERT_EQ(key.create(win::RegRoot::localMachine, L"SOFTWARE\\Orvex\\Patcher"), 0);
        ASSERT_EQ(key.setValue(L"SignedBy", win::regtype::multiSz, win::regMultiStringData(fingerprints)), 0);
    }
    void freshProduct() {
        machine_.reset();
        machine_ = std::make_unique<testing_support::TestMachine>();
        registerProduct("9.0");
    }
    // Nothing of the patch reached the product or the work folder.
    void expectNothingChanged(const std::string& what) {
        EXPECT_FALSE(machine_->exists(std::wstring(kInstallDir) + L"\\readme.txt")) << what;
        for (const fs::path& work : workFolders()) {
            EXPECT_FALSE(fs::exists(work / "manifest.xml")) << what;
            EXPECT_FALSE(fs::exists(work / "StagingArea")) << what;
        }
    }
    bool libraryExtracted() const {
        for (const fs::path& work : workFolders())
            if (fs::exists(work / "Verdicta.dll")) return true;
        return false;
    }
};

TEST_F(SignatureTest, WhoMayRunUnderThePolicy) {
    const Signed& k = keys();
    const std::string policy = "the machine's policy (HKLM\\SOFTWARE\\Orvex\\Patcher, SignedBy)";
    const std::string holdsA = "Patcher signature holds: signed by " +
                               keyText("Orvex Release", k.fingerprintA) +
                               "; the program and every resource match it.";
    struct Row {
        const char* what;
        const fs::path& patcher;
        bool policy;
        int exitCode;
        std::string line;
    };
    const Row rows[] = {
        {"signed, no policy", k.byA, false, 0, record("INFO", holdsA)},
        {"signed by the named signer", k.byA, true, 0, record("INFO", holdsA)},
        {"signed by another signer", k.byB, true, 6,
         record("ERROR", "This patcher is signed by " + keyText("Someone Else", k.fingerprintB) +
                             ", a signer " + policy + " does not name.")},
        {"unsigned, no policy", k.unsignedPatcher, false, 0,
         record(
             "WARNING",
             "This patcher is not signed: where it came from and whether it was altered cannot be checked.")},
        {"unsigned, policy", k.unsignedPatcher, true, 6,
         record("ERROR", "This patcher is not signed, and " + policy + " accepts signed patches only.")},
    };
    for (const Row& row : rows) {
        freshProduct();
        if (row.policy)
            setPolicy({L"0000000000000000000000000000000000000000000000000000000000000000",
                       win::fromUtf8(k.fingerprintA)});
        const PatcherRun r = run({"-SILENT"}, row.patcher);
        EXPECT_EQ(r.exitCode, row.exitCode) << row.what << "\n" << r.output << logText();
        EXPECT_TRUE(contains(logText(), row.line)) << row.what << "\n" << logText();
        if (row.exitCode == 0) {
            EXPECT_EQ(machine_->readFile(std::wstring(kInstallDir) + L"\\readme.txt"), "Lumen TX4 9.0.3\r\n");
        } else {
            EXPECT_TRUE(contains(r.output, "Patcher is unsuccessful.\r\nReturn code: 6")) << r.output;
            expectNothingChanged(row.what);
        }
    }
}

// Every resource altered by one byte in turn, and the signature resource truncated or swapped for one
// of another patcher: refused before anything is extracted, with the ERROR line naming it.
TEST_F(SignatureTest, AlteredPatcherIsRefusedWithNothingChanged) {
    const Signed& k = keys();
    registerProduct("9.0");
    struct Row {
        std::string name;
        Change change;
        std::string problem;
    };
    std::vector<Row> rows;
    win::Module signedModule;
    ASSERT_TRUE(signedModule.open(k.byA));
    for (const win::ResourceEntry& e : signedModule.list()) {
        const std::wstring type = std::get<std::wstring>(e.type);
        if (type == L"SIGNATURE") continue;
        const std::string name = win::toUtf8(type) + "/" + std::to_string(e.id);
        const std::uint16_t id = e.id;
        rows.push_back({name,
                        [type, id](std::vector<win::ResourceEntry>& entries) {
                            auto& data = entry(entries, type, id);
                            data[data.size() - 6] ^= 0x01;
                        },
                        "resource " + name + " does not match the signature"});
    }
    // config, manifest, payload, dictionaries, database library, patch tool, engine, QUD library
    ASSERT_EQ(rows.size(), 8u);
    rows.push_back(
        {"signature truncated",
         [](std::vector<win::ResourceEntry>& entries) { entry(entries, L"SIGNATURE").resize(100); },
         "the signature resource cannot be read (truncated)"});
    win::Module other;
    ASSERT_TRUE(other.open(k.byAOtherConfig));
    const auto foreign = other.find(std::wstring(L"SIGNATURE"), 100);
    rows.push_back({"signature swapped",
                    [&](std::vector<win::ResourceEntry>& entries) {
                        entry(entries, L"SIGNATURE").assign(foreign.begin(), foreign.end());
                    },
                    "resource CONFIG/100 does not match the signature"});

    for (std::size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        const fs::path altered = rewritten(k.byA, std::to_string(i), row.change);
        fs::remove(logFile());
        const PatcherRun r = run({"-SILENT"}, altered);
        EXPECT_EQ(r.exitCode, 6) << row.name << "\n" << r.output << logText();
        const std::string log = logText();
        EXPECT_TRUE(contains(log, record("ERROR", "Patcher signature check failed: " + row.problem + ".")))
            << row.name << "\n"
            << log;
        EXPECT_TRUE(contains(log, record("ERROR", "The patcher is refused: nothing was changed."))) << log;
        EXPECT_FALSE(contains(log, "Patcher found the INSTALLDIR")) << row.name;
        expectNothingChanged(row.name);
        EXPECT_FALSE(libraryExtracted()) << row.name;
    }
}

// The update manager gets the "cannot be applied" result through the Verdicta library only when the
// signature vouches for that library; the wizard shows its final page.
TEST_F(SignatureTest, RefusalInTheUpdateManagerAndTheWizard) {
    registerProduct("9.0");
    fs::create_directories(machine_->host(L"C:\\QUD"));
    const fs::path manifestAltered =
        rewritten(keys().byA, "manifest", [](auto& entries) { entry(entries, L"MANIFEST").back() ^= 0x01; });
    const fs::path libraryAltered =
        rewritten(keys().byA, "library", [](auto& entries) { entry(entries, L"QUDLIB")[100] ^= 0x01; });
    auto fromUpdateManager = [&](const fs::path& patcher) {
        return testing_support::runProgram(testing_support::binDir() / "qud-run",
                                           {"--report", win::toUtf8(kResultFile), "--install-path",
                                            win::toUtf8(kInstallDir), "--", patcher.string()},
                                           {{"QT_QPA_PLATFORM", "offscreen"}});
    };

    // Its own library altered: nothing of the patcher is loaded, so the manager gets no result file.
    auto r = fromUpdateManager(libraryAltered);
    EXPECT_TRUE(contains(r.output, "exit code 6\n")) << r.output;
    EXPECT_FALSE(machine_->exists(kResultFile));
    EXPECT_FALSE(libraryExtracted());
    EXPECT_TRUE(
        contains(logText(), record("ERROR",
                                   "The update manager gets no result file: the QUD library this patcher "
                                   "carries is not vouched for by an accepted signature.")))
        << logText();

    r = fromUpdateManager(manifestAltered);
    EXPECT_TRUE(contains(r.output, "exit code 6\n")) << r.output;
    const std::string result = machine_->readFile(kResultFile);
    EXPECT_TRUE(contains(result, "<ReturnCode>4</ReturnCode>")) << result;
    EXPECT_TRUE(contains(result, "<UserMessage>The update cannot be applied to the product.</UserMessage>"))
        << result;
    expectNothingChanged("update manager");

    TempDir dir;
    writeHostFile(dir.path() / "script", "await text 1 Finish\nclick 1\n");
    const PatcherRun w = run(
        {}, manifestAltered,
        {{"MENDWELL_DIALOG_SCRIPT", (dir.path() / "script").string()},
         {"MENDWELL_DIALOG_RECORD", (dir.path() / "record").string()},
         {"LSAN_OPTIONS", "suppressions=" + (testing_support::sourceDir() / "tests/lsan_qt.supp").string()}});
    EXPECT_EQ(w.exitCode, 9) << w.output;
    const std::string shown = testing_support::readHostFile(dir.path() / "record");
    for (const char* line : {"text 204 <Installation was Unsuccessful.>",
                             "text -1 <The update cannot be applied to the product.>", "show 2 0", "end 1"})
        EXPECT_TRUE(contains(shown, line)) << line << "\n" << shown;
    expectNothingChanged("wizard");
}

// The tool's side: the same inputs and key give the same patcher byte for byte, inspect tells the signer
// and what no longer matches, and a key is never replaced.
TEST(SignedAssembly, ReproducibleInspectedAndKeysKept) {
    Signed& k = keys();
    const fs::path again = k.assemble(k.dir.path() / "patch", "A-again",
                                      {"--sign", (k.dir.path() / "Orvex Release.pem").string()});
    EXPECT_EQ(testing_support::readHostFile(again), testing_support::readHostFile(k.byA));

    const fs::path tool = testing_support::binDir() / "mendwell-build";
    auto r = testing_support::runProgram(tool, {"inspect", k.byA.string()});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    for (const std::string& line : std::vector<std::string>{
             "  signer:          Orvex Release\n", "  key fingerprint: " + k.fingerprintA + "\n",
             "  signature:       holds (the program and 8 resources match)\n"})
        EXPECT_TRUE(contains(r.output, line)) << line << r.output;
    const fs::path altered =
        rewritten(k.byA, "inspect", [](auto& entries) { entry(entries, L"PATCHFILES").front() ^= 0x01; });
    r = testing_support::runProgram(tool, {"inspect", altered.string()});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(contains(r.output,
                         "made by this key, but the file no longer matches it\n"
                         "    resource PATCHFILES/100 does not match the signature\n"))
        << r.output;

    const std::string key = testing_support::readHostFile(k.dir.path() / "Orvex Release.pem");
    r = testing_support::runProgram(tool, {"keygen", (k.dir.path() / "Orvex Release").string()});
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(contains(r.output, "already exists; a key is never replaced")) << r.output;
    EXPECT_EQ(testing_support::readHostFile(k.dir.path() / "Orvex Release.pem"), key);
}

}  // namespace
}  // namespace scenarios
