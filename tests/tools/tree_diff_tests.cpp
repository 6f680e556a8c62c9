// `mendwell-build diff`, run as a program on small trees.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <functional>

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
    put("new/fonts/x.pfb", "%!PS-AdobeFont-1.0: X\n/version (1.1) readonly def\n");
    put("old/fonts/x.pfb", "%!PS-AdobeFont-1.0: X\n/version (1.0) readonly def\n");
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

std::string randomText(std::size_t size, unsigned seed) {
    std::string out(size, '\0');
    for (char& c : out) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 16);
    return out;
}

// The operation of the entry for the file named `name`.
std::string operationOf(const std::string& manifest, const std::string& name) {
    const std::size_t at = manifest.find("defName=\"" + name + "\"");
    const std::size_t op = manifest.rfind("<Operation>", at);
    if (at == std::string::npos || op == std::string::npos) return "";
    return manifest.substr(op + 11, manifest.find('<', op + 11) - op - 11);
}

// A difference is kept when it costs fewer archive bytes than the file, however small the saving; the
// patch folder is the same with one worker and with several, and progress shows only on a terminal.
TEST_F(TreeDiffTest, DifferencesAreKeptByTheirArchiveCostAndMadeInParallelToTheSameBytes) {
    struct Row {
        const char* name;
        std::string old, neu;
        const char* operation;
    } rows[] = {
        {"few-bytes.bin", randomText(3000, 1), randomText(3000, 1).replace(1000, 4, "EDIT"), "patch"},
        {"replaced.bin", randomText(3000, 2), randomText(3000, 3), "overwrite"},
        {"tiny.txt", "version 1", "version 2", "overwrite"},
        // The difference is the 9800 new bytes: about 1% below the deflated file.
        {"mostly-new.bin", randomText(200, 4), randomText(200, 4) + randomText(9800, 5), "patch"},
    };
    for (const Row& r : rows) put(std::string("old/") + r.name, r.old), put(std::string("new/") + r.name, r.neu);
    for (int i = 0; i < 12; ++i) {
        const std::string text = randomText(2000 + 500 * i, 10 + i);
        put("old/many/" + std::to_string(i) + ".dat", text);
        put("new/many/" + std::to_string(i) + ".dat", text.substr(0, 700) + "changed" + text.substr(707));
    }
    const auto serial = diff("serial", {"--jobs", "1"});
    ASSERT_EQ(serial.exitCode, 0) << serial.output;
    const std::string manifest = readHostFile(dir_.path() / "serial/manifest.xml");
    for (const Row& r : rows) EXPECT_EQ(operationOf(manifest, r.name), r.operation) << r.name;
    EXPECT_FALSE(contains(serial.output, "differences:")) << serial.output;

    const auto parallel = diff("parallel", {"--jobs", "3"});
    ASSERT_EQ(parallel.exitCode, 0) << parallel.output;
    EXPECT_EQ(readHostFile(dir_.path() / "parallel/manifest.xml"), manifest);
    std::size_t files = 0;
    for (const auto& f : fs::directory_iterator(dir_.path() / "serial/payload")) {
        ++files;
        EXPECT_EQ(readHostFile(f.path()), readHostFile(dir_.path() / "parallel/payload" / f.path().filename()));
    }
    EXPECT_EQ(files, 16u);

    // On a terminal (script gives the program one) the count of differences made shows.
    std::string command = (testing_support::binDir() / "mendwell-build").string();
    for (const char* a : {"diff", "--old", "old", "--new", "new", "--config", "config.xml", "-o", "tty"})
        command += std::string(" ") + a;
    const auto tty =
        runProgram("/usr/bin/script", {"-qec", "cd " + dir_.path().string() + " && " + command, "/dev/null"});
    EXPECT_EQ(tty.exitCode, 0) << tty.output;
    EXPECT_TRUE(contains(tty.output, "\r  differences: 16 of 16 files")) << tty.output;
    EXPECT_EQ(diff("bad", {"--jobs", "x"}).exitCode, 2);
}

