// Every row of the decision tables, one table per operation: the result, the files afterwards (content,
// read-only bit), the backup folder and the undo entry the patch thread would record.
#include <optional>

#include "mendwell/engine/file_operation.h"
#include "mendwell/engine/file_operations.h"
#include "mendwell/engine/file_undo.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/xmldom/xmldom.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

constexpr const wchar_t* kTarget = L"C:\\P\\sub\\f.txt";
constexpr const wchar_t* kRenamed = L"C:\\P\\new\\g.txt";
constexpr const char* kMissing = "<missing>";
constexpr const char* kStaged = "new content";
constexpr const char* kOld = "old content";

struct Row {
    const char* name;
    const wchar_t* op;
    const char* target = nullptr;  // content at kTarget before; null: absent
    bool targetReadOnly = false;
    const char* renamed = nullptr;       // content at kRenamed before
    bool renameEntry = false;            // the entry's RenamePath is kRenamed
    const char* before = nullptr;        // BeforePatch is the MD5 of this text; null: not given
    const char* after = nullptr;         // AfterPatch likewise
    const char* backupBefore = nullptr;  // a backup already there under the object name
    bool blockFolder = false;            // a file stands where C:\P\sub must be a folder
    bool noFolder = false;               // C:\P\sub does not exist
    int mode = 0;                        // rollback mode
    // Expected.
    int result = 0;
    const char* targetAfter = kMissing;
    const char* renamedAfter = kMissing;
    const char* backupAfter = kMissing;
    const wchar_t* undo = nullptr;  // operation of the undo entry; null: none recorded
};

class FileOperationTable : public EngineTest {
  protected:
    void check(const Row& row) {
        SCOPED_TRACE(row.name);
        clearFiles();
        if (row.blockFolder) win::createDirectory(L"C:\\P");
        if (!row.blockFolder && !row.noFolder) {
            win::createDirectory(L"C:\\P");
            win::createDirectory(L"C:\\P\\sub");
            win::createDirectory(L"C:\\P\\new");
        }
        if (row.blockFolder) put(L"C:\\P\\sub", "a file, not a folder");
        if (row.target) put(kTarget, row.target, row.targetReadOnly);
        if (row.renamed) put(kRenamed, row.renamed);
        if (row.backupBefore) put(backup(L"7"), row.backupBefore);
        stage(L"7", kStaged);
        setRollbackMode(row.mode);

        mw::FileRecord record;
        record.operation = row.op;
        record.objectName = L"7";
        record.destinationPath = kTarget;
        if (row.renameEntry) record.renamePath = kRenamed;
        if (row.before) record.beforePatch = md5Of(row.before);
        if (row.after) record.afterPatch = md5Of(row.after);

        const int result = mw::runFileOperation(record);
        EXPECT_EQ(result, row.result);
        EXPECT_EQ(read(kTarget), row.targetAfter);
        EXPECT_EQ(read(kRenamed), row.renamedAfter);
        EXPECT_EQ(read(backup(L"7")), row.backupAfter);
        if (row.result == mw::fileOpDone && read(kTarget) != kMissing) {
            EXPECT_FALSE(readOnly(kTarget));
        }

        win::xml::Document doc;
        ASSERT_TRUE(doc.create(L"FileSet"));
        if (result == mw::fileOpDone && row.mode == 0) mw::appendFileUndo(doc.root(), record);
        const win::xml::Node undo = doc.root().firstChild(L"File");
        if (!row.undo) {
            EXPECT_FALSE(undo.valid());
        } else {
            ASSERT_TRUE(undo.valid());
            EXPECT_EQ(undo.firstChild(L"Operation").text(), row.undo);
        }
    }
};

TEST_F(FileOperationTable, Add) {
    // clang-format off
    for (const Row& row : {
             Row{.name = "present, AfterPatch matches", .op = L"add", .target = kStaged, .after = kStaged,
                 .result = 5, .targetAfter = kStaged},
             Row{.name = "present, AfterPatch differs", .op = L"add", .target = kOld, .after = kStaged, .result = 3,
                 .targetAfter = kOld},
             Row{.name = "present, no AfterPatch", .op = L"add", .target = kStaged, .result = 3, .targetAfter = kStaged},
             Row{.name = "absent, no AfterPatch, folders made", .op = L"add", .noFolder = true, .result = 4,
                 .targetAfter = kStaged, .undo = L"remove"},
             Row{.name = "absent, no AfterPatch, folders fail", .op = L"add", .blockFolder = true, .result = 3},
             Row{.name = "absent, staged matches, folders made", .op = L"add", .after = kStaged, .noFolder = true,
                 .result = 4, .targetAfter = kStaged, .undo = L"remove"},
             Row{.name = "absent, staged matches, folders fail", .op = L"add", .after = kStaged, .blockFolder = true,
                 .result = 3},
             Row{.name = "absent, staged differs", .op = L"add", .after = kOld, .result = 3},
             Row{.name = "rollback, backup restored", .op = L"add", .target = kStaged, .backupBefore = kOld,
                 .mode = 1, .result = 4, .targetAfter = kOld, .backupAfter = kOld},
             // A file gone with its backup is lost: no success. One still there was never touched.
             Row{.name = "rollback without backup or file fails", .op = L"add", .mode = 1, .result = 3},
             Row{.name = "rollback without backup keeps the file", .op = L"add", .target = kOld, .mode = 1,
                 .result = 4, .targetAfter = kOld},
         }) {
        // clang-format on
        check(row);
    }
}

