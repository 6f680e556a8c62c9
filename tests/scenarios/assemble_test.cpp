// mendwell-build assemble: what a patcher carries, and refusing incomplete patch folders.
#include <minizip/unzip.h>

#include "platform/resources/resources.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::writeHostFile;

void makePatchFolder(const fs::path& dir) {
    fs::create_directories(dir / "payload" / "sub" / "deeper");
    writeHostFile(dir / "config.xml", configXml());
    writeHostFile(dir / "manifest.xml", "<Manifest/>");
    writeHostFile(dir / "payload" / "7", std::string(100000, 'a'));
    writeHostFile(dir / "payload" / "sub" / "deeper" / "x.dll", "binary\0data");
}

std::string resourceText(const win::Module& m, const wchar_t* type, std::uint16_t id) {
    auto data = m.find(std::wstring(type), id);
    return std::string(reinterpret_cast<const char*>(data.data()), data.size());
}

// Entry name -> uncompressed content, and whether every entry is deflated.
std::map<std::string, std::string> unzipAll(const fs::path& archive, bool& allDeflated) {
    std::map<std::string, std::string> out;
    allDeflated = true;
    unzFile zip = unzOpen64(archive.c_str());
    if (!zip) return out;
    for (int rc = unzGoToFirstFile(zip); rc == UNZ_OK; rc = unzGoToNextFile(zip)) {
        unz_file_info64 info{};
        char name[512] = {};
        unzGetCurrentFileInfo64(zip, &info, name, sizeof name, nullptr, 0, nullptr, 0);
        if (info.compression_method != Z_DEFLATED) allDeflated = false;
        std::string data(info.uncompressed_size, '\0');
        unzOpenCurrentFile(zip);
        int n = unzReadCurrentFile(zip, data.data(), static_cast<unsigned>(data.size()));
        // A CRC mismatch shows at close.
        if (unzCloseCurrentFile(zip) != UNZ_OK || n != static_cast<int>(data.size())) data = "<damaged>";
        out[name] = data;
    }
    unzClose(zip);
    return out;
}

TEST(Assemble, PatcherCarriesTheDocumentsAndTheZippedPayload) {
    TempDir dir;
    makePatchFolder(dir.path() / "patch");
    const fs::path out = dir.path() / "Mendwell-sample";
    auto r = testing_support::runProgram(testing_support::binDir() / "mendwell-build",
                                         {"assemble", (dir.path() / "patch").string(), "-o", out.string()});
    ASSERT_EQ(r.exitCode, 0) << r.output;

    win::Module patcherModule;
    ASSERT_TRUE(patcherModule.open(out));
    EXPECT_EQ(resourceText(patcherModule, L"CONFIG", 100), configXml());
    EXPECT_EQ(resourceText(patcherModule, L"MANIFEST", 100), "<Manifest/>");
    // The program part is the built Mendwell, so the patcher runs.
    EXPECT_GT(fs::file_size(out), fs::file_size(testing_support::binDir() / "Mendwell"));
    // The result library the build made rides along for the update manager.
    EXPECT_EQ(resourceText(patcherModule, L"QUDLIB", 100),
              testing_support::readHostFile(testing_support::binDir() / "Verdicta.so"));

    writeHostFile(dir.path() / "payload.zip", resourceText(patcherModule, L"PATCHFILES", 100));
    bool deflated = false;
    auto entries = unzipAll(dir.path() / "payload.zip", deflated);
    EXPECT_TRUE(deflated);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries["7"], std::string(100000, 'a'));
    EXPECT_EQ(entries["sub/deeper/x.dll"], std::string("binary\0data"));
}

