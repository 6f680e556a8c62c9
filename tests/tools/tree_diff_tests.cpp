// `mendwell-build diff`, run as a program on small trees.
#include <gtest/gtest.h>

#include "tests/support/testmachine.h"

namespace {

using testing_support::readHostFile;
using testing_support::runProgram;
using testing_support::TempDir;
using testing_support::writeHostFile;
namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class TreeDiffTest : public ::testing::Test {
  protected:
    TreeDiffTest() {
        writeHostFile(dir_.path() / "config.xml", "<PatcherConfig/>");
        fs::create_directories(dir_.path() / "old");
        fs::create_directories(dir_.path() / "new");
    }
    testing_support::RunResult diff(const std::string& out, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"diff",
                                         "--old",
                                         (dir_.path() / "old").string(),
                                         "--new",
                                         (dir_.path() / "new").string(),
                                         "--config",
                                         (dir_.path() / "config.xml").string(),
                                         "-o",
                                         (dir_.path() / out).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return runProgram(testing_support::binDir() / "mendwell-build", args);
    }
    void put(const std::string& rel, const std::string& bytes) {
        fs::create_directories((dir_.path() / rel).parent_path());
        writeHostFile(dir_.path() / rel, bytes);
    }

    TempDir dir_;
};

TEST_F(TreeDiffTest, EachKindOfChangeBecomesItsEntryAndTheSameTreesGiveTheSameBytes) {
    put("old/gone.txt", "gone");
    put("old/moved.bin", "moved bytes");
    put("old/same.txt", "same");
    put("old/lib/edit.dll", std::string(4000, 'a'));
    put("new/same.txt", "same");
    put("new/lib/edit.dll", std::string(3999, 'a') + "b");
    put("new/lib/sub/moved.bin", "moved bytes");
    put("new/fresh.txt", "fresh");
    put("new/fonts/x.pfb", "font v2");
    put("old/fonts/x.pfb", "font v1");
    fs::create_directories(dir_.path() / "new/empty/inner");
    put("old/emptied/only.txt", "pruned with its last file, unless added back");
    fs::create_directories(dir_.path() / "new/emptied");
    put("rules.txt", "# fonts carry their versions\nblindoverwrite fonts/*.pfb\n");
    put("patch-extras.xml",
        "<Manifest><PDSSet><PDS><Operation>add</Operation><Root>HKLM</Root><KeyPath>SOFTWARE\\O</KeyPath>"
        "<KeyName>V</KeyName><Value defValue=\"1\"/><DataType>REG_SZ</DataType></PDS></PDSSet></Manifest>");

    const auto first = diff("p1", {"--rules", (dir_.path() / "rules.txt").string()});
    ASSERT_EQ(first.exitCode, 0) << first.output;
    EXPECT_TRUE(contains(first.output, "1 added, 2 removed, 1 renamed")) << first.output;
    const std::string manifest = readHostFile(dir_.path() / "p1/manifest.xml");
    for (const char* part :
         {"<Operation>rename</Operation>",
          "<RenamePath dir=\"[INSTALLDIR]\\lib\\sub\" defName=\"moved.bin\"/>",
          "<Operation>remove</Operation>", "<Operation>blindoverwrite</Operation>",
          "<DirectoryBase>[INSTALLDIR]\\empty\\inner</DirectoryBase>",
          "<DirectoryBase>[INSTALLDIR]\\emptied</DirectoryBase>", "<KeyPath>SOFTWARE\\O</KeyPath>"})
        EXPECT_TRUE(contains(manifest, part)) << part;
    EXPECT_FALSE(contains(manifest, "same.txt"));
    EXPECT_EQ(readHostFile(dir_.path() / "p1/config.xml"), "<PatcherConfig/>");

    ASSERT_EQ(diff("p2", {"--rules", (dir_.path() / "rules.txt").string()}).exitCode, 0);
    EXPECT_EQ(readHostFile(dir_.path() / "p2/manifest.xml"), manifest);
    for (const auto& f : fs::directory_iterator(dir_.path() / "p1/payload"))
        EXPECT_EQ(readHostFile(f.path()), readHostFile(dir_.path() / "p2/payload" / f.path().filename()));
}

TEST_F(TreeDiffTest, InputWindowsCannotTakeIsRefusedNamingEachFile) {
    put("new/Readme.txt", "a");
    put("new/README.TXT", "b");
    put("new/aux.txt", "c");
    put("new/" + std::string(210, 'n'), "d");
    const auto result = diff("out");
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_TRUE(contains(result.output, "one file on Windows")) << result.output;
    EXPECT_TRUE(contains(result.output, "aux.txt: a reserved device name"));
    EXPECT_TRUE(contains(result.output, "longer than"));
    EXPECT_FALSE(fs::exists(dir_.path() / "out"));

    const auto nested =
        runProgram(testing_support::binDir() / "mendwell-build",
                   {"diff", "--old", (dir_.path() / "new").string(), "--new", (dir_.path() / "new").string(),
                    "--config", (dir_.path() / "config.xml").string(), "-o", (dir_.path() / "o2").string()});
    EXPECT_TRUE(contains(nested.output, "one tree lies inside the other"));
}

}  // namespace
