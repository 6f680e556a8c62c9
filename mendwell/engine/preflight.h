// The pre-flight: before the first change, every entry of the manifest is judged as its operation would
// judge it, against the machine as the earlier entries of the plan leave it, and checked for what acting
// needs (a file no other process holds, a folder that can be made, an accessible registry key, free space
// for the new files and the backups). It changes nothing on the machine.
#pragma once
#include <string>
#include <vector>

#include "mendwell/base/fast_xml_parser.h"

namespace mw {

struct PreflightReport {
    std::vector<std::wstring> findings;  // "<entry>: <why>", one per entry that would fail
    std::vector<std::wstring> plan;      // "<entry>: <what the run would do>", one per entry
    bool passed() const { return findings.empty(); }
};

// Logs one ERROR line per finding; in a check run also the plan (one INFO line and one console line per
// entry) and the findings on the console.
PreflightReport runPreflight(const ExpatDOM& manifest, const std::wstring& installDir,
                             const std::wstring& language);

// A check run (-SILENT -CHECK) ends after the pre-flight: nothing is changed and no history written.
void setCheckOnly(bool on);
bool checkOnly();

}  // namespace mw
