// Unpacking archives: layout, folders, DOS times, and archives that try to write where they must not.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "mendwell/base/zip_extractor.h"
#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "tests/base/base_fixtures.h"
#include "tests/support/testmachine.h"

namespace {

using mw::TVRZipExtractor;
using shell_test::ZipItem;
using testing_support::TestMachine;

class ZipExtractorTest : public ::testing::Test {
  protected:
    // Puts the archive at C:\w\a.zip and extracts it into `destination`.
    int extract(const std::vector<ZipItem>& items, const std::wstring& destination, bool flatten = false) {
        machine.writeFile(L"C:\\w\\a.zip", shell_test::makeZip(items));
        char archive[mw::kAnsiPathBuffer];
        char dest[mw::kAnsiPathBuffer];
        mw::ansiPath(L"C:\\w\\a.zip", archive);
        mw::ansiPath(destination, dest);
        TVRZipExtractor zip;
        if (!zip.open(archive)) return -1;
        return zip.extractAll(dest, flatten);
    }
    // Host files below a machine folder, relative, with '/'.
    std::vector<std::string> filesBelow(const std::wstring& folder) const {
        std::vector<std::string> out;
        const auto root = machine.host(folder);
        if (!std::filesystem::exists(root)) return out;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
            if (e.is_regular_file())
                out.push_back(std::filesystem::relative(e.path(), root).generic_string());
        }
        std::sort(out.begin(), out.end());
        return out;
    }
    TestMachine machine;
};

TEST_F(ZipExtractorTest, ForwardSlashNamesLandInSubfoldersAndFlattenDropsThem) {
    const std::vector<ZipItem> items{{"1", "one"}, {"sub/deeper/2", "two"}, {"sub\\3", "three", true}};
    ASSERT_EQ(extract(items, L"C:\\w\\Staging"), 1);
    EXPECT_EQ(filesBelow(L"C:\\w\\Staging"), (std::vector<std::string>{"1", "sub/3", "sub/deeper/2"}));
    EXPECT_EQ(machine.readFile(L"C:\\w\\Staging\\sub\\deeper\\2"), "two");
    EXPECT_EQ(machine.readFile(L"C:\\w\\Staging\\sub\\3"), "three");

    ASSERT_EQ(extract(items, L"C:\\w\\Flat\\", true), 1);
    EXPECT_EQ(filesBelow(L"C:\\w\\Flat"), (std::vector<std::string>{"1", "2", "3"}));
}

TEST_F(ZipExtractorTest, LargeEntryAndReplacedFile) {
    std::string big;
    for (int i = 0; big.size() < 300000; ++i) big += "line " + std::to_string(i * 7919 % 10007) + "\n";
    machine.writeFile(L"C:\\w\\Staging\\big.txt", "old contents");
    ASSERT_EQ(extract({{"big.txt", big}}, L"C:\\w\\Staging"), 1);
    EXPECT_EQ(machine.readFile(L"C:\\w\\Staging\\big.txt"), big);
}

TEST_F(ZipExtractorTest, ManyEntriesOfMixedSizesComeOutIntact) {
    // Sizes around the reader's internal block sizes, stored and deflated, so that headers, data and
    // the central directory interleave in every way.
    std::vector<ZipItem> items;
    for (int i = 0; i < 300; ++i) {
        std::string data;
        const std::size_t size = static_cast<std::size_t>((i * 977) % 9000 + (i % 7 == 0 ? 20000 : 0));
        for (std::size_t k = 0; k < size; ++k)
            data += static_cast<char>((k * 31 + static_cast<std::size_t>(i)) % 251);
        items.push_back({std::to_string(i), data, i % 3 == 0});
    }
    ASSERT_EQ(extract(items, L"C:\\w\\Many"), 1);
    for (const ZipItem& item : items) {
        ASSERT_EQ(machine.readFile(L"C:\\w\\Many\\" + std::wstring(item.name.begin(), item.name.end())),
                  item.data)
            << item.name;
    }
}

