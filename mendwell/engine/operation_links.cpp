#include "mendwell/engine/operation_links.h"

#include "mendwell/engine/directory_operation.h"
#include "mendwell/engine/registry_operation.h"
#include "mendwell/engine/undo_record.h"
#include "mendwell/engine/add_remove_entry.h"
#include "mendwell/engine/services.h"
#include "mendwell/base/config_record.h"

namespace mw {

bool runDirectoryEntry(const DirectoryRecord& record) {
    return runDirectoryOperation(record);
}

bool runRegistryEntry(const RegistryRecord& record) {
    // An operation that is neither "add" nor "remove" changes nothing and fails the entry.
    const auto operation = makeRegistryOperation(record.operation);
    return operation && operation->execute(record);
}

bool stopServiceEntry(const ServiceRecord& record) {
    WriteAhead ahead;
    if (serviceRunning(record)) recordServiceStopped(record);
    ahead.acting();
    const bool ok = stopService(record);
    const auto flag = stoppedServices().find(serviceKey(record));
    if (flag != stoppedServices().end() && flag->second == 1) recordServiceStopped(record);
    ahead.finished(ok);
    return ok;
}

bool startServiceEntry(const ServiceRecord& record) {
    // Only a service this run's stop pass stopped is started again.
    const auto flag = stoppedServices().find(serviceKey(record));
    if (flag == stoppedServices().end() || flag->second != 1) return true;
    return startService(record);
}

bool updateAddRemoveInfo(const AddRemoveRecord& record) {
    return updateAddRemoveEntry(globalConfig(), record);
}

}  // namespace mw