TEST(Assemble, MissingInputsAreNamedAndNothingIsWritten) {
    TempDir dir;
    fs::create_directories(dir.path() / "patch");
    writeHostFile(dir.path() / "patch" / "config.xml", configXml());
    const fs::path out = dir.path() / "Mendwell-incomplete";
    auto r = testing_support::runProgram(testing_support::binDir() / "mendwell-build",
                                         {"assemble", (dir.path() / "patch").string(), "-o", out.string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, "missing manifest.xml")) << r.output;
    EXPECT_TRUE(contains(r.output, "missing the payload folder")) << r.output;
    EXPECT_FALSE(contains(r.output, "missing config.xml")) << r.output;
    EXPECT_FALSE(fs::exists(out));

    // A bin folder without the Mendwell program is refused the same way.
    makePatchFolder(dir.path() / "patch");
    fs::create_directories(dir.path() / "emptybin");
    r = testing_support::runProgram(testing_support::binDir() / "mendwell-build",
                                    {"assemble", (dir.path() / "patch").string(), "-o", out.string(), "--bin",
                                     (dir.path() / "emptybin").string()});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, "missing the Mendwell program")) << r.output;
    EXPECT_FALSE(fs::exists(out));
}

// What the patcher would refuse or pass over in config.xml or manifest.xml is named with its line, and
// nothing is written unless --unchecked asks for it.
TEST(Assemble, DocumentsThePatcherWouldMisreadAreRefused) {
    const std::string add =
        "<File><Operation>add</Operation><ObjectName>7</ObjectName>"
        "<DestinationPath dir=\"[INSTALLDIR]\" defName=\"a.txt\"/></File>";
    const std::string config = configXml();
    std::string noId = config;
    noId.erase(noId.find("  <PatcherID>"), noId.find("</PatcherID>") + 13 - noId.find("  <PatcherID>"));
    std::string misspelt = config;
    misspelt.replace(misspelt.find("<ProductData>"), 13, "<ProductDta>");
    misspelt.replace(misspelt.find("</ProductData>"), 14, "</ProductDta>");
    const struct {
        std::string config, manifest, finding;
    } rows[] = {
        {"<PatcherConfiguration/>", "<Manifest/>",
         "config.xml line 1: the root is <PatcherConfiguration>, not <PatcherConfig>"},
        {noId, "<Manifest/>", "config.xml line 2: <PatcherConfig> has no <PatcherID>"},
        {misspelt, "<Manifest/>",
         "config.xml line 7: <ProductDta> in <PatcherConfig> is not read by the patcher"},
        {config, "<PatchManifest/>", "manifest.xml line 1: the root is <PatchManifest>, not <Manifest>"},
        {config, "<Manifest>\n<Fileset>" + add + "</Fileset></Manifest>",
         "manifest.xml line 2: <Fileset> is not a set of the manifest"},
        {config, "<Manifest><FileSet>\n<Flie/></FileSet></Manifest>",
         "manifest.xml line 2: <Flie> in <FileSet> is not a <File> entry"},
        {config,
         "<Manifest><FileSet><File><Operation>Add</Operation><ObjectName>7</ObjectName>"
         "<DestinationPath/></File></FileSet></Manifest>",
         "manifest.xml line 1: unknown operation \"Add\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.finding);
        TempDir dir;
        makePatchFolder(dir.path() / "patch");
        writeHostFile(dir.path() / "patch" / "config.xml", row.config);
        writeHostFile(dir.path() / "patch" / "manifest.xml", row.manifest);
        const fs::path out = dir.path() / "Mendwell-checked";
        std::vector<std::string> args{"assemble", (dir.path() / "patch").string(), "-o", out.string()};
        auto r = testing_support::runProgram(testing_support::binDir() / "mendwell-build", args);
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_FALSE(fs::exists(out)) << r.output;
        EXPECT_TRUE(contains(r.output, "mendwell-build: " + row.finding)) << r.output;
        if (&row != &rows[0]) continue;
        args.push_back("--unchecked");
        EXPECT_EQ(testing_support::runProgram(testing_support::binDir() / "mendwell-build", args).exitCode,
                  0);
    }
}

TEST(Assemble, HelpExplainsThePatchFolder) {
    auto r = testing_support::runProgram(testing_support::binDir() / "mendwell-build", {"--help"});
    EXPECT_EQ(r.exitCode, 0);
    for (const char* word : {"config.xml", "manifest.xml", "payload/", "CONFIG/100", "PATCHFILES/100"})
        EXPECT_TRUE(contains(r.output, word)) << word;
}

}  // namespace
}  // namespace scenarios
