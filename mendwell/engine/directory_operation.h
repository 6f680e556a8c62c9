// Directory entries of the manifest: create a folder with its missing parents, or remove a folder and a
// given number of its ancestors. For folders the validation is the whole operation.
#pragma once
#include "mendwell/engine/manifest.h"

namespace mw {

class cDirectoryOperation {
  public:
    virtual ~cDirectoryOperation() = default;
    virtual bool validate(const DirectoryRecord& entry) = 0;
};

class cDirectoryOperationAdd : public cDirectoryOperation {
  public:
    bool validate(const DirectoryRecord& entry) override;
};

class cDirectoryOperationRemove : public cDirectoryOperation {
  public:
    bool validate(const DirectoryRecord& entry) override;  // always true
};

// The dispatcher: runs the operation named by the entry's Operation ("add" or "remove", exact case);
// any other name fails.
bool runDirectoryOperation(const DirectoryRecord& entry);

}  // namespace mw
