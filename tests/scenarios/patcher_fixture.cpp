#include "tests/scenarios/patcher_fixture.h"

#include <algorithm>
#include <sstream>

#include "platform/fs/path.h"
#include "platform/registry/registry.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace scenarios {
namespace fs = std::filesystem;
using testing_support::TempDir;

namespace {

const char* const kManifest = R"(<?xml version="1.0" encoding="UTF-8"?>
<Manifest>
  <FileSet>
    <File>
      <Operation>add</Operation>
      <ObjectName>1</ObjectName>
      <DestinationPath dir="[INSTALLDIR]\" defName="readme.txt"/>
    </File>
    <File>
      <Operation>overwrite</Operation>
      <ObjectName>2</ObjectName>
      <DestinationPath dir="[INSTALLDIR]\bin" defName="lumen.dll"/>
    </File>
  </FileSet>
</Manifest>
)";

// The bin folder the patchers are assembled from: the built Mendwell, database library and dictionaries, and stand-in
// files for the patch tool and its engine, which these scenarios extract but never run. Kept apart from
// the real bin folder so the scenarios do not change as further helpers get built.
struct BuiltPatchers {
    TempDir folder;
    std::map<std::string, fs::path> byConfig;

    BuiltPatchers() { makeBin(folder.path() / "bin", {}); }

    // A bin folder as above, plus the result library when one is given.
    static void makeBin(const fs::path& bin, const fs::path& resultLibrary) {
        fs::create_directories(bin);
        std::error_code ec;
        for (const char* name : {"Mendwell", "orvex_tally.so", "TVRLocalizedStrings.zip"})
            fs::create_symlink(testing_support::binDir() / name, bin / name, ec);
        if (!resultLibrary.empty()) fs::create_symlink(resultLibrary, bin / "Verdicta.so", ec);
        testing_support::writeHostFile(bin / "patch", "patch tool stand-in");
        testing_support::writeHostFile(bin / "quadw32.so", "patch engine stand-in");
    }

    const fs::path& assemble(const std::string& key, const std::string& config, const fs::path& bin,
                             const std::string& manifest = kManifest,
                             const std::map<std::string, std::string>& payload = {
                                 {"1", "Lumen TX4 9.0.3\r\n"}, {"2", std::string(4096, 'L')}});
};

BuiltPatchers& built() {
    static BuiltPatchers patchers;
    return patchers;
}

}  // namespace

std::string configXml(const std::string& extra) {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<PatcherConfig>
  <Name>Lumen TX4</Name>
  <PatcherID>{0F5D3A61-2B7C-4E84-A1D9-3C6B8E2F7A45}</PatcherID>
  <BuildNumber>1042</BuildNumber>
  )") + extra +
           R"(
  <ProductData>
    <OrvexCode><GUID>)" +
           kProductCode + R"(</GUID></OrvexCode>
    <OldVersion>9.0</OldVersion>
    <NewVersion>9.0.3</NewVersion>
  </ProductData>
</PatcherConfig>
)";
}

const fs::path& BuiltPatchers::assemble(const std::string& key, const std::string& config,
                                        const fs::path& bin, const std::string& manifest,
                                        const std::map<std::string, std::string>& payload) {
    auto found = byConfig.find(key);
    if (found != byConfig.end()) return found->second;

    const std::string n = std::to_string(byConfig.size());
    const fs::path dir = folder.path() / ("patch" + n);
    fs::create_directories(dir / "payload");
    testing_support::writeHostFile(dir / "config.xml", config);
    testing_support::writeHostFile(dir / "manifest.xml", manifest);
    for (const auto& [name, bytes] : payload) testing_support::writeHostFile(dir / "payload" / name, bytes);
    const fs::path out = folder.path() / ("Mendwell" + n);
    auto result = testing_support::runProgram(
        testing_support::binDir() / "mendwell-build",
        // The scenarios test the patcher's refusals too: carried as they are.
        {"assemble", dir.string(), "-o", out.string(), "--bin", bin.string(), "--unchecked"});
    if (result.exitCode != 0) ADD_FAILURE() << "mendwell-build failed:\n" << result.output;
    return byConfig.emplace(key, out).first->second;
}

const fs::path& patcher(const std::string& config) {
    BuiltPatchers& b = built();
    return b.assemble(config, config, b.folder.path() / "bin");
}

namespace {
std::string keyOf(const PatchFolder& patch) {
    std::string key = "folder\n" + patch.config + "\n" + patch.manifest;
    for (const auto& [name, bytes] : patch.payload) key += "\n" + name + "=" + bytes;
    return key;
}
}  // namespace

const fs::path& patcherFor(const PatchFolder& patch) {
    BuiltPatchers& b = built();
    return b.assemble(keyOf(patch), patch.config, b.folder.path() / "bin", patch.manifest, patch.payload);
}

const fs::path& patcherWithResultLibrary(const fs::path& resultLibrary, const std::string& config) {
    return patcherWithResultLibrary(
        resultLibrary,
        PatchFolder{config, kManifest, {{"1", "Lumen TX4 9.0.3\r\n"}, {"2", std::string(4096, 'L')}}});
}

