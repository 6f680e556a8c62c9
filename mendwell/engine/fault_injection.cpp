#include "mendwell/engine/fault_injection.h"

#include <cstdint>
#include <cstdlib>
#include <string>

#include "mendwell/base/patch_state.h"
#include "mendwell/base/patchlog.h"
#include "platform/process/process.h"
#include "platform/system/system.h"

namespace mw {

namespace {

struct FaultPlan {
    std::wstring kind;
    long entry = 0;
};

const FaultPlan& plan() {
    static const FaultPlan parsed = [] {
        FaultPlan p;
        const std::wstring text = win::getEnv(L"MENDWELL_FAULT").value_or(L"");
        // A shipped patcher on a user's machine must not fail or die on an environment variable.
        if (!text.empty() && !win::isTestMachine()) {
            logWarning(L"MENDWELL_FAULT is set, but this is not a machine made for tests: it is ignored.");
            return p;
        }
        const std::size_t colon = text.find(L':');
        if (colon == std::wstring::npos) return p;
        p.kind = text.substr(0, colon);
        p.entry = std::wcstol(text.c_str() + colon + 1, nullptr, 10);
        return p;
    }();
    return parsed;
}

int& counter() {
    static int count = 0;
    return count;
}

int& rollbackCounter() {
    static int count = 0;
    return count;
}

// As a crash or SIGKILL: the log keeps what was flushed already, nothing else is written.
[[noreturn]] void die() {
    win::terminateCurrentProcess();
}

}  // namespace

void injectedKillWhenPatched(int step) {
    if (plan().kind == L"killpatched" && plan().entry == step) die();
}

void resetFaultCount() {
    counter() = 0;
}

bool injectedFailure() {
    if (patchGlobals().rollbackMode != 0) {
        if (plan().kind == L"killrollback" && ++rollbackCounter() == plan().entry) die();
        return false;
    }
    const int entry = ++counter();
    if (plan().entry != entry) return false;
    if (plan().kind == L"kill") die();
    if (plan().kind == L"fault") {
        // A real access violation, as a bug in an operation would make: the first page is never mapped.
        int* volatile nowhere = reinterpret_cast<int*>(std::uintptr_t{16});
        *nowhere = entry;
    }
    if (plan().kind != L"fail") return false;
    logError(L"Injected fault at entry %d.", entry);
    return true;
}

void injectedKillBeforeRecord() {
    if (patchGlobals().rollbackMode == 0 && plan().kind == L"killafter" && plan().entry == counter()) die();
}

}  // namespace mw
