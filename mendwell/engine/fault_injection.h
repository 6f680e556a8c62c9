// Fault injection for tests only: MENDWELL_FAULT="fail:N" makes the N-th entry of a normal run fail as if
// its operation had failed; "kill:N" ends the process abruptly (no clean-up, as a crash or SIGKILL would)
// just before the N-th entry. Entries count from 1 in the order the run meets them: service stop pass,
// files, directories, registry, the Add/Remove entry, service start pass. Rollback runs are never
// touched. Without the variable nothing happens.
#pragma once

namespace mw {

// Called once before each entry of a run; true when this entry must fail.
bool injectedFailure();
// Starts the count again (each run of the patch thread).
void resetFaultCount();

}  // namespace mw