const fs::path& patcherWithResultLibrary(const fs::path& resultLibrary, const PatchFolder& patch) {
    BuiltPatchers& b = built();
    const std::string key = resultLibrary.string() + "\n" + keyOf(patch);
    if (b.byConfig.count(key) == 0) {
        // One bin folder per library, named after the patcher it is for.
        const fs::path bin = b.folder.path() / ("bin" + std::to_string(b.byConfig.size()));
        BuiltPatchers::makeBin(bin, resultLibrary);
        return b.assemble(key, patch.config, bin, patch.manifest, patch.payload);
    }
    return b.byConfig.at(key);
}

PatchFolder historyFolderTakenLate() {
    PatchFolder p;
    p.manifest =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Manifest><FileSet>"
        "<File><Operation>add</Operation><ObjectName>1</ObjectName>"
        "<DestinationPath dir=\"[INSTALLDIR]\\\" defName=\"readme.txt\"/></File>"
        "<File><Operation>add</Operation><ObjectName>2</ObjectName>"
        "<DestinationPath dir=\"[OrvexCommon]\\\" defName=\"Installers\"/></File>"
        "</FileSet></Manifest>";
    p.payload = {{"1", "Lumen TX4 9.0.3\r\n"}, {"2", "not a folder"}};
    return p;
}

ScenarioTest::ScenarioTest(const win::MachineProfile& profile)
    : machine_(std::make_unique<testing_support::TestMachine>(profile)) {}

NonAdministratorTest::NonAdministratorTest()
    : ScenarioTest([] {
          win::MachineProfile p;
          p.administrator = false;
          return p;
      }()) {}

PatcherRun ScenarioTest::run(const std::vector<std::string>& arguments, const fs::path& program,
                             const std::map<std::string, std::string>& environment) {
    // Never a real window, even from a desktop session: message boxes print or follow the script.
    std::map<std::string, std::string> env{{"QT_QPA_PLATFORM", "offscreen"}};
    for (const auto& [k, v] : environment) env[k] = v;
    auto r = testing_support::runProgram(program, arguments, env);
    return {r.exitCode, r.output};
}

void ScenarioTest::registerProduct(const std::string& version) {
    const std::string installDir = win::toUtf8(kInstallDir);
    auto r = testing_support::runProgram(
        testing_support::binDir() / "tally",
        {"add", kProductCode, "--installdir", installDir, "--version", version, "--language", "en_US"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    fs::create_directories(machine_->host(kInstallDir));
}

void ScenarioTest::writeHistory(const std::string& newVersion) {
    std::wstring common;
    win::shellFolder(win::csidl::programFilesCommon, common);
    machine_->writeFile(common + L"\\Orvex\\Installers\\" + win::fromUtf8(kProductCode) + L".patch",
                        "<?xml version=\"1.0\"?><TVRHistory tsInstalled=\"\" tsModified=\"\">"
                        "<Patcher SequenceID=\"1\" PatcherID=\"{1}\"><OldVersion>9.0</OldVersion>"
                        "<NewVersion>" +
                            newVersion + "</NewVersion></Patcher></TVRHistory>");
}

fs::path ScenarioTest::logFile() const {
    std::wstring appData;
    win::shellFolder(win::csidl::appData, appData);
    return machine_->host(appData + L"\\Orvex\\PatcherLogs\\Lumen TX4 9.0.3.log");
}

std::string ScenarioTest::logBytes() const {
    std::error_code ec;
    if (!fs::exists(logFile(), ec)) return {};
    return testing_support::readHostFile(logFile());
}

std::string ScenarioTest::logText() const {
    std::string bytes = logBytes();
    if (bytes.rfind("\xFF\xFE", 0) == 0) bytes.erase(0, 2);
    return win::toUtf8(win::fromUtf16le(bytes));
}

std::vector<std::string> ScenarioTest::logLines() const {
    std::vector<std::string> lines;
    std::istringstream in(logText());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::vector<fs::path> ScenarioTest::workFolders() const {
    std::vector<fs::path> out;
    const fs::path patcherFolder = machine_->host(win::getEnv(L"TEMP").value_or(L"C:\\") + L"\\Patcher");
    std::error_code ec;
    for (fs::directory_iterator it(patcherFolder, ec), end; !ec && it != end; it.increment(ec))
        out.push_back(it->path());
    return out;
}

bool contains(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

std::string record(const std::string& type, const std::string& message) {
    std::string name = " " + type;
    name.resize(15, ' ');
    return "  " + name + "    " + message + "\r\n";
}

std::vector<std::string> treeOf(const fs::path& root) {
    std::vector<std::string> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec))
        out.push_back(it->path().lexically_relative(root).generic_string());
    std::sort(out.begin(), out.end());
    return out;
}

void dumpRegistryKey(const std::wstring& path, std::ostream& out) {
    win::RegKey key;
    if (key.open(win::RegRoot::localMachine, path) != 0) return;
    out << "[" << win::toUtf8(path) << "]\n";
    std::wstring name;
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    for (win::DWORD i = 0; key.enumValue(i, name, type, data) == 0; ++i) {
        out << win::toUtf8(name) << " " << type << ":";
        for (auto b : data) out << int(b) << ",";
        out << "\n";
    }
    for (win::DWORD i = 0; key.enumKey(i, name) == 0; ++i) dumpRegistryKey(path + L"\\" + name, out);
}

}  // namespace scenarios
