// Cases where Windows refuses what a plain file system would allow; each row names the documented
// behaviour it reproduces.
#include <gtest/gtest.h>

#include <functional>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;
using win::DWORD;

DWORD errorOf(const std::function<bool()>& call) {
    win::setLastError(0);
    return call() ? 0 : win::lastError();
}

bool createAlways(std::wstring_view path, DWORD attributes = win::attr::normal) {
    win::File f;
    return f.open(path, win::access::write, 0, win::Disposition::createAlways, attributes);
}

struct Row {
    const char* behaviour;
    std::function<bool()> call;
    DWORD expected;
};

void runRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) EXPECT_EQ(errorOf(row.call), row.expected) << row.behaviour;
}

TEST(WindowsRules, HiddenAndSystemFilesAreNotReplacedByPlainOnes) {
    TestMachine machine;
    machine.writeFile(L"C:\\src.txt", "new");
    machine.writeFile(L"C:\\hidden.txt", "h");
    machine.writeFile(L"C:\\system.txt", "s");
    ASSERT_TRUE(win::setFileAttributes(L"C:\\hidden.txt", win::attr::hidden));
    ASSERT_TRUE(win::setFileAttributes(L"C:\\system.txt", win::attr::system | win::attr::archive));
    runRows({
        {"CopyFile: an existing hidden target fails with ERROR_ACCESS_DENIED",
         [] { return win::copyFile(L"C:\\src.txt", L"C:\\hidden.txt", false); }, win::err::accessDenied},
        {"CopyFile: so does a system one",
         [] { return win::copyFile(L"C:\\src.txt", L"C:\\system.txt", false); }, win::err::accessDenied},
        {"CreateFile CREATE_ALWAYS with FILE_ATTRIBUTE_NORMAL on a hidden file: ERROR_ACCESS_DENIED",
         [] { return createAlways(L"C:\\hidden.txt"); }, win::err::accessDenied},
        {"CreateFile CREATE_ALWAYS on a system file: ERROR_ACCESS_DENIED",
         [] { return createAlways(L"C:\\SYSTEM.txt"); }, win::err::accessDenied},
    });
    EXPECT_EQ(machine.readFile(L"C:\\hidden.txt"), "h");
    EXPECT_EQ(machine.readFile(L"C:\\system.txt"), "s");
    // Asking for the same attributes, as the documentation advises, replaces the file.
    EXPECT_TRUE(createAlways(L"C:\\system.txt", win::attr::system));
    EXPECT_EQ(win::getFileAttributes(L"C:\\system.txt"), win::attr::system | win::attr::archive);
    ASSERT_TRUE(win::setFileAttributes(L"C:\\src.txt", win::attr::hidden));
    EXPECT_TRUE(win::copyFile(L"C:\\src.txt", L"C:\\hidden.txt", false));
    EXPECT_EQ(machine.readFile(L"C:\\hidden.txt"), "new");
}

TEST(WindowsRules, NamesThatAreNotFiles) {
    TestMachine machine;
    machine.writeFile(L"C:\\d\\a.txt", "a");
    win::File f;
    runRows({
        {"a trailing backslash names a folder: DeleteFile of a file so named fails with ERROR_INVALID_NAME",
         [] { return win::deleteFile(L"C:\\d\\a.txt\\"); }, win::err::invalidName},
        {"CreateFile of an existing file with a trailing backslash: ERROR_INVALID_NAME",
         [&] { return f.open(L"C:\\d\\a.txt\\", win::access::read, 7, win::Disposition::openExisting); },
         win::err::invalidName},
        {"CreateFile creating a new name with a trailing backslash: ERROR_INVALID_NAME",
         [] { return createAlways(L"C:\\d\\b.txt\\"); }, win::err::invalidName},
        {"GetFileAttributes of a file with a trailing backslash: INVALID_FILE_ATTRIBUTES",
         [] { return win::getFileAttributes(L"C:\\d\\a.txt\\") != win::attr::invalid; },
         win::err::invalidName},
        {"a trailing backslash on a folder is fine", [] { return win::isDirectory(L"C:\\d\\"); }, 0},
        // Windows would open the device; the machine has none, so the name is refused (documented
        // choice: ERROR_INVALID_NAME).
        {"CON is a device, not a file", [] { return createAlways(L"C:\\d\\CON"); }, win::err::invalidName},
        {"device names hold with an extension and in any case",
         [] { return createAlways(L"C:\\d\\nul.txt"); }, win::err::invalidName},
        {"COM1-9 and LPT1-9", [] { return win::copyFile(L"C:\\d\\a.txt", L"C:\\d\\Lpt9 .log", false); },
         win::err::invalidName},
        {"nor a folder", [] { return win::createDirectory(L"C:\\d\\aux"); }, win::err::invalidName},
        {"COM10 and CONSOLE are ordinary names",
         [] { return createAlways(L"C:\\d\\COM10") && createAlways(L"C:\\d\\console.txt"); }, 0},
        {"\\\\?\\ turns device names off", [] { return createAlways(L"\\\\?\\C:\\d\\prn.txt"); }, 0},
    });
    EXPECT_TRUE(machine.exists(L"C:\\d\\a.txt"));
    EXPECT_FALSE(machine.exists(L"C:\\d\\CON"));
    EXPECT_FALSE(machine.exists(L"C:\\d\\nul.txt"));
}