// Each row alone in an otherwise good pair of trees: refused, nothing written, the message naming the file.
TEST_F(TreeDiffTest, InputWindowsCannotTakeIsRefusedNamingEachFile) {
    struct Row {
        const char* what;
        std::function<void()> make;
        std::vector<std::string> extra;
        std::string expected;
    };
    const fs::path root = dir_.path();
    const std::vector<Row> rows = {
        {"two files differing in case",
         [this] { put("new/Readme.txt", "a"), put("new/README.TXT", "b"); },
         {},
         "Readme.txt: names differing only in letter case are one file on Windows"},
        {"a file and a folder differing in case",
         [this] { put("new/Docs", "a"), put("new/docs/x.txt", "b"); },
         {},
         "docs: names differing only in letter case"},
        {"a device name", [this] { put("new/sub/aux.txt", "c"); }, {}, "aux.txt: a reserved device name"},
        {"a path too long", [this] { put("new/" + std::string(210, 'n'), "d"); }, {}, "nnn: the path"},
        {"a name that is not UTF-8", [this] { put("old/caf\xe9.txt", "e"); }, {}, "not UTF-8"},
        {"a named pipe",
         [&] { ASSERT_EQ(mkfifo((root / "new/pipe").c_str(), 0600), 0); },
         {},
         "not a regular file: " + (root / "new/pipe").string()},
        {"a symbolic link",
         [&] { fs::create_symlink("/etc/hostname", root / "old/link"); },
         {},
         "symbolic link cannot be carried by a patch: " + (root / "old/link").string()},
        {"a rule matching a file without a version",
         [this] {
             put("old/lumen.ini", "[Lumen]\nVersion=9.0\n"), put("new/lumen.ini", "[Lumen]\nVersion=9.1\n");
             put("rules.txt", "blindoverwrite *.ini\n");
         },
         {"--rules", (root / "rules.txt").string()},
         "lumen.ini: matched by a blindoverwrite rule, but it carries no version"},
        {"the new tree inside the old",
         [this] { put("old/new/x.txt", "f"); },
         {"--new", (root / "old/new").string()},
         "one tree lies inside the other"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(root / "old"), fs::remove_all(root / "new");
        fs::create_directories(root / "old"), fs::create_directories(root / "new");
        put("old/kept.txt", "kept"), put("new/kept.txt", "kept");
        row.make();
        const auto result = diff("out", row.extra);
        EXPECT_EQ(result.exitCode, 1) << result.output;
        EXPECT_TRUE(contains(result.output, row.expected)) << result.output;
        EXPECT_FALSE(fs::exists(root / "out"));
    }
}

// Assembled and verified: unchanged trees give a patch with no entry whose run succeeds and leaves the
// product as it was, and verify fails that patcher against a changed tree; a patch of changes (a rename
// into a new folder among them) passes, its forced rollback too.
TEST_F(TreeDiffTest, VerifyPassesTheTreesThePatchWasMadeFromAndNoOthers) {
    const fs::path root = dir_.path();
    // The program and the product database are real; the patch tool is never run here.
    fs::create_directories(root / "bin");
    for (const char* name : {"Mendwell", "orvex_tally.so"})
        fs::create_symlink(testing_support::binDir() / name, root / "bin" / name);
    for (const char* name : {"patch", "quadw32.dll"}) writeHostFile(root / "bin" / name, "stand-in");
    auto tool = [&](std::vector<std::string> args) {
        args.insert(args.end(), {"--bin", (root / "bin").string()});
        return runProgram(testing_support::binDir() / "mendwell-build", args);
    };
    auto verify = [&](const std::string& patch, const std::string& expectedNew) {
        const auto assembled =
            tool({"assemble", (root / patch).string(), "-o", (root / (patch + ".exe")).string()});
        EXPECT_EQ(assembled.exitCode, 0) << assembled.output;
        const auto result = runProgram(testing_support::binDir() / "mendwell-build",
                                       {"verify", (root / (patch + ".exe")).string(), "--old",
                                        (root / "old").string(), "--new", (root / expectedNew).string()});
        return result;
    };
    writeHostFile(
        root / "config.xml",
        "<PatcherConfig><Name>Lumen TX4</Name><PatcherID>{0F5D3A61-2B7C-4E84-A1D9-3C6B8E2F7A45}</PatcherID>"
        "<BuildNumber>1</BuildNumber><ProductData><OrvexCode><GUID>{5A7C1E2B-0D3F-4C58-9E61-7B2A4D8F9C10}"
        "</GUID></OrvexCode><OldVersion>9.0</OldVersion><NewVersion>9.0.3</NewVersion></ProductData>"
        "</PatcherConfig>");
    for (const char* side : {"old", "new"}) {
        put(std::string(side) + "/lumen.ini", "[Lumen]\r\n");
        put(std::string(side) + "/bin/lumen.dll", "lumen 9.0");
        fs::create_directories(root / side / "Presets");
    }
    const auto same = diff("same");
    ASSERT_EQ(same.exitCode, 0) << same.output;
    EXPECT_TRUE(contains(same.output, "0 added, 0 removed, 0 renamed, 0 patched, 0 overwritten"));
    const std::string manifest = readHostFile(root / "same/manifest.xml");
    EXPECT_FALSE(contains(manifest, "<File>") || contains(manifest, "<Directory>")) << manifest;
    EXPECT_TRUE(fs::is_empty(root / "same/payload"));
    const auto empty = verify("same", "new");
    EXPECT_EQ(empty.exitCode, 0) << empty.output;
    EXPECT_TRUE(contains(empty.output, "patch run: return code 0")) << empty.output;
    EXPECT_TRUE(contains(empty.output, "no entry to fail")) << empty.output;

    put("new/bin/lumen.dll", "lumen 9.0.3");
    put("new/docs/whatsnew.txt", "new in 9.0.3");
    fs::create_directories(root / "new/config");
    fs::rename(root / "new/lumen.ini", root / "new/config/lumen.ini.old");
    const auto other = runProgram(testing_support::binDir() / "mendwell-build",
                                  {"verify", (root / "same.exe").string(), "--old", (root / "old").string(),
                                   "--new", (root / "new").string()});
    EXPECT_EQ(other.exitCode, 1) << other.output;
    EXPECT_TRUE(contains(other.output, "different bytes: bin/lumen.dll")) << other.output;

    ASSERT_EQ(diff("changed").exitCode, 0);
    const auto passed = verify("changed", "new");
    EXPECT_EQ(passed.exitCode, 0) << passed.output;
    EXPECT_TRUE(contains(passed.output, "product against the old tree: identical")) << passed.output;
}

}  // namespace
