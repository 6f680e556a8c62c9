// The file operations where versions decide: a blind overwrite of a newer file, and colour profiles
// put into the system's colour directory.
#include "mendwell/engine/file_operation.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/base/patch_state.h"
#include "platform/fs/file.h"
#include "platform/system/system.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

// An ICC profile header whose creation date is the version the versioner reads.
std::string iccProfile(int year, char filler) {
    std::string bytes(128, filler);
    bytes[24] = static_cast<char>(year >> 8);
    bytes[25] = static_cast<char>(year & 0xFF);
    for (int at = 26; at < 36; ++at) bytes[at] = at % 2 == 0 ? 0 : 1;
    bytes.replace(36, 4, "acsp");
    return bytes;
}

mw::FileRecord blind(const std::wstring& target, const std::wstring& afterPatch = L"") {
    mw::FileRecord record;
    record.operation = L"blindoverwrite";
    record.objectName = L"5";
    record.destinationPath = target;
    record.afterPatch = afterPatch;
    return record;
}

TEST_F(EngineTest, BlindOverwriteLeavesANewerFileAloneWhateverItsChecksum) {
    const std::wstring target = L"C:\\P\\sRGB.icc";
    put(target, iccProfile(2025, 'n'));
    stage(L"5", iccProfile(2020, 'o'));
    EXPECT_EQ(mw::runFileOperation(blind(target, md5Of("something else"))), mw::fileOpNothingToDo);
    EXPECT_EQ(read(target), iccProfile(2025, 'n'));
    EXPECT_EQ(read(backup(L"5")), "<missing>");
    EXPECT_TRUE(logged(L"INFO",
                       L"File on the machine is already a higher version. No action on the file. "
                       L"Updater will progress."));
}

TEST_F(EngineTest, BlindOverwriteOfAnOlderProfileInstallsItInTheColourDirectory) {
    const std::wstring target = L"C:\\P\\sRGB.icc";
    const std::wstring installed = win::colorDirectory() + L"\\sRGB.icc";
    put(target, iccProfile(2020, 'o'));
    stage(L"5", iccProfile(2025, 'n'));
    EXPECT_EQ(mw::runFileOperation(blind(target)), mw::fileOpDone);
    EXPECT_EQ(read(target), iccProfile(2025, 'n'));
    EXPECT_EQ(read(installed), iccProfile(2025, 'n'));
    EXPECT_FALSE(win::pathExists(installed + L"._orxOLD"));
}

// The undo of an add takes the profile it installed out of the colour directory again.
TEST_F(EngineTest, AnAddedProfileRolledBackLeavesTheColourDirectory) {
    const std::wstring target = L"C:\\P\\sRGB.icc";
    const std::wstring installed = win::colorDirectory() + L"\\sRGB.icc";
    stage(L"5", iccProfile(2025, 'n'));
    mw::FileRecord add = blind(target);
    add.operation = L"add";
    EXPECT_EQ(mw::runFileOperation(add), mw::fileOpDone);
    EXPECT_EQ(read(installed), iccProfile(2025, 'n'));
    mw::patchGlobals().rollbackMode = 1;
    add.operation = L"remove";
    EXPECT_EQ(mw::runFileOperation(add), mw::fileOpDone);
    mw::patchGlobals().rollbackMode = 0;
    EXPECT_FALSE(win::pathExists(target));
    EXPECT_FALSE(win::pathExists(installed));
}

TEST_F(EngineTest, ANewerInstalledProfileIsKept) {
    const std::wstring installed = win::colorDirectory() + L"\\sRGB.icc";
    put(installed, iccProfile(2030, 'i'));
    put(L"C:\\P\\sRGB.icc", iccProfile(2025, 'n'));
    mw::installColorProfile(L"C:\\P\\sRGB.icc", 0, true);
    EXPECT_EQ(read(installed), iccProfile(2030, 'i'));
    // A rollback always replaces.
    mw::installColorProfile(L"C:\\P\\sRGB.icc", 1, true);
    EXPECT_EQ(read(installed), iccProfile(2025, 'n'));
}

TEST_F(EngineTest, AProfileNameTooLongForTheColourBufferIsRefused) {
    const std::wstring name(129 - win::colorDirectory().size(), L'p');
    const std::wstring target = L"C:\\P\\" + name + L".icc";
    put(target, iccProfile(2025, 'n'));
    mw::installColorProfile(target, 0, true);
    EXPECT_FALSE(win::pathExists(win::colorDirectory() + L"\\" + name + L".icc"));
    EXPECT_TRUE(logged(L"ERROR", L"The colour profile " + target +
                                     L" is not installed: its path in the colour directory is too long."));
}

}  // namespace
}  // namespace engine_test
