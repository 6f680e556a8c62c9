#include <gtest/gtest.h>

#include "platform/resources/resources.h"
#include "tests/support/testmachine.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readHostFile;
using testing_support::TempDir;
using testing_support::TestMachine;
using testing_support::writeHostFile;

// Built at test-build time from tests/fixtures/versioned.rc with the MinGW resource compiler.
fs::path peFixture() {
    return testing_support::binDir() / "fixtures" / "versioned.dll";
}

constexpr win::VersionInfo kFixtureNumbers{(3u << 16) | 1, (4u << 16) | 159, (2u << 16) | 7, (1u << 16) | 8};

void expectSame(const win::VersionInfo& a, const win::VersionInfo& b) {
    EXPECT_EQ(a.fileVersionMS, b.fileVersionMS);
    EXPECT_EQ(a.fileVersionLS, b.fileVersionLS);
    EXPECT_EQ(a.productVersionMS, b.productVersionMS);
    EXPECT_EQ(a.productVersionLS, b.productVersionLS);
}

TEST(VersionInfo, PeFileAndOurTableReadTheSame) {
    TestMachine machine;
    ASSERT_TRUE(fs::exists(peFixture())) << "fixture not built: " << peFixture();
    win::VersionInfo fromPe;
    ASSERT_TRUE(win::readFileVersion(peFixture(), fromPe));
    expectSame(fromPe, kFixtureNumbers);

    std::vector<std::uint8_t> peBlock;
    ASSERT_TRUE(win::readVersionBlock(peFixture(), peBlock));
    std::wstring description;
    ASSERT_TRUE(win::versionString(peBlock, 0x409, 1200, L"FileDescription", description));
    EXPECT_EQ(description, L"Mendwell version fixture");
    EXPECT_EQ(win::versionTranslations(peBlock),
              (std::vector<std::pair<std::uint16_t, std::uint16_t>>{{0x409, 1200}}));

    TempDir dir;
    writeHostFile(dir.path() / "prog", "program");
    win::ResourceWriter writer;
    win::VersionStrings strings;
    strings.values = {{L"FileDescription", L"Mendwell version fixture"}, {L"FileVersion", L"3.1.4.159"}};
    writer.add(win::kRtVersion, 1, 0x409, win::buildVersionInfo(kFixtureNumbers, {strings}));
    std::string error;
    ASSERT_TRUE(writer.write(dir.path() / "prog", dir.path() / "ours", error)) << error;
    win::VersionInfo fromTable;
    ASSERT_TRUE(win::readFileVersion(dir.path() / "ours", fromTable));
    expectSame(fromTable, fromPe);

    std::vector<std::uint8_t> ourBlock;
    ASSERT_TRUE(win::readVersionBlock(dir.path() / "ours", ourBlock));
    EXPECT_EQ(win::versionTranslations(ourBlock), win::versionTranslations(peBlock));
    ASSERT_TRUE(win::versionString(ourBlock, 0x409, 1200, L"fileversion", description));
    EXPECT_EQ(description, L"3.1.4.159");
    EXPECT_FALSE(win::versionString(ourBlock, 0x407, 1200, L"FileDescription", description));

    // By Windows path, from inside the machine.
    fs::create_directories(machine.host(L"C:\\Lib"));
    fs::copy_file(peFixture(), machine.host(L"C:\\Lib\\Versioned.dll"));
    win::VersionInfo byPath;
    ASSERT_TRUE(win::readFileVersion(std::wstring_view(L"c:\\lib\\versioned.dll"), byPath));
    expectSame(byPath, kFixtureNumbers);
}

TEST(VersionInfo, BuiltBlockHasTheWindowsLayout) {
    const auto block = win::buildVersionInfo(kFixtureNumbers);
    ASSERT_GE(block.size(), 92u);
    EXPECT_EQ(block[0] | (block[1] << 8), static_cast<int>(block.size()));  // wLength
    EXPECT_EQ(block[2] | (block[3] << 8), 52);                              // wValueLength
    const std::string key(reinterpret_cast<const char*>(block.data() + 6), 30);
    EXPECT_EQ(key, std::string("V\0S\0_\0V\0E\0R\0S\0I\0O\0N\0_\0I\0N\0F\0O\0", 30));
    // The fixed information starts at 40 (6 + 32, rounded to 4): signature, then the file version.
    EXPECT_EQ(
        block[40] | (block[41] << 8) | (block[42] << 16) | (static_cast<std::uint32_t>(block[43]) << 24),
        0xFEEF04BDu);
    EXPECT_EQ(block[48] | (block[49] << 8) | (block[50] << 16) | (block[51] << 24),
              static_cast<int>(3u << 16 | 1));
}

TEST(VersionInfo, FilesWithoutOrWithBrokenVersionInformation) {
    TestMachine machine;
    TempDir dir;
    win::VersionInfo info;
    writeHostFile(dir.path() / "plain", "no version here");
    EXPECT_FALSE(win::readFileVersion(dir.path() / "plain", info));
    EXPECT_EQ(win::lastError(), 1813u);

    // A PE file cut short anywhere reads as having no version, never outside the file.
    const std::string pe = readHostFile(peFixture());
    const std::size_t block = pe.find(std::string("V\0S\0_\0V\0E\0R\0", 12));
    ASSERT_NE(block, std::string::npos);
    for (std::size_t cut :
         {std::size_t{64}, std::size_t{200}, block - 40, block - 6, block + 60, block + 200}) {
        writeHostFile(dir.path() / "cut", pe.substr(0, cut));
        EXPECT_FALSE(win::readFileVersion(dir.path() / "cut", info)) << cut;
    }

    const std::vector<std::uint8_t> wrongKey = [] {
        auto b = win::buildVersionInfo({});
        b[6] = 'X';
        return b;
    }();
    EXPECT_FALSE(win::parseVersionInfo(wrongKey, info));
    auto truncated = win::buildVersionInfo({});
    truncated.resize(50);
    EXPECT_FALSE(win::parseVersionInfo(truncated, info));
    EXPECT_FALSE(win::parseVersionInfo({}, info));
    EXPECT_FALSE(win::readFileVersion(std::wstring_view(L"C:\\none.dll"), info));
}

}  // namespace
