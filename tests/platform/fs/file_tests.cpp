#include "platform/fs/file.h"

#include <gtest/gtest.h>

#include "platform/fs/path.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;

// Expects a failed call with the given Win32 error.
#define EXPECT_FAILS_WITH(call, error)             \
    do {                                           \
        win::setLastError(0);                      \
        EXPECT_FALSE(call);                        \
        EXPECT_EQ(win::lastError(), DWORD(error)); \
    } while (0)

using win::DWORD;

TEST(FileAttributes, ReadOnlyHiddenAndNormal) {
    TestMachine machine;
    machine.writeFile(L"C:\\a.txt", "x");
    EXPECT_EQ(win::getFileAttributes(L"C:\\a.txt"), win::attr::archive);
    EXPECT_EQ(win::getFileAttributes(L"C:\\"), win::attr::directory);
    ASSERT_TRUE(win::setFileAttributes(L"C:\\A.TXT", win::attr::readOnly | win::attr::hidden));
    EXPECT_EQ(win::getFileAttributes(L"C:\\a.txt"), win::attr::readOnly | win::attr::hidden);
    ASSERT_TRUE(win::setFileAttributes(L"C:\\a.txt", win::attr::normal));
    EXPECT_EQ(win::getFileAttributes(L"C:\\a.txt"), win::attr::normal);
    EXPECT_EQ(win::getFileAttributes(L"C:\\none.txt"), win::attr::invalid);
    EXPECT_EQ(win::lastError(), win::err::fileNotFound);
    EXPECT_EQ(win::getFileAttributes(L"C:\\none\\x.txt"), win::attr::invalid);
    EXPECT_EQ(win::lastError(), win::err::pathNotFound);
    EXPECT_TRUE(win::pathExists(L"c:\\A.txt"));
    EXPECT_TRUE(win::isDirectory(L"C:\\windows"));
    EXPECT_FALSE(win::isDirectory(L"C:\\a.txt"));
}

TEST(CopyFile, KeepsTimeAndAttributesAndRefusesAsWindows) {
    TestMachine machine;
    machine.writeFile(L"C:\\src\\a.dll", "payload");
    machine.writeFile(L"C:\\dst\\b.dll", "old");
    const win::FileTime when = 130000000000000000ULL;  // 2012
    ASSERT_TRUE(win::setFileTimes(L"C:\\src\\a.dll", nullptr, nullptr, &when));
    ASSERT_TRUE(win::setFileAttributes(L"C:\\src\\a.dll", win::attr::readOnly | win::attr::archive));

    EXPECT_FAILS_WITH(win::copyFile(L"C:\\src\\a.dll", L"C:\\dst\\b.dll", true), win::err::fileExists);
    EXPECT_EQ(machine.readFile(L"C:\\dst\\b.dll"), "old");
    EXPECT_FAILS_WITH(win::copyFile(L"C:\\src\\a.dll", L"C:\\nofolder\\a.dll", false),
                      win::err::pathNotFound);
    EXPECT_FAILS_WITH(win::copyFile(L"C:\\src\\none.dll", L"C:\\dst\\c.dll", false), win::err::fileNotFound);

    ASSERT_TRUE(win::copyFile(L"c:\\SRC\\A.DLL", L"C:\\dst\\copy.dll", true));
    EXPECT_EQ(machine.readFile(L"C:\\dst\\copy.dll"), "payload");
    win::FileTimes times;
    ASSERT_TRUE(win::getFileTimes(L"C:\\dst\\copy.dll", times));
    EXPECT_EQ(times.lastWrite, when);
    EXPECT_EQ(win::getFileAttributes(L"C:\\dst\\copy.dll"), win::attr::readOnly | win::attr::archive);

    // The copy is read-only now: copying over it fails with 5 and leaves it alone.
    EXPECT_FAILS_WITH(win::copyFile(L"C:\\dst\\b.dll", L"C:\\dst\\copy.dll", false), win::err::accessDenied);
    EXPECT_EQ(machine.readFile(L"C:\\dst\\copy.dll"), "payload");
    ASSERT_TRUE(win::copyFile(L"C:\\src\\a.dll", L"C:\\dst\\b.dll", false));
    EXPECT_EQ(machine.readFile(L"C:\\dst\\b.dll"), "payload");
    ASSERT_TRUE(win::setFileAttributes(L"C:\\dst\\b.dll", win::attr::normal));
    // A file onto itself is a sharing conflict, never a truncation.
    EXPECT_FAILS_WITH(win::copyFile(L"C:\\dst\\b.dll", L"C:\\DST\\B.dll", false), win::err::sharingViolation);
    EXPECT_EQ(machine.readFile(L"C:\\dst\\b.dll"), "payload");
}