TEST_F(FileOperationTable, Overwrite) {
    // clang-format off
    for (const Row& row : {
             Row{.name = "absent, folder there: staged file added", .op = L"overwrite", .result = 4,
                 .targetAfter = kStaged, .undo = L"overwrite"},
             Row{.name = "absent, no folder: no folder creation", .op = L"overwrite", .noFolder = true, .result = 3},
             Row{.name = "AfterPatch matches", .op = L"overwrite", .target = kStaged, .after = kStaged, .result = 5,
                 .targetAfter = kStaged},
             Row{.name = "BeforePatch differs", .op = L"overwrite", .target = kOld, .before = "other", .result = 3,
                 .targetAfter = kOld},
             Row{.name = "BeforePatch matches, AfterPatch differs", .op = L"overwrite", .target = kOld, .before = kOld,
                 .after = "other", .result = 4, .targetAfter = kStaged, .backupAfter = kOld, .undo = L"overwrite"},
             Row{.name = "no BeforePatch, read-only cleared", .op = L"overwrite", .target = kOld,
                 .targetReadOnly = true, .result = 4, .targetAfter = kStaged, .backupAfter = kOld,
                 .undo = L"overwrite"},
             Row{.name = "backup name taken: fails untouched", .op = L"overwrite", .target = kOld,
                 .backupBefore = "earlier", .result = 3, .targetAfter = kOld, .backupAfter = "earlier"},
             Row{.name = "rollback restores the backup", .op = L"overwrite", .target = kStaged, .targetReadOnly = true,
                 .backupBefore = kOld, .mode = 1, .result = 4, .targetAfter = kOld, .backupAfter = kOld},
             Row{.name = "rollback without backup fails", .op = L"overwrite", .target = kStaged, .mode = 1,
                 .result = 3, .targetAfter = kStaged},
             Row{.name = "unknown rollback mode", .op = L"overwrite", .target = kOld, .mode = 2, .result = 3,
                 .targetAfter = kOld},
         }) {
        // clang-format on
        check(row);
    }
}

TEST_F(FileOperationTable, BlindOverwrite) {
    // clang-format off
    for (const Row& row : {
             Row{.name = "AfterPatch matches", .op = L"blindoverwrite", .target = kStaged, .after = kStaged,
                 .result = 5, .targetAfter = kStaged},
             Row{.name = "no AfterPatch: backup, copy", .op = L"blindoverwrite", .target = kOld, .result = 4,
                 .targetAfter = kStaged, .backupAfter = kOld, .undo = L"blindoverwrite"},
             Row{.name = "read-only cleared", .op = L"blindoverwrite", .target = kOld, .targetReadOnly = true,
                 .result = 4, .targetAfter = kStaged, .backupAfter = kOld, .undo = L"blindoverwrite"},
             Row{.name = "copied, then renamed", .op = L"blindoverwrite", .target = kOld, .renameEntry = true,
                 .result = 4, .renamedAfter = kStaged, .backupAfter = kOld, .undo = L"blindoverwrite"},
             Row{.name = "absent, renamed already", .op = L"blindoverwrite", .renamed = kStaged, .renameEntry = true,
                 .after = kStaged, .result = 5, .renamedAfter = kStaged},
             Row{.name = "absent, other file at the new name", .op = L"blindoverwrite", .renamed = kOld,
                 .renameEntry = true, .after = kStaged, .result = 3, .targetAfter = kStaged, .renamedAfter = kOld},
             Row{.name = "absent: folders created, copied", .op = L"blindoverwrite", .noFolder = true, .result = 4,
                 .targetAfter = kStaged, .undo = L"blindoverwrite"},
             Row{.name = "backup name taken", .op = L"blindoverwrite", .target = kOld, .backupBefore = "earlier",
                 .result = 3, .targetAfter = kOld, .backupAfter = "earlier"},
             Row{.name = "rollback restores the backup", .op = L"blindoverwrite", .target = kStaged,
                 .backupBefore = kOld, .mode = 1, .result = 4, .targetAfter = kOld, .backupAfter = kOld},
             Row{.name = "rollback without backup deletes", .op = L"blindoverwrite", .target = kStaged,
                 .targetReadOnly = true, .mode = 1, .result = 4},
         }) {
        // clang-format on
        check(row);
    }
}

