// Checks Overwrite and BlindOverwrite share (and the binary patch operation may): the after-patch
// checksum and the read-only step, with their messages.
#pragma once
#include <string>

#include "mendwell/engine/file_probe.h"
#include "mendwell/engine/manifest.h"

namespace mw {

// With AfterPatch given and equal to `md5`, sets `result` to 1 (nothing to do); logs either way.
void logAfterPatchCheck(const FileRecord& record, const std::wstring& md5, int& result);
// Clears a read-only target; a failure sets `result` to 2.
void readOnlyStep(FileProbe& probe, const std::wstring& target, int& result);

}  // namespace mw
