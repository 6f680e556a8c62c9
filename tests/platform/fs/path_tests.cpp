#include "platform/fs/path.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "platform/fs/file.h"
#include "platform/fs/folder_cache.h"
#include "platform/win.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;

std::wstring full(std::wstring_view p) {
    std::wstring out;
    EXPECT_TRUE(win::fullPath(p, out)) << "last error " << win::lastError();
    return out;
}

TEST(FullPath, ResolvesAsWindowsDoes) {
    TestMachine machine;
    EXPECT_EQ(full(L"C:\\..\\..\\x"), L"C:\\x");
    EXPECT_EQ(full(L"c:/a/./b/../c"), L"C:\\a\\c");
    EXPECT_EQ(full(L"C:\\dir\\a.txt."), L"C:\\dir\\a.txt");
    EXPECT_EQ(full(L"C:\\dir. \\a.txt . "), L"C:\\dir\\a.txt");
    EXPECT_EQ(full(L"C:\\a\\\\b\\"), L"C:\\a\\b\\");
    EXPECT_EQ(full(L"C:\\"), L"C:\\");
    // "\\?\" turns parsing off: trailing dots stay, '.' and '..' are no names.
    EXPECT_EQ(full(L"\\\\?\\c:\\a.\\b "), L"C:\\a.\\b ");
    std::wstring out;
    EXPECT_FALSE(win::fullPath(L"\\\\?\\C:\\a\\..\\b", out));
    ASSERT_TRUE(win::createDirectory(L"C:\\work"));
    ASSERT_TRUE(win::setCurrentDirectory(L"c:\\work\\"));
    EXPECT_EQ(win::currentDirectory(), L"C:\\work");
    EXPECT_EQ(full(L"rel\\f"), L"C:\\work\\rel\\f");
    EXPECT_EQ(full(L"\\top"), L"C:\\top");
    EXPECT_EQ(full(L"C:sub"), L"C:\\work\\sub");
    EXPECT_EQ(full(L"D:sub"), L"D:\\sub");
    EXPECT_EQ(full(L".."), L"C:\\");
}

TEST(FullPath, RefusesUncDevicesEmptyAndOverlongPaths) {
    TestMachine machine;
    std::wstring out;
    for (const wchar_t* p :
         {L"\\\\server\\share\\x", L"\\\\?\\UNC\\server\\x", L"\\\\.\\PhysicalDrive0", L"//server/x"}) {
        win::setLastError(0);
        EXPECT_FALSE(win::fullPath(p, out)) << p;
        EXPECT_EQ(win::lastError(), win::err::badPathname) << p;
        EXPECT_FALSE(win::pathExists(p));
    }
    EXPECT_FALSE(win::fullPath(L"", out));
    EXPECT_EQ(win::lastError(), win::err::invalidName);
    const std::wstring longPath = L"C:\\" + std::wstring(40000, L'a');
    EXPECT_FALSE(win::fullPath(longPath, out));
    EXPECT_EQ(win::lastError(), win::err::filenameTooLong);
    EXPECT_FALSE(win::createDirectory(longPath));
    EXPECT_EQ(win::lastError(), win::err::filenameTooLong);
}

TEST(HostPath, MapsCaseInsensitivelyAndNeverLeavesTheDrive) {
    TestMachine machine;
    machine.writeFile(L"C:\\Program Files\\Orvex\\Patch.exe", "x");
    std::filesystem::path host;
    ASSERT_TRUE(win::hostPath(L"c:\\PROGRAM FILES\\orvex\\patch.EXE", host));
    EXPECT_EQ(host, machine.host(L"C:\\Program Files\\Orvex\\Patch.exe"));
    // Missing names keep the case as written below the last existing folder.
    ASSERT_TRUE(win::hostPath(L"C:\\program files\\New\\File.TXT", host));
    EXPECT_EQ(host, machine.root() / "drive_c/Program Files/New/File.TXT");
    ASSERT_TRUE(win::hostPath(L"C:\\..\\..\\..\\etc\\passwd", host));
    EXPECT_EQ(host, machine.root() / "drive_c/etc/passwd");
    EXPECT_EQ(win::windowsPath(machine.root() / "drive_c/Program Files/Orvex"), L"C:\\Program Files\\Orvex");
    EXPECT_EQ(win::windowsPath("/etc/passwd"), L"");
    // Existing names as on disk, the drive and missing names as written; only full paths are answered.
    const struct {
        const wchar_t* path;
        const wchar_t* onDisk;  // null: not answered
    } rows[] = {
        {L"c:\\PROGRAM FILES\\orvex\\patch.EXE", L"c:\\Program Files\\Orvex\\Patch.exe"},
        {L"C:\\Program Files\\Orvex\\Patch.exe", L"C:\\Program Files\\Orvex\\Patch.exe"},
        {L"C:\\program files\\New\\File.TXT", L"C:\\Program Files\\New\\File.TXT"},
        {L"C:\\program files\\orvex\\..\\Orvex\\patch.exe", nullptr},
        {L"C:/program files/orvex/patch.exe", nullptr},
        {L"Program Files\\Orvex", nullptr},
    };
    for (const auto& row : rows) {
        std::wstring onDisk;
        EXPECT_EQ(win::pathInDiskCase(row.path, onDisk), row.onDisk != nullptr) << row.path;
        if (row.onDisk) {
            EXPECT_EQ(onDisk, row.onDisk);
        }
    }
    // A drive without a folder, and names Windows does not allow.
    EXPECT_FALSE(win::hostPath(L"Q:\\x", host));
    EXPECT_EQ(win::lastError(), win::err::pathNotFound);
    EXPECT_FALSE(win::hostPath(L"C:\\a<b", host));
    EXPECT_EQ(win::lastError(), win::err::invalidName);
}