TEST_F(FileOperationTable, Remove) {
    // clang-format off
    for (const Row& row : {
             Row{.name = "absent", .op = L"remove", .result = 5},
             Row{.name = "BeforePatch differs", .op = L"remove", .target = kOld, .before = "other", .result = 3,
                 .targetAfter = kOld, .backupAfter = kOld},
             Row{.name = "BeforePatch matches", .op = L"remove", .target = kOld, .before = kOld, .result = 4,
                 .backupAfter = kOld, .undo = L"add"},
             Row{.name = "read-only cleared", .op = L"remove", .target = kOld, .targetReadOnly = true, .result = 4,
                 .backupAfter = kOld, .undo = L"add"},
             Row{.name = "backup name taken: the file stays", .op = L"remove", .target = kOld,
                 .backupBefore = "earlier", .result = 3, .targetAfter = kOld, .backupAfter = "earlier"},
             Row{.name = "rollback deletes", .op = L"remove", .target = kStaged, .mode = 1, .result = 4},
         }) {
        // clang-format on
        check(row);
    }
}

TEST_F(FileOperationTable, Rename) {
    // clang-format off
    for (const Row& row : {
             Row{.name = "moved, matches", .op = L"rename", .target = kOld, .renameEntry = true, .after = kOld,
                 .result = 4, .renamedAfter = kOld, .backupAfter = kOld, .undo = L"rename"},
             Row{.name = "moved, differs: moved back", .op = L"rename", .target = kOld, .renameEntry = true,
                 .after = "other", .result = 3, .targetAfter = kOld, .backupAfter = kOld},
             Row{.name = "empty AfterPatch fails every rename", .op = L"rename", .target = kOld, .renameEntry = true,
                 .result = 3, .targetAfter = kOld, .backupAfter = kOld},
             Row{.name = "refused, new name matches", .op = L"rename", .target = kOld, .renamed = kStaged,
                 .renameEntry = true, .after = kStaged, .result = 5, .targetAfter = kOld, .renamedAfter = kStaged,
                 .backupAfter = kOld},
             Row{.name = "refused, new name differs", .op = L"rename", .target = kOld, .renamed = "other",
                 .renameEntry = true, .after = kStaged, .result = 3, .targetAfter = kOld, .renamedAfter = "other",
                 .backupAfter = kOld},
             Row{.name = "checks fail, new name matches", .op = L"rename", .target = kOld, .renamed = kStaged,
                 .renameEntry = true, .before = "other", .after = kStaged, .result = 5, .targetAfter = kOld,
                 .renamedAfter = kStaged},
             Row{.name = "checks fail, new name differs", .op = L"rename", .target = kOld, .renamed = "other",
                 .renameEntry = true, .before = "other", .after = kStaged, .result = 3, .targetAfter = kOld,
                 .renamedAfter = "other"},
             Row{.name = "checks fail, no new name", .op = L"rename", .target = kOld, .renameEntry = true,
                 .before = "other", .result = 3, .targetAfter = kOld},
             Row{.name = "source absent, new name matches", .op = L"rename", .renamed = kStaged, .renameEntry = true,
                 .after = kStaged, .result = 5, .renamedAfter = kStaged},
             Row{.name = "source absent, new name differs", .op = L"rename", .renamed = kOld, .renameEntry = true,
                 .after = kStaged, .result = 3, .renamedAfter = kOld},
             Row{.name = "neither", .op = L"rename", .renameEntry = true, .result = 3},
             Row{.name = "rollback moves back", .op = L"rename", .target = kOld, .renameEntry = true, .mode = 1,
                 .result = 4, .renamedAfter = kOld},
         }) {
        // clang-format on
        check(row);
    }
}

TEST_F(FileOperationTable, TouchAndUnknownOperations) {
    // clang-format off
    for (const Row& row : {
             Row{.name = "touch of a missing file", .op = L"touch", .result = 0},
             Row{.name = "touch of a read-only file", .op = L"touch", .target = kOld, .targetReadOnly = true,
                 .result = 4, .targetAfter = kOld, .undo = L""},
             Row{.name = "upper case is unknown", .op = L"ADD", .result = 0},
             Row{.name = "mixed case is unknown", .op = L"Overwrite", .target = kOld, .result = 0, .targetAfter = kOld},
         }) {
        // clang-format on
        check(row);
    }
}

