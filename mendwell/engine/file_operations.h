// The file operations of a manifest entry: add, overwrite, blind overwrite, remove, rename and touch.
// Each is built for one entry, executed once and destroyed by runFileOperation.
#pragma once
#include "mendwell/engine/file_operation.h"

namespace mw {

class cFileOperationAdd : public cFileOperation {
  public:
    explicit cFileOperationAdd(const FileRecord& record);
    int validate(const FileRecord& record) override;
    int execute(const FileRecord& record) override;
};

class cFileOperationOverwrite : public cFileOperation {
  public:
    explicit cFileOperationOverwrite(const FileRecord& record);
    int validate(const FileRecord& record) override;
    int execute(const FileRecord& record) override;
};

class cFileOperationBlindOverwrite : public cFileOperation {
  public:
    // Gives the staged file the destination's extension (a copy) so that the versioners know it.
    explicit cFileOperationBlindOverwrite(const FileRecord& record);
    int validate(const FileRecord& record) override;
    int execute(const FileRecord& record) override;
    int fileKind() const { return fileKind_; }

  private:
    int fileKind_ = kNoFileKind;
};

class cFileOperationRemove : public cFileOperation {
  public:
    explicit cFileOperationRemove(const FileRecord& record);
    int validate(const FileRecord& record) override;
    int execute(const FileRecord& record) override;
};

class cFileOperationRename : public cFileOperation {
  public:
    // sourcePath is the current name, targetPath the new one (RenamePath).
    explicit cFileOperationRename(const FileRecord& record);
    int validate(const FileRecord& record) override;
    int execute(const FileRecord& record) override;
};

class cFileOperationTouch : public cFileOperation {
  public:
    explicit cFileOperationTouch(const FileRecord& record);
    int validate(const FileRecord& record) override;
    int execute(const FileRecord& record) override;

  private:
    int undo(const FileRecord& record);
};

// Puts a colour profile into the system's colour directory (install) or takes it out (uninstall);
// nothing in rollback mode, where the colour directory's own undo entries restore it.
void installColorProfile(const std::wstring& target, int rollbackMode, bool install);

}  // namespace mw