// A patch of only registry, directory or service entries carries an archive with no entries at all.
TEST_F(ZipExtractorTest, EmptyAndFoldersOnlyArchivesSucceedAndWriteNothing) {
    for (const std::vector<ZipItem>& items : {std::vector<ZipItem>{}, {{"a/", ""}, {"a/b/", ""}}}) {
        std::filesystem::remove_all(machine.host(L"C:\\w\\Staging"));
        ASSERT_EQ(extract(items, L"C:\\w\\Staging"), 1) << items.size();
        EXPECT_TRUE(filesBelow(L"C:\\w\\Staging").empty());
        EXPECT_TRUE(win::isDirectory(L"C:\\w\\Staging"));
    }
}

TEST_F(ZipExtractorTest, DestinationThatIsAFileFails) {
    machine.writeFile(L"C:\\w\\file", "x");
    EXPECT_EQ(extract({{"1", "one"}}, L"C:\\w\\file"), 0);
    EXPECT_EQ(extract({{"1", "one"}}, L"C:\\w\\file\\below"), 0);
    EXPECT_EQ(machine.readFile(L"C:\\w\\file"), "x");
    // A file where a subfolder is needed, on the disk or earlier in the archive, fails the entry with its
    // ERROR line, and nothing after it is written.
    machine.writeFile(L"C:\\w\\S\\sub", "x");
    for (const std::vector<ZipItem>& items : {std::vector<ZipItem>{{"sub/1", "one"}, {"later", "2"}},
                                              {{"t/f", "file"}, {"t/f/1", "one"}, {"later", "2"}}}) {
        shell_test::CapturedLog log(machine);
        EXPECT_EQ(extract(items, L"C:\\w\\S"), 0);
        const auto errors = shell_test::messagesOf(log.lines(), L"ERROR");
        ASSERT_EQ(errors.size(), 1u) << items[1].name;
        EXPECT_NE(errors[0].find(L"\\1\""), std::wstring::npos) << win::toUtf8(errors[0]);
        EXPECT_FALSE(machine.exists(L"C:\\w\\S\\later"));
    }
}

TEST_F(ZipExtractorTest, EntryTimesAreTheDosTimeReadAsLocalTime) {
    ZipItem item{"t.txt", "t"};
    item.year = 2009;
    item.month = 3;
    item.day = 15;
    item.hour = 10;
    item.minute = 20;
    item.second = 30;
    ASSERT_EQ(extract({item}, L"C:\\w\\Staging"), 1);
    win::FileTimes times;
    ASSERT_TRUE(win::getFileTimes(L"C:\\w\\Staging\\t.txt", times));
    EXPECT_EQ(times.creation, times.lastWrite);
    // Back to local wall-clock time: 100-ns units since 1601.
    const win::FileTime local = win::fileTimeToLocal(times.lastWrite);
    using namespace std::chrono;
    const sys_days epoch1601 = sys_days{year{1601} / January / 1};
    const auto wall = epoch1601 + seconds(static_cast<long long>(local / 10000000));
    const sys_days expected = sys_days{year{2009} / March / 15};
    EXPECT_EQ(floor<days>(wall), expected);
    EXPECT_EQ(wall - expected, hours(10) + minutes(20) + seconds(30));
}

