#include "mendwell/base/patch_state.h"

namespace mw {

PatchGlobals& patchGlobals() {
    static PatchGlobals globals;
    return globals;
}

}  // namespace mw
