// The binary patch operation is built on its own branch; until it joins, a "patch" entry fails.
#include "mendwell/engine/file_operation.h"

namespace mw {

std::unique_ptr<cFileOperation> makePatchOperation(const FileRecord&) {
    return nullptr;
}

}  // namespace mw