TEST_F(EngineTest, TouchSetsOnlyTheLastWriteTime) {
    put(kTarget, kOld);
    win::FileTimes before;
    ASSERT_TRUE(win::setFileTimes(kTarget, nullptr, nullptr, &before.lastWrite));
    ASSERT_TRUE(win::getFileTimes(kTarget, before));
    mw::FileRecord record{.operation = L"touch", .objectName = L"1", .destinationPath = kTarget};
    EXPECT_EQ(mw::runFileOperation(record), mw::fileOpDone);
    win::FileTimes after;
    ASSERT_TRUE(win::getFileTimes(kTarget, after));
    EXPECT_GT(after.lastWrite, before.lastWrite);
    EXPECT_EQ(after.creation, before.creation);
}

TEST_F(EngineTest, RemovePrunesTheFoldersItEmptied) {
    put(L"C:\\P\\keep.txt", "stays");
    put(L"C:\\P\\sub\\deeper\\x.dll", kOld);
    mw::FileRecord record{.operation = L"remove",
                          .objectName = L"1",
                          .destinationPath = L"C:/P/sub/deeper/x.dll"};  // slashes act as backslashes
    EXPECT_EQ(mw::runFileOperation(record), mw::fileOpDone);
    EXPECT_FALSE(win::pathExists(L"C:\\P\\sub"));
    EXPECT_TRUE(win::pathExists(L"C:\\P\\keep.txt"));
    EXPECT_EQ(read(backup(L"1")), kOld);
}

TEST_F(EngineTest, BlindOverwriteOfADottedFolderUsesTheStagedFileItself) {
    stage(L"2", kStaged);
    put(L"C:\\P\\a.b\\readme", kOld);
    mw::FileRecord record{
        .operation = L"blindoverwrite", .objectName = L"2", .destinationPath = L"C:\\P\\a.b\\readme"};
    mw::cFileOperationBlindOverwrite operation(record);
    EXPECT_EQ(operation.sourcePath(), mw::workPath(L"\\StagingArea\\2"));
    EXPECT_EQ(operation.execute(record), mw::fileOpDone);
    EXPECT_EQ(read(L"C:\\P\\a.b\\readme"), kStaged);

    put(L"C:\\P\\lumen.ini", kOld);
    record.destinationPath = L"C:\\P\\lumen.ini";
    mw::cFileOperationBlindOverwrite withExtension(record);
    EXPECT_EQ(withExtension.sourcePath(), mw::workPath(L"\\StagingArea\\2.ini"));
}

TEST_F(EngineTest, OverwriteOfAFileHeldOpenWithoutWriteSharingFails) {
    stage(L"3", kStaged);
    put(kTarget, kOld);
    win::File holder;
    ASSERT_TRUE(holder.open(kTarget, win::access::read, win::share::read, win::Disposition::openExisting));
    mw::FileRecord record{.operation = L"overwrite", .objectName = L"3", .destinationPath = kTarget};
    EXPECT_EQ(mw::runFileOperation(record), mw::fileOpFailed);
    holder.close();
    EXPECT_EQ(read(kTarget), kOld);
    EXPECT_TRUE(logged(L"ERROR", L"File overwrite operation failed and return error code: 32"));
}

// The target becomes the backup by a rename, or by a copy where a handle without delete sharing keeps it
// from moving; either way the backup is the old file with its read-only bit.
TEST_F(EngineTest, OverwriteBacksUpByRenameOrElseByCopy) {
    for (const bool held : {false, true}) {
        SCOPED_TRACE(held ? "held open without delete sharing" : "not open");
        clearFiles();
        stage(L"3", kStaged);
        put(kTarget, kOld, true);
        win::File holder;
        if (held) {
            ASSERT_TRUE(holder.open(kTarget, win::access::read, win::share::read | win::share::write,
                                    win::Disposition::openExisting));
        }
        mw::FileRecord record{.operation = L"overwrite", .objectName = L"3", .destinationPath = kTarget};
        EXPECT_EQ(mw::runFileOperation(record), mw::fileOpDone);
        holder.close();
        EXPECT_EQ(read(kTarget), kStaged);
        EXPECT_FALSE(readOnly(kTarget));
        EXPECT_EQ(read(backup(L"3")), kOld);
        EXPECT_TRUE(readOnly(backup(L"3")));
    }
}

TEST_F(EngineTest, TrailingTouchRunsAfterTheOperation) {
    stage(L"4", kStaged);
    mw::FileRecord record{
        .operation = L"add", .objectName = L"4", .destinationPath = kTarget, .touch = L"true"};
    EXPECT_EQ(mw::runFileOperation(record), mw::fileOpDone);
    EXPECT_TRUE(logged(L"INFO", std::wstring(L"Touching file: ") + kTarget));
}

}  // namespace
}  // namespace engine_test