TEST(WindowsRules, MaxPathWithoutTheLongPrefix) {
    TestMachine machine;
    // Full paths of exactly n characters: "C:\" + folder + "\" + name.
    const std::wstring folder = L"C:\\" + std::wstring(200, L'f');
    auto fileOf = [&](std::size_t n) { return folder + L"\\" + std::wstring(n - folder.size() - 1, L'x'); };
    ASSERT_TRUE(win::createDirectory(folder));
    runRows({
        {"MAX_PATH (260) includes the terminating zero: 259 characters is the longest file path",
         [&] { return createAlways(fileOf(259)); }, 0},
        {"CreateFile with 260 characters fails with ERROR_PATH_NOT_FOUND",
         [&] { return createAlways(fileOf(260)); }, win::err::pathNotFound},
        {"so do the path operations",
         [&] { return win::getFileAttributes(fileOf(300)) != win::attr::invalid; }, win::err::pathNotFound},
        {"the \\\\?\\ prefix lifts the limit", [&] { return createAlways(L"\\\\?\\" + fileOf(300)); }, 0},
        {"CreateDirectory leaves room for an 8.3 name: 247 characters is the longest folder",
         [&] { return win::createDirectory(fileOf(247)); }, 0},
        {"CreateDirectory with 248 characters fails with ERROR_FILENAME_EXCED_RANGE",
         [&] { return win::createDirectory(fileOf(248)); }, win::err::filenameTooLong},
        {"\\\\?\\ lifts that too", [&] { return win::createDirectory(L"\\\\?\\" + fileOf(280)); }, 0},
    });
    EXPECT_TRUE(std::filesystem::exists(machine.host(fileOf(300))));
}

TEST(WindowsRules, ACopyCarriesTheArchiveAttribute) {
    TestMachine machine;
    machine.writeFile(L"C:\\plain.txt", "p");
    machine.writeFile(L"C:\\ro.txt", "r");
    ASSERT_TRUE(win::setFileAttributes(L"C:\\plain.txt", win::attr::normal));
    ASSERT_TRUE(win::setFileAttributes(L"C:\\ro.txt", win::attr::readOnly));
    // A new or rewritten file is marked for backup: CopyFile sets FILE_ATTRIBUTE_ARCHIVE on the copy.
    ASSERT_TRUE(win::copyFile(L"C:\\plain.txt", L"C:\\copy1.txt", false));
    ASSERT_TRUE(win::copyFile(L"C:\\ro.txt", L"C:\\copy2.txt", false));
    EXPECT_EQ(win::getFileAttributes(L"C:\\copy1.txt"), win::attr::archive);
    EXPECT_EQ(win::getFileAttributes(L"C:\\copy2.txt"), win::attr::readOnly | win::attr::archive);
    // CREATE_ALWAYS over an existing file sets archive as well.
    ASSERT_TRUE(createAlways(L"C:\\plain.txt"));
    EXPECT_EQ(win::getFileAttributes(L"C:\\plain.txt"), win::attr::archive);
}

}  // namespace
