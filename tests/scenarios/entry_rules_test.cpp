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

using LogFileName = ScenarioTest;

// The log is named after the product and the version; a name Windows cannot hold is made one it can.
TEST_F(LogFileName, ProductAndVersionMadeSafe) {
    const struct {
        const wchar_t* name;
        const wchar_t* version;
        const wchar_t* file;
    } rows[] = {
        {L"Lumen TX4", L"9.0.3", L"Lumen TX4 9.0.3.log"},
        {L"A<B>:\"C\nD|E/F\\G?*", L"1", L"A_B___C_D_E_F_G__ 1.log"},
        {L"", L"9.0.3", L"Mendwell.log"},
        {L"nul", L"", L"_nul .log"},
    };
    for (const auto& row : rows) {
        mw::PatcherConfigRecord config;
        config.productName = row.name;
        config.newVersion = row.version;
        const std::wstring path = mw::logFilePath(config);
        EXPECT_EQ(path.substr(path.rfind(L'\\') + 1), row.file) << win::toUtf8(row.name);
        EXPECT_TRUE(win::isDirectory(path.substr(0, path.rfind(L'\\'))));
    }
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
