#include <algorithm>

#include <gtest/gtest.h>

#include "mendwell/engine/directory_operation.h"
#include "platform/fs/file.h"
#include "tests/engine/operations_fixture.h"

namespace engine_test {
namespace {

using mw::DirectoryRecord;

class DirectoryOperationTest : public OperationsTest {};

TEST_F(DirectoryOperationTest, AddCreatesOnlyWhatIsMissingAndItsUndoRemovesExactlyThat) {
    ASSERT_TRUE(win::createDirectory(L"C:\\A"));
    EXPECT_TRUE(mw::runDirectoryOperation({L"add", L"C:/A/B/C", L""}));
    EXPECT_TRUE(win::isDirectory(L"C:\\A\\B\\C"));
    EXPECT_TRUE(logged(L"INFO", L"Successfully created the directory: C:\\A\\B"));
    // "C:" and C:\A were there already.
    const auto info = messages(L"INFO");
    EXPECT_EQ(std::count(info.begin(), info.end(),
                         L"Directory already present. No action takes place. Patch will progress."),
              2);
    const auto undo = directoryUndo();
    ASSERT_EQ(undo.size(), 1u);
    EXPECT_EQ(undo[0].operation, L"remove");
    EXPECT_EQ(undo[0].directoryBase, L"C:\\A\\B\\C");
    EXPECT_EQ(undo[0].subDirectoryTree, L"B\\C");
    rollBack();
    EXPECT_FALSE(win::pathExists(L"C:\\A\\B"));
    EXPECT_TRUE(win::isDirectory(L"C:\\A"));
}

TEST_F(DirectoryOperationTest, AddOfAnExistingFolderSucceedsAtEveryLevelAndRecordsNothing) {
    ASSERT_TRUE(win::createDirectory(L"C:\\A"));
    EXPECT_TRUE(mw::runDirectoryOperation({L"add", L"C:\\A", L""}));
    const auto info = messages(L"INFO");
    EXPECT_EQ(std::count(info.begin(), info.end(),
                         L"Directory already present. No action takes place. Patch will progress."),
              2);
    EXPECT_TRUE(directoryUndo().empty());
}

TEST_F(DirectoryOperationTest, AddFailsOnAFileInTheWayAndUnknownOperationsFail) {
    machine_->writeFile(L"C:\\F", "x");
    EXPECT_FALSE(mw::runDirectoryOperation({L"add", L"C:\\F\\sub", L""}));
    EXPECT_TRUE(logged(L"ERROR", L"Unable to create the directory at: C:\\F\\sub"));
    EXPECT_FALSE(mw::runDirectoryOperation({L"Add", L"C:\\G", L""}));
    EXPECT_FALSE(win::pathExists(L"C:\\G"));
}

TEST_F(DirectoryOperationTest, RemoveCountsTheTreeAndNeverFails) {
    struct Row {
        const wchar_t* tree;
        int removed;  // folders gone, from C:\A\B\C upwards
    } rows[] = {{L"B\\C", 2}, {L"\\B\\C\\", 2}, {L"C", 1}, {L"", 2}};
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.removed);
        machine_->writeFile(L"C:\\A\\keep.txt", "x");  // stops the walk of an empty tree at C:\A
        ASSERT_TRUE(win::createDirectory(L"C:\\A\\B"));
        ASSERT_TRUE(win::createDirectory(L"C:\\A\\B\\C"));
        EXPECT_TRUE(mw::runDirectoryOperation({L"remove", L"C:\\A\\B\\C", row.tree}));
        EXPECT_EQ(win::pathExists(L"C:\\A\\B\\C"), false);
        EXPECT_EQ(win::pathExists(L"C:\\A\\B"), row.removed < 2);
        EXPECT_TRUE(win::isDirectory(L"C:\\A"));
        win::removeDirectory(L"C:\\A\\B");
    }
    // A folder that cannot go is still reported as done: the remove never fails the patch.
    machine_->writeFile(L"C:\\Full\\f.txt", "x");
    EXPECT_TRUE(mw::runDirectoryOperation({L"remove", L"C:\\Full", L"Full"}));
    EXPECT_TRUE(logged(L"INFO", L"Successfully deleted the directory: C:\\Full"));
}

TEST_F(DirectoryOperationTest, NestedChangesRollBackNewestFirst) {
    ASSERT_TRUE(win::createDirectory(L"C:\\P"));
    ASSERT_TRUE(win::createDirectory(L"C:\\Old"));
    ASSERT_TRUE(win::createDirectory(L"C:\\Old\\Inner"));
    EXPECT_TRUE(mw::runDirectoryOperation({L"add", L"C:\\P\\X", L""}));
    EXPECT_TRUE(mw::runDirectoryOperation({L"add", L"C:\\P\\X\\Y", L""}));
    EXPECT_TRUE(mw::runDirectoryOperation({L"remove", L"C:\\Old\\Inner", L"Old\\Inner"}));
    EXPECT_FALSE(win::pathExists(L"C:\\Old"));
    rollBack();
    EXPECT_FALSE(win::pathExists(L"C:\\P\\X"));
    EXPECT_TRUE(win::isDirectory(L"C:\\P"));
    EXPECT_TRUE(win::isDirectory(L"C:\\Old\\Inner"));
}

}  // namespace
}  // namespace engine_test