TEST(MoveFile, ReplaceRulesAndFolders) {
    TestMachine machine;
    machine.writeFile(L"C:\\a.txt", "A");
    machine.writeFile(L"C:\\b.txt", "B");
    EXPECT_FAILS_WITH(win::moveFile(L"C:\\a.txt", L"C:\\b.txt", 0), win::err::alreadyExists);
    ASSERT_TRUE(win::setFileAttributes(L"C:\\b.txt", win::attr::readOnly));
    EXPECT_FAILS_WITH(win::moveFile(L"C:\\a.txt", L"C:\\b.txt", win::moveflag::replaceExisting),
                      win::err::accessDenied);
    ASSERT_TRUE(win::setFileAttributes(L"C:\\b.txt", win::attr::normal));
    ASSERT_TRUE(win::moveFile(L"C:\\a.txt", L"C:\\B.TXT",
                              win::moveflag::replaceExisting | win::moveflag::writeThrough));
    EXPECT_EQ(machine.readFile(L"C:\\b.txt"), "A");
    EXPECT_FALSE(machine.exists(L"C:\\a.txt"));
    EXPECT_FAILS_WITH(win::moveFile(L"C:\\a.txt", L"C:\\c.txt", 0), win::err::fileNotFound);
    EXPECT_FAILS_WITH(win::moveFile(L"C:\\b.txt", L"C:\\no\\c.txt", 0), win::err::pathNotFound);

    // Case-only rename, a move into another folder, and a whole folder.
    ASSERT_TRUE(win::moveFile(L"C:\\b.txt", L"C:\\Renamed.TXT", 0));
    ASSERT_TRUE(win::moveFile(L"C:\\renamed.txt", L"C:\\RENAMED.txt", 0));
    EXPECT_TRUE(machine.exists(L"C:\\RENAMED.txt"));
    ASSERT_TRUE(win::createDirectory(L"C:\\Folder"));
    ASSERT_TRUE(win::moveFile(L"C:\\renamed.txt", L"C:\\folder\\inside.txt", 0));
    ASSERT_TRUE(win::moveFile(L"C:\\Folder", L"C:\\Moved", 0));
    EXPECT_EQ(machine.readFile(L"C:\\Moved\\inside.txt"), "A");
}

TEST(DeleteAndFolders, ErrorNumbers) {
    TestMachine machine;
    machine.writeFile(L"C:\\d\\f.txt", "x");
    EXPECT_FAILS_WITH(win::removeDirectory(L"C:\\d"), win::err::dirNotEmpty);
    EXPECT_FAILS_WITH(win::removeDirectory(L"C:\\d\\f.txt"), win::err::directory);
    EXPECT_FAILS_WITH(win::deleteFile(L"C:\\d"), win::err::accessDenied);
    ASSERT_TRUE(win::setFileAttributes(L"C:\\d\\f.txt", win::attr::readOnly));
    EXPECT_FAILS_WITH(win::deleteFile(L"C:\\d\\f.txt"), win::err::accessDenied);
    EXPECT_TRUE(machine.exists(L"C:\\d\\f.txt"));
    ASSERT_TRUE(win::setFileAttributes(L"C:\\d\\f.txt", win::attr::normal));
    ASSERT_TRUE(win::deleteFile(L"C:\\D\\F.TXT"));
    EXPECT_FAILS_WITH(win::deleteFile(L"C:\\d\\f.txt"), win::err::fileNotFound);
    EXPECT_FAILS_WITH(win::createDirectory(L"C:\\d"), win::err::alreadyExists);
    EXPECT_FAILS_WITH(win::createDirectory(L"C:\\x\\y"), win::err::pathNotFound);
    EXPECT_FAILS_WITH(win::removeDirectory(L"C:\\"), win::err::accessDenied);
    ASSERT_TRUE(win::setCurrentDirectory(L"C:\\d"));
    EXPECT_FAILS_WITH(win::removeDirectory(L"C:\\d"), win::err::sharingViolation);
    ASSERT_TRUE(win::setCurrentDirectory(L"C:\\"));
    ASSERT_TRUE(win::removeDirectory(L"C:\\d"));
    EXPECT_FALSE(machine.exists(L"C:\\d"));
}