TEST_F(ZipExtractorTest, UnsafeNamesAreRefusedAndNothingLeavesTheDestination) {
    testing_support::TestMachine& m = machine;
    for (const char* name :
         {"../evil.txt", "a/../../evil.txt", "..\\evil.txt", ".. /evil.txt", "/evil.txt", "\\evil.txt",
          "C:/evil.txt", "C:evil.txt", "//server/share/evil.txt", "a/. ./evil.txt",
          // Device names are not files in the folder: Windows hands them to the device.
          "nul.evil.txt", "a/CON/evil.txt", "Com1 .evil.txt"}) {
        shell_test::CapturedLog log(m);
        EXPECT_EQ(extract({{"good.txt", "g"}, {name, "evil"}}, L"C:\\d\\inner"), 0) << name;
        EXPECT_FALSE(m.exists(L"C:\\d\\evil.txt")) << name;
        EXPECT_FALSE(m.exists(L"C:\\evil.txt")) << name;
        const auto errors = shell_test::messagesOf(log.lines(), L"ERROR");
        ASSERT_EQ(errors.size(), 1u) << name;
        EXPECT_NE(errors[0].find(L"evil.txt"), std::wstring::npos) << name;
    }
    // "." names the folder it stands in: harmless, so accepted.
    EXPECT_EQ(extract({{"a/./b.txt", "b"}, {"./c.txt", "c"}}, L"C:\\d\\dot"), 1);
    EXPECT_EQ(filesBelow(L"C:\\d\\dot"), (std::vector<std::string>{"a/b.txt", "c.txt"}));
    std::filesystem::remove_all(m.host(L"C:\\d\\dot"));
    // The entries before the refused one stay.
    EXPECT_TRUE(m.exists(L"C:\\d\\inner\\good.txt"));
    EXPECT_EQ(filesBelow(L"C:\\d"), std::vector<std::string>{"inner/good.txt"});
}

TEST_F(ZipExtractorTest, DamagedDataFailsAndIsNotLeftBehind) {
    const std::string payload = "PAYLOAD-" + std::string(4000, 'q') + "-END";
    std::string zip = shell_test::makeZip({{"ok.txt", "fine"}, {"bad.bin", payload, true}, {"after.txt", "no"}});
    const std::size_t at = zip.find("PAYLOAD-");
    ASSERT_NE(at, std::string::npos);
    zip[at + 100] = 'X';
    machine.writeFile(L"C:\\w\\a.zip", zip);
    shell_test::CapturedLog log(machine);
    char archive[mw::kAnsiPathBuffer];
    mw::ansiPath(L"C:\\w\\a.zip", archive);
    TVRZipExtractor extractor(archive);
    ASSERT_TRUE(extractor.isOpen());
    EXPECT_EQ(extractor.extractAll(nullptr, false), 0);  // into C:\w\a
    EXPECT_TRUE(machine.exists(L"C:\\w\\a\\ok.txt"));
    EXPECT_FALSE(machine.exists(L"C:\\w\\a\\bad.bin"));
    EXPECT_FALSE(machine.exists(L"C:\\w\\a\\after.txt"));  // nothing after the damaged entry
    const auto errors = shell_test::messagesOf(log.lines(), L"ERROR");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find(L"bad.bin"), std::wstring::npos);
}

TEST_F(ZipExtractorTest, OpenAndExtractPreconditions) {
    TVRZipExtractor zip;
    EXPECT_EQ(zip.extractAll("C:\\x", false), 0);  // nothing open
    char path[mw::kAnsiPathBuffer];
    mw::ansiPath(L"C:\\missing.zip", path);
    EXPECT_FALSE(zip.open(path));
    machine.writeFile(L"C:\\w\\junk.zip", "not a zip archive at all");
    mw::ansiPath(L"C:\\w\\junk.zip", path);
    EXPECT_FALSE(zip.open(path));

    machine.writeFile(L"C:\\w\\a.zip", shell_test::makeZip({{"1", "one"}}));
    mw::ansiPath(L"C:\\w\\a.zip", path);
    ASSERT_TRUE(zip.open(path));
    EXPECT_EQ(zip.extractAll("", false), 0);
    EXPECT_EQ(zip.extractAll(nullptr, false), 1);
    EXPECT_EQ(machine.readFile(L"C:\\w\\a\\1"), "one");
}

