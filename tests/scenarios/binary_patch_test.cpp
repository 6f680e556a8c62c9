// An assembled patcher whose manifest binary-patches a real library of this host, installed on a fresh
// machine: the patch tool and engine come out of the patcher's resources and the library is replaced
// by its new version.
#include <filesystem>

#include "mendwell/files/checksum.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;
using testing_support::binDir;
using testing_support::readHostFile;
using testing_support::writeHostFile;

std::string md5(const std::string& bytes) {
    mw::cMD5 digest;
    digest.update(bytes.data(), bytes.size());
    return digest.finish();
}

class BinaryPatch : public ScenarioTest {};

TEST_F(BinaryPatch, SilentRunPatchesARealLibrary) {
    const std::string old = readHostFile(fs::canonical("/usr/lib/x86_64-linux-gnu/libzstd.so.1"));
    // The next build of it: a few bytes changed across the file, as a point release changes code.
    std::string neu = old;
    for (std::size_t at = 4096; at < neu.size(); at += neu.size() / 7) neu[at] = static_cast<char>(neu[at] ^ 0x21);

    testing_support::TempDir dir;
    const fs::path folder = dir.path() / "patch";
    fs::create_directories(folder / "payload");
    writeHostFile(dir.path() / "old", old);
    writeHostFile(dir.path() / "new", neu);
    auto made = testing_support::runProgram(binDir() / "qdiff", {(dir.path() / "old").string(),
                                                                  (dir.path() / "new").string(),
                                                                  (folder / "payload" / "12").string(), "--name",
                                                                  "libzstd.so.1"});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    writeHostFile(folder / "config.xml", configXml());
    writeHostFile(folder / "manifest.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
<Manifest>
  <FileSet>
    <File>
      <Operation>patch</Operation>
      <ObjectName>12</ObjectName>
      <DestinationPath dir="[INSTALLDIR]\bin" defName="libzstd.so.1"/>
      <Checksum>
        <BeforePatch>)" + md5(old) + R"(</BeforePatch>
        <AfterPatch>)" + md5(neu) + R"(</AfterPatch>
      </Checksum>
    </File>
  </FileSet>
</Manifest>
)");
    const fs::path patcherFile = dir.path() / "LumenTX4_903_Update";
    auto assembled = testing_support::runProgram(
        binDir() / "mendwell-build", {"assemble", folder.string(), "-o", patcherFile.string()});
    ASSERT_EQ(assembled.exitCode, 0) << assembled.output;
    ASSERT_TRUE(contains(assembled.output, "QUADRELFILES/200")) << assembled.output;

    registerProduct("9.0");
    machine_->writeFile(std::wstring(kInstallDir) + L"\\bin\\libzstd.so.1", old);
    const PatcherRun r = run({"-SILENT"}, patcherFile);
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    EXPECT_TRUE(machine_->readFile(std::wstring(kInstallDir) + L"\\bin\\libzstd.so.1") == neu);
    EXPECT_TRUE(contains(logText(), "Checksum of the file verified after patching. File patch is success."))
        << logText();
}

}  // namespace
}  // namespace scenarios
