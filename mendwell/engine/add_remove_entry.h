// The product's entry in the list of installed programs (Add/Remove Programs), updated after the patch.
#pragma once
#include <string>

#include "mendwell/engine/manifest.h"
#include "mendwell/base/config_record.h"

namespace mw {

// "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\" + the installer product code of the last
// detected product code, as the installed-product database reports it; empty when it reports none.
std::wstring addRemoveKeyPath(const PatcherConfigRecord& config);

// Writes each non-empty text of `entry` to its value of the uninstall key under HKLM through the registry
// add operation (which leaves its undo entry). Nothing is written when the key cannot be opened. Always
// true: a value that fails is logged by the operation and the others are still written.
bool updateAddRemoveEntry(const PatcherConfigRecord& config, const AddRemoveRecord& entry);

}  // namespace mw
