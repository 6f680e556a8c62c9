// The binary patch operation: applies a staged difference file to the file on the machine by running
// the patch tool, then judges the outcome by the entry's AfterPatch checksum alone.
#pragma once
#include <string>

#include "mendwell/engine/file_operation.h"

namespace mw {

class cFileOperationPatch : public cFileOperation {
  public:
    // The patch folder is <Windows>\Temp\Patcher<pid>, created (errors ignored, they show up as a failed
    // copy later) only when the tool is about to run.
    explicit cFileOperationPatch(const FileRecord& record);
    int validate(const FileRecord& record) override;
    int execute(const FileRecord& record) override;

    const std::wstring& patchFolder() const { return patchFolder_; }

  private:
    int applyDifference(const FileRecord& record);

    std::wstring patchFolder_;
};

}  // namespace mw
