#include "platform/win.h"

namespace win {

namespace {
thread_local DWORD t_lastError = 0;
}

DWORD lastError() {
    return t_lastError;
}
void setLastError(DWORD error) {
    t_lastError = error;
}

}  // namespace win
