// The file operations where versions decide: a blind overwrite of a newer file, and colour profiles
// put into the system's colour directory.
#include "mendwell/engine/file_operation.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/engine/patch_controller.h"
#include "mendwell/records/rollback_manifest.h"
#include "platform/fs/file.h"
#include "platform/system/system.h"
#include "platform/text/text.h"
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

// The colour directory as an add of a profile finds it, and as its rollback (run twice, as by a recovery
// cut short) must leave it: bytes, read-only bit and the name's letter case.
TEST_F(EngineTest, TheRollbackOfAnAddedProfileLeavesTheColourDirectoryAsItWas) {
    struct Row {
        const wchar_t* installedName;  // "" for none
        int year;
        bool readOnly;
        bool replaced;  // by the add (an older profile not kept read-only)
    };
    const Row rows[] = {{L"", 0, false, true},
                        {L"sRGB.icc", 2020, false, true},
                        {L"SRGB.ICC", 2020, true, false},
                        {L"sRGB.icc", 2030, false, false}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "installed " << win::toUtf8(row.installedName) << " " << row.year);
        clearFiles();
        const std::wstring folder = win::colorDirectory();
        std::filesystem::remove_all(machine_->host(folder));
        std::filesystem::create_directories(machine_->host(folder));
        if (*row.installedName)
            put(folder + L"\\" + row.installedName, iccProfile(row.year, 'i'), row.readOnly);
        const auto listing = [&] {
            std::string out;
            win::FindFile find;
            win::FindData entry;
            for (bool more = find.first(folder + L"\\*", entry); more; more = find.next(entry))
                if (!(entry.attributes & win::attr::directory))
                    out += win::toUtf8(entry.name) + " " +
                           std::to_string(entry.attributes & win::attr::readOnly) + " " +
                           read(folder + L"\\" + entry.name) + "\n";
            return out;
        };
        const std::string before = listing();

        mw::openRollbackManifest(L"C:\\captured\\RollbackManifest.xml");
        stage(L"5", iccProfile(2025, 'n'));
        mw::FileRecord add = blind(L"C:\\P\\sRGB.icc");
        add.operation = L"add";
        EXPECT_EQ(mw::runFileOperation(add), mw::fileOpDone);
        EXPECT_EQ(read(folder + L"\\sRGB.icc") == iccProfile(2025, 'n'), row.replaced);
        std::vector<mw::FileRecord> undo;
        for (const win::xml::Node& e : mw::rollbackManifest()->fileSet().children()) {
            mw::FileRecord r;
            r.operation = e.firstChild(L"Operation").text();
            r.objectName = e.firstChild(L"ObjectName").text();
            r.destinationPath = e.firstChild(L"DestinationPath").text();
            r.afterPatch = e.firstChild(L"Checksum").firstChild(L"AfterPatch").text();
            undo.push_back(r);
        }
        mw::openRollbackManifest(L"");
        setRollbackMode(1);
        for (int pass = 0; pass < 2; ++pass)
            for (const mw::FileRecord& r : undo) EXPECT_EQ(mw::runFileOperation(r), mw::fileOpDone);
        setRollbackMode(0);
        EXPECT_EQ(listing(), before);
    }
}

TEST_F(EngineTest, ANewerInstalledProfileIsKept) {
    const std::wstring installed = win::colorDirectory() + L"\\sRGB.icc";
    put(installed, iccProfile(2030, 'i'));
    put(L"C:\\P\\sRGB.icc", iccProfile(2025, 'n'));
    mw::installColorProfile(L"C:\\P\\sRGB.icc", 0, true);
    EXPECT_EQ(read(installed), iccProfile(2030, 'i'));
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
