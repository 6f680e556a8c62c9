// Process-wide patch state and status values shared by the mode procedures, the patch worker and the
// product checks. Plain 32-bit values: written by the worker, read between notifications.
#pragma once
#include <cstdint>
#include <string>

namespace mw {

// Phases of a patch run.
enum PatchPhase : std::int32_t {
    statePatching = 501,
    stateSucceeded = 502,
    stateSuspended = 503,
    stateFailedBeforeChange = 504,
    stateRollbackFinished = 505,
    stateRollingBack = 506,
    stateOperationFailed = 507,
    stateAlreadyUpdated = 515,
    stateCannotPatch = 516,
};

// Status values of the controller.
enum PatchStatusValue : std::int32_t {
    statusGood = 509,
    statusFailed = 510,
    statusRestartNeeded = 511,
    statusPatchFailed = 514,
};

// Reasons a patch was refused or stopped.
enum ValidationReason : std::int32_t {
    reasonNone = 0,
    reasonSetStarted = 1,
    reasonPatchToolRunning = 2,
    reasonWrongVersion = 4,
    reasonAlreadyUpdated = 6,
    reasonAppsRunning = 9,
    reasonTargetNoSpace = 10,
    reasonSystemNoSpace = 11,
    reasonRegistryFailed = 12,
    reasonPreflightRefused = 13,  // an entry would fail: refused before any change (state 516)
};

// The block handed to the wizard with every notification.
struct PatchStateBlock {
    std::int32_t state = statePatching;
    std::int32_t result = statusGood;
    std::int32_t totals[4] = {0, 0, 0, 0};  // service, file, registry, directory sets
    std::int32_t done[4] = {0, 0, 0, 0};
};

struct PatchGlobals {
    PatchStateBlock block;
    std::int32_t configStatus = statusGood;
    std::int32_t patchStatus = statusGood;
    std::int32_t validationReason = reasonNone;
    bool rollbackRequested = false;
    std::int32_t rollbackMode = 0;  // 1: the worker undoes the patch
    // Message key the update manager's result carries (e.g. "$$$/tvr/info/message/patchAlreadyApplied").
    std::wstring qudUserMessage;
};

PatchGlobals& patchGlobals();

}  // namespace mw