TEST(FileHandle, DispositionsReadWriteAndTimes) {
    TestMachine machine;
    win::File f;
    EXPECT_FAILS_WITH(f.open(L"C:\\n.bin", win::access::read, 0, win::Disposition::openExisting),
                      win::err::fileNotFound);
    ASSERT_TRUE(f.open(L"C:\\n.bin", win::access::read | win::access::write, 0, win::Disposition::createNew));
    ASSERT_TRUE(f.write("hello world", 11));
    ASSERT_TRUE(f.seek(5));
    ASSERT_TRUE(f.truncate());
    ASSERT_TRUE(f.seek(0));
    char buf[32];
    std::size_t got = 0;
    ASSERT_TRUE(f.read(buf, sizeof buf, got));
    EXPECT_EQ(std::string(buf, got), "hello");
    // Reading at an offset leaves the position where it was (at the end here).
    ASSERT_TRUE(f.readAt(1, buf, 3, got));
    EXPECT_EQ(std::string(buf, got), "ell");
    ASSERT_TRUE(f.read(buf, sizeof buf, got));
    EXPECT_EQ(got, 0u);
    const win::FileTime when = 125000000000000000ULL;
    ASSERT_TRUE(f.setTimes(nullptr, nullptr, &when));
    f.close();
    win::FileTimes times;
    ASSERT_TRUE(win::getFileTimes(L"C:\\n.bin", times));
    EXPECT_EQ(times.lastWrite, when);

    EXPECT_FAILS_WITH(f.open(L"C:\\n.bin", win::access::write, 0, win::Disposition::createNew),
                      win::err::fileExists);
    ASSERT_TRUE(f.open(L"C:\\n.bin", win::access::read, 0, win::Disposition::openAlways));
    EXPECT_EQ(win::lastError(), win::err::alreadyExists);
    EXPECT_FAILS_WITH(f.write("x", 1), win::err::accessDenied);
    ASSERT_TRUE(f.open(L"C:\\n.bin", win::access::write, win::share::read, win::Disposition::openExisting));
    EXPECT_FAILS_WITH(f.read(buf, sizeof buf, got), win::err::accessDenied);
    EXPECT_FAILS_WITH(f.readAt(0, buf, sizeof buf, got), win::err::accessDenied);
    f.close();
    EXPECT_FAILS_WITH(f.open(L"C:\\Windows", win::access::read, 0, win::Disposition::openExisting),
                      win::err::accessDenied);
    ASSERT_TRUE(win::setFileAttributes(L"C:\\n.bin", win::attr::readOnly));
    EXPECT_FAILS_WITH(f.open(L"C:\\n.bin", win::access::write, 0, win::Disposition::openExisting),
                      win::err::accessDenied);
    std::string bytes;
    ASSERT_TRUE(win::readFile(L"C:\\N.BIN", bytes));
    EXPECT_EQ(bytes, "hello");
    ASSERT_TRUE(win::writeFile(L"C:\\w.bin", std::string("a\0b", 3)));
    std::uint64_t size = 0;
    ASSERT_TRUE(win::getFileSize(L"C:\\w.bin", size));
    EXPECT_EQ(size, 3u);
    // The stamp a changed file is told by: the same size and time as the separate calls give.
    win::FileTime lastWrite = 0;
    ASSERT_TRUE(win::getSizeAndLastWrite(L"C:\\N.bin", size, lastWrite));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(lastWrite, when);
    EXPECT_FAILS_WITH(win::getSizeAndLastWrite(L"C:\\none.bin", size, lastWrite), win::err::fileNotFound);
}

TEST(FindFile, PatternsDotsAndEnd) {
    TestMachine machine;
    machine.writeFile(L"C:\\p\\Alpha.dll", "1");
    machine.writeFile(L"C:\\p\\beta.DLL", "22");
    machine.writeFile(L"C:\\p\\readme", "333");
    win::FindFile find;
    win::FindData d;
    std::vector<std::wstring> names;
    ASSERT_TRUE(find.first(L"C:\\P\\*.dll", d));
    do names.push_back(d.name);
    while (find.next(d));
    EXPECT_EQ(win::lastError(), win::err::noMoreFiles);
    EXPECT_EQ(names, (std::vector<std::wstring>{L"Alpha.dll", L"beta.DLL"}));

    names.clear();
    ASSERT_TRUE(find.first(L"C:\\p\\*", d));
    do names.push_back(d.name);
    while (find.next(d));
    EXPECT_EQ(names, (std::vector<std::wstring>{L".", L"..", L"Alpha.dll", L"beta.DLL", L"readme"}));

    ASSERT_TRUE(find.first(L"C:\\p\\BETA.?LL", d));
    EXPECT_EQ(d.name, L"beta.DLL");
    EXPECT_EQ(d.size, 2u);
    EXPECT_FALSE(find.next(d));
    EXPECT_FAILS_WITH(find.first(L"C:\\p\\*.exe", d), win::err::fileNotFound);
    EXPECT_FAILS_WITH(find.first(L"C:\\nothere\\*", d), win::err::pathNotFound);
    // A drive root lists no "." or "..".
    ASSERT_TRUE(find.first(L"C:\\*", d));
    EXPECT_NE(d.name, L".");
}

TEST(FileTimes, ConversionsAndDosDates) {
    win::FileTime t = 0;
    // 2010-06-15 13:45:30 as a DOS date and time.
    const std::uint16_t date = static_cast<std::uint16_t>(((2010 - 1980) << 9) | (6 << 5) | 15);
    const std::uint16_t time = static_cast<std::uint16_t>((13 << 11) | (45 << 5) | (30 / 2));
    ASSERT_TRUE(win::dosDateTimeToFileTime(date, time, t));
    EXPECT_EQ(t, 129210831300000000ULL);
    EXPECT_FALSE(win::dosDateTimeToFileTime(static_cast<std::uint16_t>((30 << 9) | (2 << 5) | 30), 0, t));
    EXPECT_EQ(win::lastError(), win::err::invalidParameter);
    EXPECT_EQ(win::localToFileTime(win::fileTimeToLocal(t)), t);
    const win::FileTime now = win::currentFileTime();
    EXPECT_GT(now, 133000000000000000ULL);  // after 2022
}

}  // namespace
