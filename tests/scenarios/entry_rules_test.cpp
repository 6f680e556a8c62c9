// Entry rules that need no patcher: the level search and the backup clean-up.
#include "mendwell/base/patchlog.h"
#include "mendwell/app/startup.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/text/text.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

TEST(LogLevelRule, SearchOrderAndDefaults) {
    EXPECT_EQ(mw::logLevelFromCommandLine(L""), 2);
    EXPECT_EQ(mw::logLevelFromCommandLine(L"-SILENT"), 2);
    EXPECT_EQ(mw::logLevelFromCommandLine(L"-LOGLEVEL=3"), 3);
    EXPECT_EQ(mw::logLevelFromCommandLine(L"-LOGLEVEL = 1"), 1);
    EXPECT_EQ(mw::logLevelFromCommandLine(L"-LOGLEVEL=7"), 0);
    // The search is not tied to the switch: a lower level anywhere on the line wins.
    EXPECT_EQ(mw::logLevelFromCommandLine(L"-LOGLEVEL=3 -X=1"), 1);
    EXPECT_EQ(mw::logLevelFromCommandLine(L"-LOGLEVEL=30"), 3);
    // Without the switch written as such, "=0" elsewhere does not count.
    EXPECT_EQ(mw::logLevelFromCommandLine(L"-LOGLEVEL:0 -A=0"), 2);
}

TEST(UnknownParameterRule, OnlyNonEmptyLinesWithoutEitherWord) {
    EXPECT_FALSE(mw::hasUnknownParameter(L""));
    EXPECT_FALSE(mw::hasUnknownParameter(L"/SILENT"));
    EXPECT_FALSE(mw::hasUnknownParameter(L"XLOGLEVELX"));
    EXPECT_TRUE(mw::hasUnknownParameter(L"-S"));
    EXPECT_TRUE(mw::hasUnknownParameter(L" "));
}

using BackupCleanUp = ScenarioTest;

TEST_F(BackupCleanUp, DeletesEveryFileAndLogsItsName) {
    const std::wstring backup = mw::workPath(L"\\BackUp");
    ASSERT_TRUE(win::createDirectory(backup) || win::isDirectory(backup));
    ASSERT_TRUE(win::writeFile(backup + L"\\17", "old"));
    ASSERT_TRUE(win::writeFile(backup + L"\\18", "older"));
    const std::wstring logPath = L"C:\\cleanup.log";
    ASSERT_TRUE(mw::PatchLog::instance().open(logPath, false, mw::logFormatText));
    mw::PatchLog::instance().setLevel(2);
    const std::wstring before = win::currentDirectory();

    mw::cleanBackupFolder();
    mw::PatchLog::instance().close();

    EXPECT_FALSE(win::pathExists(backup + L"\\17"));
    EXPECT_FALSE(win::pathExists(backup + L"\\18"));
    EXPECT_TRUE(win::isDirectory(backup));
    EXPECT_EQ(win::currentDirectory(), before);
    std::string bytes;
    ASSERT_TRUE(win::readFile(logPath, bytes));
    const std::string log = win::toUtf8(win::fromUtf16le(bytes.substr(2)));
    EXPECT_TRUE(contains(log, "deleting backup file: 17\r\n")) << log;
    EXPECT_TRUE(contains(log, "deleting backup file: 18\r\n")) << log;
    // Every entry the enumeration returns is named, the folder's own "." included.
    EXPECT_TRUE(contains(log, "deleting backup file: .\r\n")) << log;
}

TEST_F(BackupCleanUp, MissingBackupFolderIsNotAnError) {
    const std::wstring before = win::currentDirectory();
    mw::cleanBackupFolder();
    EXPECT_EQ(win::currentDirectory(), before);
}

}  // namespace
}  // namespace scenarios
