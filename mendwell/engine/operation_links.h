// The one place where the patch thread's passes reach the directory, registry, service and Add/Remove
// operations. An operation that is not part of the build fails its entry with an ERROR line naming it,
// so a manifest that needs it can never end as a success.
#pragma once
#include "mendwell/engine/manifest.h"

namespace mw {

bool runDirectoryEntry(const DirectoryRecord& record);
// Validates and executes one registry entry; false when either fails or the operation is unknown.
bool runRegistryEntry(const RegistryRecord& record);
// The stop pass stops every entry's service; the start pass restarts only those it stopped.
bool stopServiceEntry(const ServiceRecord& record);
bool startServiceEntry(const ServiceRecord& record);
bool updateAddRemoveInfo(const AddRemoveRecord& record);

}  // namespace mw