TEST_F(ZipExtractorTest, NamesTooLongForTheNameBufferAreRefused) {
    const std::string longName = std::string(255, 'n') + "/x.txt";
    EXPECT_EQ(extract({{longName, "x"}}, L"C:\\w\\S"), 0);
    EXPECT_TRUE(filesBelow(L"C:\\w\\S").empty());
    // 260 bytes still fit the buffer, but below any folder they make a path of MAX_PATH or more, which
    // Windows does not create: the entry fails as a write, not as a refused name.
    const std::string fullName = std::string(254, 'n') + "/x.txt";
    shell_test::CapturedLog log(machine);
    EXPECT_EQ(extract({{fullName, "x"}}, L"C:\\w\\T"), 0);
    EXPECT_TRUE(filesBelow(L"C:\\w\\T").empty());
    for (const auto& line : shell_test::messagesOf(log.lines(), L"ERROR"))
        EXPECT_EQ(line.find(L"too long"), std::wstring::npos);
    const std::string fits = std::string(240, 'n') + "/x.txt";
    EXPECT_EQ(extract({{fits, "x"}}, L"C:\\w\\U"), 1);
}

TEST_F(ZipExtractorTest, EntryNamesInUtf8AndInTheAnsiCodePage) {
    ZipItem utf8{"caf\xC3\xA9.txt", "u"};
    utf8.utf8 = true;
    ZipItem ansi{"na\xEFve.txt", "a"};  // code page 1252
    ASSERT_EQ(extract({utf8, ansi}, L"C:\\w\\S"), 1);
    EXPECT_TRUE(win::pathExists(L"C:\\w\\S\\caf\u00e9.txt"));
    EXPECT_TRUE(win::pathExists(L"C:\\w\\S\\na\u00efve.txt"));
}

// A path cut at the buffer's end would name a folder above the real one (the work folder itself when the
// cut falls on a separator), so one that does not fit is refused instead.
TEST(AnsiPath, PathThatDoesNotFitTheBufferIsLeftEmpty) {
    testing_support::TestMachine machine;
    char buffer[mw::kAnsiPathBuffer];
    std::memset(buffer, 'z', sizeof buffer);
    const std::wstring fits = L"C:\\" + std::wstring(mw::kAnsiPathBuffer - 4, L'a');
    mw::ansiPath(fits, buffer);
    EXPECT_EQ(std::strlen(buffer), mw::kAnsiPathBuffer - 1);
    mw::ansiPath(fits + L"a", buffer);
    EXPECT_STREQ(buffer, "");
    mw::ansiPath(L"C:\\caf\u00e9", buffer);
    EXPECT_STREQ(buffer, "C:\\caf\xE9");

    TVRZipExtractor zip;
    machine.writeFile(L"C:\\w\\a.zip", shell_test::makeZip({{"1", "one"}}));
    mw::ansiPath(L"C:\\w\\a.zip", buffer);
    ASSERT_TRUE(zip.open(buffer));
    std::wstring longFolder = L"C:\\w";
    for (int i = 0; i < 6; ++i) longFolder += L"\\" + std::wstring(200, static_cast<wchar_t>(L'b' + i));
    mw::ansiPath(longFolder, buffer);
    EXPECT_EQ(zip.extractAll(buffer, false), 0);
    EXPECT_FALSE(win::pathExists(L"C:\\w\\" + std::wstring(200, L'b')));
}

TEST(CreateFolderPath, Rules) {
    testing_support::TestMachine machine;
    EXPECT_FALSE(mw::createFolderPath(L""));
    EXPECT_TRUE(mw::createFolderPath(L"relative"));
    EXPECT_FALSE(win::pathExists(L"relative"));
    EXPECT_TRUE(mw::createFolderPath(L"C:\\a\\b\\c"));
    EXPECT_TRUE(win::isDirectory(L"C:\\a\\b\\c"));
    EXPECT_TRUE(mw::createFolderPath(L"C:\\a\\b"));
    machine.writeFile(L"C:\\a\\f", "x");
    EXPECT_FALSE(mw::createFolderPath(L"C:\\a\\f"));
    EXPECT_FALSE(mw::createFolderPath(L"C:\\a\\f\\g"));
}

}  // namespace
