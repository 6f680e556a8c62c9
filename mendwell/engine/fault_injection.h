// Fault injection for tests only, through MENDWELL_FAULT, honoured only on a machine made for tests
// (machine create --test); elsewhere it is ignored with one WARNING line. Entries count from 1 in the
// order a normal run meets them: service stop pass, files, directories, registry, the Add/Remove entry,
// service start pass. Without the variable nothing happens.
//   "fail:N"         the N-th entry fails as if its operation had failed;
//   "kill:N"         the process ends abruptly (no clean-up, as a crash or SIGKILL would) just before
//                    the N-th entry;
//   "killafter:N"    the same, once the N-th entry has made its change and is about to record its undo
//                    entry (an entry that records nothing is not killed);
//   "killrollback:N" the same, just before the N-th entry of a rollback run (a recovery's included);
//   "fault:N"        an access violation just before the N-th entry;
//   "killpatched:N"  the same, once the run has patched the product: 1 once its history entry is
//                    written and before its journal goes, 2 just after the journal went.
#pragma once

namespace mw {

// Called once before each entry of a run; true when this entry must fail.
bool injectedFailure();
// Called before an undo entry of the current entry is recorded.
void injectedKillBeforeRecord();
// At step `step` (1 or 2) of the end of a run that patched the product.
void injectedKillWhenPatched(int step);
// Starts the count again (each run of the patch thread).
void resetFaultCount();

}  // namespace mw
