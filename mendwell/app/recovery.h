// Recovery at start: a patcher that died in the middle of a run (killed, crashed, the machine lost
// power) leaves its work folder behind with the journal of what it changed. The next patcher rolls that
// run back before it does anything else.
#pragma once
#include <string>

namespace mw {

struct RecoveryOutcome {
    int recovered = 0;   // runs rolled back
    bool failed = false;  // a run that could not be rolled back: the product is in an unknown state
};

// Looks at every other patcher's work folder (only one patcher runs at a time, so a folder with a journal
// belongs to a run that did not finish) and rolls each such run back from its journal. A recovery that
// dies itself leaves the journal in place and is done again by the next start.
RecoveryOutcome recoverUnfinishedRuns();
// What the recovery of this process found (for the update manager's result).
const RecoveryOutcome& lastRecovery();

}  // namespace mw