// Names looked up in another case are kept per folder between calls; whatever another process does to
// the folders afterwards, the next lookup must see it.
TEST(HostPath, KeptNamesFollowChangesMadeByOtherProcesses) {
    namespace fs = std::filesystem;
    struct Row {
        const char* what;
        void (*change)(const fs::path& c);  // run in a child process, on the host
        const wchar_t* lookup;
        const char* expected;  // below drive_c
    };
    const Row rows[] = {
        {"file renamed to another case",
         [](const fs::path& c) {
             fs::rename(c / "Program Files/Orvex/Patch.exe", c / "Program Files/Orvex/PATCH.exe");
         },
         L"C:\\program files\\orvex\\patch.exe", "Program Files/Orvex/PATCH.exe"},
        {"file removed", [](const fs::path& c) { fs::remove(c / "Program Files/Orvex/Patch.exe"); },
         L"C:\\program files\\orvex\\patch.exe", "Program Files/Orvex/patch.exe"},
        {"folder moved away and made again in another case",
         [](const fs::path& c) {
             fs::rename(c / "Program Files/Orvex", c / "Program Files/Gone");
             fs::create_directories(c / "Program Files/ORVEX");
             std::ofstream(c / "Program Files/ORVEX/patch.EXE") << "y";
         },
         L"C:\\program files\\orvex\\patch.exe", "Program Files/ORVEX/patch.EXE"},
        {"a folder above moved away and made again",
         [](const fs::path& c) {
             fs::rename(c / "Program Files", c / "Old");
             fs::create_directories(c / "program files/orvex");
             std::ofstream(c / "program files/orvex/PATCH.exe") << "y";
         },
         L"C:\\PROGRAM FILES\\ORVEX\\patch.exe", "program files/orvex/PATCH.exe"},
        {"a second spelling of the same name",
         [](const fs::path& c) { std::ofstream(c / "Program Files/Orvex/patch.exe") << "y"; },
         L"C:\\program files\\orvex\\patch.exe", "Program Files/Orvex/patch.exe"},
    };
    for (const Row& row : rows) {
        TestMachine machine;
        machine.writeFile(L"C:\\Program Files\\Orvex\\Patch.exe", "x");
        machine.writeFile(L"C:\\Program Files\\Orvex\\Other.dll", "x");
        std::filesystem::path host;
        ASSERT_TRUE(win::hostPath(L"C:\\PROGRAM FILES\\ORVEX\\PATCH.EXE", host)) << row.what;
        EXPECT_EQ(host, machine.root() / "drive_c/Program Files/Orvex/Patch.exe") << row.what;
        EXPECT_GT(win::hostfs::keptFolders(), 0u) << "names are not kept: nothing here is tested";
        const fs::path c = machine.root() / "drive_c";
        const pid_t pid = ::fork();
        if (pid == 0) {
            row.change(c);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << row.what;
        ASSERT_TRUE(win::hostPath(row.lookup, host)) << row.what;
        EXPECT_EQ(host, c / row.expected) << row.what;
        EXPECT_EQ(win::pathExists(row.lookup), fs::exists(c / row.expected)) << row.what;
        // The layer's own changes show at once too.
        ASSERT_TRUE(win::writeFile(L"C:\\Program Files\\Orvex\\mine.txt", "z")) << row.what;
        ASSERT_TRUE(win::createDirectory(L"C:\\PROGRAM FILES\\orvex\\New")) << row.what;
        ASSERT_TRUE(
            win::moveFile(L"c:\\program files\\orvex\\MINE.TXT", L"C:\\Program Files\\Orvex\\NEW\\X.dll", 0))
            << row.what;
        EXPECT_TRUE(win::pathExists(L"C:\\PROGRAM FILES\\ORVEX\\new\\x.DLL")) << row.what;
        EXPECT_FALSE(win::pathExists(L"C:\\PROGRAM FILES\\ORVEX\\Mine.txt")) << row.what;
    }
}

TEST(CurrentDirectory, RefusesFilesAndMissingFolders) {
    TestMachine machine;
    machine.writeFile(L"C:\\file.txt", "x");
    EXPECT_FALSE(win::setCurrentDirectory(L"C:\\file.txt"));
    EXPECT_EQ(win::lastError(), win::err::directory);
    EXPECT_FALSE(win::setCurrentDirectory(L"C:\\missing"));
    EXPECT_EQ(win::lastError(), win::err::fileNotFound);
    EXPECT_FALSE(win::setCurrentDirectory(L"C:\\missing\\deeper"));
    EXPECT_EQ(win::lastError(), win::err::pathNotFound);
    EXPECT_TRUE(win::setCurrentDirectory(L"C:"));  // the drive prefix alone is a folder
    EXPECT_EQ(win::currentDirectory(), L"C:\\");
}

TEST(PathText, Helpers) {
    EXPECT_EQ(win::fileNamePart(L"C:\\a\\b.txt"), L"b.txt");
    EXPECT_EQ(win::fileNamePart(L"b.txt"), L"b.txt");
    EXPECT_EQ(win::parentPart(L"C:\\a\\b.txt"), L"C:\\a");
    EXPECT_EQ(win::parentPart(L"b.txt"), L"");
    EXPECT_EQ(win::removeBackslash(L"C:\\a\\"), L"C:\\a");
    EXPECT_EQ(win::removeBackslash(L"C:\\"), L"C:\\");
    EXPECT_EQ(win::combine(L"C:\\a", L"b"), L"C:\\a\\b");
    EXPECT_EQ(win::combine(L"C:\\a\\", L"\\b"), L"C:\\a\\b");
}

}  // namespace
