// The rollback run of MyThreadProc, in process: it reads the rollback manifest of the work folder and
// restores from the backups, with no payload, no language and no cancel checks.
#include "mendwell/engine/patch_controller.h"
#include "mendwell/base/patch_state.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

class RollbackRunTest : public EngineTest {
  protected:
    void writeRollbackManifest(const std::string& fileSet) {
        put(mw::workPath(L"\\RollbackManifest.xml"),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Manifest><FileSet>" + fileSet +
                "</FileSet><DirectorySet/><PDSSet/></Manifest>");
    }
    int runRollback() {
        mw::PatchGlobals& g = mw::patchGlobals();
        g.rollbackMode = 1;
        g.rollbackRequested = true;  // ignored by a rollback run
        g.block.totals[1] = 3;
        g.block.done[1] = 2;
        return mw::PatchController::MyThreadProc(L"C:\\P");
    }
};

TEST_F(RollbackRunTest, RestoresEveryRecordedFileAndFinishes) {
    put(L"C:\\P\\changed.txt", "new");
    put(backup(L"1"), "old");
    put(L"C:\\P\\added\\new.txt", "added by the patch");
    put(backup(L"3"), "removed by the patch");
    writeRollbackManifest(
        R"(<File><Operation>overwrite</Operation><ObjectName>1</ObjectName><DestinationPath>C:\P\changed.txt</DestinationPath></File>
           <File><Operation>remove</Operation><ObjectName>2</ObjectName><DestinationPath>C:\P\added\new.txt</DestinationPath></File>
           <File><Operation>add</Operation><ObjectName>3</ObjectName><DestinationPath>C:\P\gone.txt</DestinationPath></File>
           <File><Operation></Operation><ObjectName>4</ObjectName><DestinationPath>C:\P\touched.txt</DestinationPath></File>)");
    runRollback();

    const mw::PatchGlobals& g = mw::patchGlobals();
    EXPECT_EQ(g.block.state, mw::stateRollbackFinished);
    EXPECT_EQ(g.block.result, mw::statusGood);
    EXPECT_EQ(g.block.totals[1], 3);  // totals stay, the done count runs back and stops at zero
    EXPECT_EQ(g.block.done[1], 0);
    EXPECT_EQ(read(L"C:\\P\\changed.txt"), "old");
    // A folder goes only by an undo entry naming it, never because the undo left it empty.
    EXPECT_FALSE(win::pathExists(L"C:\\P\\added\\new.txt"));
    EXPECT_TRUE(win::isDirectory(L"C:\\P\\added"));
    EXPECT_EQ(read(L"C:\\P\\gone.txt"), "removed by the patch");
    EXPECT_FALSE(logged(L"INFO", L"Product is located and validated."));
    EXPECT_TRUE(logged(L"INFO", L"Install language of the product as set by patcher: "));
    EXPECT_FALSE(logged(L"INFO", L"Exiting patch thread, creating rollback thread..."));
}

// The rollback undoes everything else, ends in 507 and names what it could not undo.
TEST_F(RollbackRunTest, AFailingUndoEntryEndsTheRollbackIn507) {
    put(L"C:\\P\\changed.txt", "new");
    put(backup(L"1"), "old");
    ASSERT_TRUE(win::createDirectory(L"C:\\P\\folder.txt"));  // a folder where the backup must go
    writeRollbackManifest(
        R"(<File><Operation>overwrite</Operation><ObjectName>1</ObjectName><DestinationPath>C:\P\folder.txt</DestinationPath></File>
           <File><Operation>overwrite</Operation><ObjectName>1</ObjectName><DestinationPath>C:\P\changed.txt</DestinationPath></File>)");
    runRollback();
    EXPECT_EQ(mw::patchGlobals().block.state, mw::stateOperationFailed);
    EXPECT_EQ(mw::patchGlobals().patchStatus, mw::statusPatchFailed);
    EXPECT_EQ(read(L"C:\\P\\changed.txt"), "old");
    EXPECT_TRUE(logged(L"ERROR", L"File operation failed."));
    EXPECT_TRUE(logged(L"ERROR", 
                       L"The rollback could not undo overwrite C:\\P\\folder.txt; nothing outside the patcher "
                       L"holds it, so it is not tried again."));
}

TEST_F(RollbackRunTest, AMissingRollbackManifestFailsLikeAnUnreadableManifest) {
    runRollback();
    EXPECT_EQ(mw::patchGlobals().block.state, mw::stateFailedBeforeChange);
    EXPECT_TRUE(logged(L"ERROR", L"Processing of manifest XML file failed."));
}

TEST_F(RollbackRunTest, AnEmptyInstallFolderChangesNothing) {
    mw::patchGlobals().rollbackMode = 0;
    mw::PatchController::MyThreadProc(L"");
    const mw::PatchGlobals& g = mw::patchGlobals();
    EXPECT_EQ(g.block.state, mw::stateFailedBeforeChange);
    EXPECT_EQ(g.patchStatus, mw::statusPatchFailed);
    EXPECT_TRUE(logged(L"ERROR", L"Product failed to locate and validate."));
    EXPECT_FALSE(win::pathExists(mw::workPath(L"\\manifest.xml")));
}

// A cancel asked for while the payload is extracted (here: at the first notification) ends the normal run
// at its next check, before anything is read or changed.
TEST_F(EngineTest, ACancelRequestEndsTheNormalRunAtItsNextCheck) {
    std::vector<std::int32_t> states;
    mw::setPatchObserver({.notify =
                              [&states](mw::PatchStateBlock& block) {
                                  states.push_back(block.state);
                                  mw::patchGlobals().rollbackRequested = true;
                              },
                          .statusText = nullptr});
    mw::PatchController::MyThreadProc(L"C:\\P");
    mw::setPatchObserver({});
    EXPECT_EQ(mw::patchGlobals().block.state, mw::stateRollingBack);
    // The start, the status text of the extraction, then the cancel.
    EXPECT_EQ(states,
              (std::vector<std::int32_t>{mw::statePatching, mw::statePatching, mw::stateRollingBack}));
    EXPECT_TRUE(logged(L"INFO", L"Exiting patch thread, creating rollback thread..."));
    EXPECT_FALSE(logged(L"ERROR", L"Processing of manifest XML file failed."));
}

}  // namespace
}  // namespace engine_test
