// Scenario helpers: patchers assembled with mendwell-build once per test program, a fresh machine per
// test, and the patcher's log and work folder read back from the machine.
#pragma once
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/testmachine.h"

namespace scenarios {

inline constexpr const char* kProductCode = "{5A7C1E2B-0D3F-4C58-9E61-7B2A4D8F9C10}";
inline constexpr const wchar_t* kInstallDir = L"C:\\Program Files\\Orvex\\Lumen TX4";

// config.xml of the test patch: Lumen TX4 9.0 -> 9.0.3, for kProductCode. `extra` goes inside
// PatcherConfig (e.g. "<ComboPatch>true</ComboPatch>").
std::string configXml(const std::string& extra = "<ComboPatch>false</ComboPatch>");

// A patcher built from a patch folder with `config`, a small manifest and a two-file payload; built once
// per distinct config for the whole test program and removed at exit.
const std::filesystem::path& patcher(const std::string& config = configXml());
// A patcher of one's own: config, manifest and payload files (name -> bytes), built once per distinct
// folder for the whole test program.
struct PatchFolder {
    std::string config = configXml();
    std::string manifest;
    std::map<std::string, std::string> payload;
};
const std::filesystem::path& patcherFor(const PatchFolder& patch);
// The same patcher also carrying `resultLibrary` as its Verdicta library (QUDLIB).
const std::filesystem::path& patcherWithResultLibrary(const std::filesystem::path& resultLibrary,
                                                      const std::string& config = configXml());
const std::filesystem::path& patcherWithResultLibrary(const std::filesystem::path& resultLibrary,
                                                      const PatchFolder& patch);
// A patch that passes every check and then, as its last entry, puts a file where the history's folder
// goes (Common Files\Orvex\Installers): the history cannot be written once the product is patched.
PatchFolder historyFolderTakenLate();

struct PatcherRun {
    int exitCode = -1;
    std::string output;  // the parent console and standard error
};

class ScenarioTest : public ::testing::Test {
  protected:
    explicit ScenarioTest(const win::MachineProfile& profile = {});

    PatcherRun run(const std::vector<std::string>& arguments,
                   const std::filesystem::path& program = patcher(),
                   const std::map<std::string, std::string>& environment = {});
    // Registers the test product with the database tool and creates its install folder.
    void registerProduct(const std::string& version);
    // A history file whose latest entry brought `newVersion` (time stamps empty, like the database's).
    void writeHistory(const std::string& newVersion);

    std::filesystem::path logFile() const;  // "<appdata>\Orvex\PatcherLogs\Lumen TX4 9.0.3.log" on the host
    std::string logBytes() const;           // raw UTF-16LE bytes ("" when there is no log)
    std::string logText() const;            // the log as UTF-8, without the byte-order mark
    std::vector<std::string> logLines() const;
    // The work folders the runs left: %TEMP%\Patcher\Patcher<pid>.
    std::vector<std::filesystem::path> workFolders() const;

    std::unique_ptr<testing_support::TestMachine> machine_;
};

class NonAdministratorTest : public ScenarioTest {
  protected:
    NonAdministratorTest();
};

bool contains(const std::string& text, const std::string& what);
// A log record as the text format writes it after the time: the 15-character type name, the empty
// sender between blanks, the message and the line end. Type: "ERROR", "INFO", "CRITICALINFO", ...
std::string record(const std::string& type, const std::string& message);
// Every file and folder under `root`, relative, sorted.
std::vector<std::string> treeOf(const std::filesystem::path& root);
// The HKLM key `path` with its values (type and bytes) and every key below it, one line a value.
void dumpRegistryKey(const std::wstring& path, std::ostream& out);

}  // namespace scenarios
