// The patcher's own signature: checked against the file it runs from before anything is extracted,
// and judged under the machine's policy (HKLM\SOFTWARE\Orvex\Patcher, SignedBy). A patcher that does
// not hold up changes nothing and ends as a patch that cannot be applied, in every run mode.
#pragma once
#include <optional>
#include <string>

namespace mw {

// Reads the program's file once, checks it against its signature and reads the policy. Start-up calls
// it before the first extraction; the verdict waits for the log.
void checkOwnSignature();

// Logs the verdict. Nothing more when the patcher may run (nullopt). Otherwise reports the refusal as
// the run mode of `commandLine` reports a patch that cannot be applied (the silent mode's 6 and console
// text, the update manager's result, the wizard's final page) and returns the process return code.
std::optional<int> refuseUntrustedPatcher(const std::wstring& commandLine);

}  // namespace mw
