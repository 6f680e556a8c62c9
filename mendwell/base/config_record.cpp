#include "mendwell/base/config_record.h"

namespace mw {

PatcherConfigRecord& globalConfig() {
    static PatcherConfigRecord config;
    return config;
}

}  // namespace mw
