#include "mendwell/engine/fault_injection.h"

#include <cstdlib>
#include <string>

#include "mendwell/engine/patch_state.h"
#include "mendwell/shell/patchlog.h"
#include "platform/system/system.h"

namespace mw {

namespace {

int& counter() {
    static int count = 0;
    return count;
}

}  // namespace

void resetFaultCount() {
    counter() = 0;
}

bool injectedFailure() {
    if (patchGlobals().rollbackMode != 0) return false;
    const int entry = ++counter();
    static const std::wstring plan = win::getEnv(L"MENDWELL_FAULT").value_or(L"");
    const std::size_t colon = plan.find(L':');
    if (colon == std::wstring::npos) return false;
    const std::wstring kind = plan.substr(0, colon);
    if (std::wcstol(plan.c_str() + colon + 1, nullptr, 10) != entry) return false;
    if (kind == L"kill") {
        logFlush();
        std::_Exit(137);
    }
    if (kind != L"fail") return false;
    logError(L"Injected fault at entry %d.", entry);
    return true;
}

}  // namespace mw
