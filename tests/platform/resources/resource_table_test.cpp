#include <gtest/gtest.h>

#include <sys/stat.h>

#include "platform/process/process.h"
#include "platform/resources/resources.h"
#include "tests/support/testmachine.h"

namespace {

namespace fs = std::filesystem;
using testing_support::readHostFile;
using testing_support::TempDir;
using testing_support::TestMachine;
using testing_support::writeHostFile;

std::vector<std::uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}
std::string text(std::span<const std::uint8_t> s) {
    return {s.begin(), s.end()};
}

TEST(ResourceTable, WrittenEntriesAreFoundByTypeAndId) {
    TestMachine machine;
    TempDir dir;
    const std::string programBytes =
        "\x7f"
        "ELF pretend program of 37 odd bytes";
    writeHostFile(dir.path() / "prog", programBytes);
    win::ResourceWriter writer;
    writer.add(std::wstring(L"CONFIG"), 100, 0, bytes("<config/>"));
    writer.add(std::wstring(L"QUADRELFILES"), 100, 0, bytes("tool"));
    writer.add(std::wstring(L"QUADRELFILES"), 200, 0, bytes("engine"));
    writer.add(std::uint16_t{16}, 1, 0x409, bytes("version"));
    writer.add(std::wstring(L"EMPTY"), 1, 0, {});
    std::string error;
    ASSERT_TRUE(writer.write(dir.path() / "prog", dir.path() / "out", error)) << error;

    struct stat st {};
    ASSERT_EQ(::stat((dir.path() / "out").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    EXPECT_EQ(readHostFile(dir.path() / "out").substr(0, programBytes.size()), programBytes);

    win::Module module;
    ASSERT_TRUE(module.open(dir.path() / "out"));
    EXPECT_EQ(text(module.find(std::wstring(L"config"), 100)), "<config/>");  // type names ignore case
    EXPECT_EQ(text(module.find(std::wstring(L"QUADRELFILES"), 200)), "engine");
    EXPECT_EQ(text(module.find(std::uint16_t{16}, 1)), "version");
    EXPECT_TRUE(module.find(std::wstring(L"EMPTY"), 1).empty());
    EXPECT_EQ(win::lastError(), 0u);
    // Data lies in the mapping, aligned for readers of binary blocks.
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(module.find(std::wstring(L"QUADRELFILES"), 100).data()) % 8,
              0u);

    EXPECT_TRUE(module.find(std::wstring(L"MANIFEST"), 100).empty());
    EXPECT_EQ(win::lastError(), 1813u);
    EXPECT_TRUE(module.find(std::wstring(L"CONFIG"), 101).empty());
    EXPECT_EQ(win::lastError(), 1814u);
    EXPECT_TRUE(module.find(std::wstring(L"CONFIG"), 100, 0x407).empty());
    EXPECT_EQ(win::lastError(), 1815u);
    EXPECT_TRUE(module.find(std::uint16_t{10}, 1).empty());  // a number is not the text "10"
    EXPECT_EQ(win::lastError(), 1813u);
    EXPECT_EQ(module.list().size(), 5u);

    // Writing onto a program that carries a table replaces the table, not appends a second one.
    win::ResourceWriter second;
    second.add(std::wstring(L"CONFIG"), 100, 0, bytes("new"));
    ASSERT_TRUE(second.write(dir.path() / "out", dir.path() / "out", error)) << error;
    win::Module rewritten;
    ASSERT_TRUE(rewritten.open(dir.path() / "out"));
    EXPECT_EQ(text(rewritten.find(std::wstring(L"CONFIG"), 100)), "new");
    EXPECT_EQ(rewritten.list().size(), 1u);
    EXPECT_EQ(readHostFile(dir.path() / "out").substr(0, programBytes.size()), programBytes);
    EXPECT_FALSE(fs::exists(dir.path() / "out.part"));

    EXPECT_FALSE(second.write(dir.path() / "missing", dir.path() / "x", error));
    EXPECT_NE(error.find("missing"), std::string::npos);
}

TEST(ResourceTable, LookupWithoutLanguagePrefersNeutralThenUserLanguage) {
    win::MachineProfile profile;
    profile.userLanguage = 0x407;
    TestMachine machine(profile);
    TempDir dir;
    writeHostFile(dir.path() / "prog", "program");
    win::ResourceWriter writer;
    writer.add(std::wstring(L"A"), 1, 0x409, bytes("en"));
    writer.add(std::wstring(L"A"), 1, 0, bytes("neutral"));
    writer.add(std::wstring(L"A"), 1, 0x407, bytes("de"));
    writer.add(std::wstring(L"B"), 1, 0x409, bytes("en"));
    writer.add(std::wstring(L"B"), 1, 0x407, bytes("de"));
    writer.add(std::wstring(L"C"), 1, 0x40C, bytes("fr"));
    std::string error;
    ASSERT_TRUE(writer.write(dir.path() / "prog", dir.path() / "out", error)) << error;
    win::Module module;
    ASSERT_TRUE(module.open(dir.path() / "out"));
    EXPECT_EQ(text(module.find(std::wstring(L"A"), 1)), "neutral");
    EXPECT_EQ(text(module.find(std::wstring(L"A"), 1, 0x409)), "en");
    EXPECT_EQ(text(module.find(std::wstring(L"B"), 1)), "de");
    EXPECT_EQ(text(module.find(std::wstring(L"C"), 1)), "fr");
}

TEST(ResourceTable, DamagedOrMissingTableMeansNoResources) {
    TestMachine machine;
    TempDir dir;
    writeHostFile(dir.path() / "prog", std::string(1000, 'p'));
    win::ResourceWriter writer;
    writer.add(std::wstring(L"CONFIG"), 100, 0, bytes(std::string(300, 'c')));
    std::string error;
    ASSERT_TRUE(writer.write(dir.path() / "prog", dir.path() / "good", error)) << error;
    const std::string good = readHostFile(dir.path() / "good");

    auto noResources = [&](const std::string& name, const std::string& content) {
        writeHostFile(dir.path() / name, content);
        win::Module module;
        EXPECT_TRUE(module.open(dir.path() / name)) << name;
        EXPECT_TRUE(module.find(std::wstring(L"CONFIG"), 100).empty()) << name;
        EXPECT_EQ(win::lastError(), 1813u) << name;
        EXPECT_TRUE(module.list().empty()) << name;
    };
    std::string flippedDirectory = good;
    flippedDirectory[good.size() - 40 - 10] ^= 0x01;
    noResources("directory", flippedDirectory);
    std::string hugeOffset = good;
    hugeOffset[good.size() - 40 + 7] = '\x7f';  // program size beyond the file
    noResources("trailer", hugeOffset);
    noResources("truncated", good.substr(0, good.size() - 3));
    noResources("cut", good.substr(0, 1100));
    noResources("tiny", "MWRSRC01");
    noResources("empty", "");
    noResources("plain", "a program without a table");

    win::Module missing;
    EXPECT_FALSE(missing.open(dir.path() / "nothing"));
    EXPECT_EQ(win::lastError(), 2u);
}

TEST(ResourceTable, RunningProgramWithoutTableHasNoResources) {
    TestMachine machine;
    const win::Module& self = win::Module::self();
    EXPECT_TRUE(self.isOpen());
    EXPECT_EQ(&self, &win::Module::self());
    EXPECT_EQ(self.path(), win::moduleHostPath());
    EXPECT_TRUE(self.find(std::wstring(L"CONFIG"), 100).empty());
    EXPECT_EQ(win::lastError(), 1813u);
}

}  // namespace
