#include "mendwell/engine/operation_links.h"

#include "mendwell/engine/directory_operation.h"
#include "mendwell/engine/registry_operation.h"
#include "mendwell/shell/patchlog.h"

namespace mw {

namespace {

bool missingOperation(const wchar_t* name) {
    logError(L"The operation %s is not part of this build; the entry cannot be carried out.", name);
    return false;
}

}  // namespace

bool runDirectoryEntry(const DirectoryRecord& record) {
    return runDirectoryOperation(record);
}

bool runRegistryEntry(const RegistryRecord& record) {
    // An operation that is neither "add" nor "remove" changes nothing and fails the entry.
    const auto operation = makeRegistryOperation(record.operation);
    return operation && operation->execute(record);
}

bool stopServiceEntry(const ServiceRecord&) {
    return missingOperation(L"stopService");
}

bool startServiceEntry(const ServiceRecord&) {
    // Nothing was stopped by this build's stop pass, so there is nothing to restart.
    return true;
}

bool updateAddRemoveInfo(const AddRemoveRecord&) {
    return missingOperation(L"updateAddRemoveEntry");
}

}  // namespace mw
