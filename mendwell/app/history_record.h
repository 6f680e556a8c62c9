// The history entry of a run that patches the product, handed to the run so that it is written before
// the run's journal goes.
#pragma once
#include "mendwell/base/config_record.h"

namespace mw {

// The next run that patches the product records `config` in the product's history file.
void writeHistoryWhenPatched(const PatcherConfigRecord& config);

// Whether the history entry handed to the last run went in; false until that run writes it.
bool historyWritten();

// Added to the result of a patched run whose history did not go in: the next run would offer it again.
inline constexpr const wchar_t* kHistoryNotWrittenWarning =
    L"Warning: the patch history could not be written; the patch may be offered again.";

}  // namespace mw
