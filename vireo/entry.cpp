// The library's only export, called by the authoring tool when it loads the extension.
#include <cstddef>

#include "vireo/host_environment.h"
#include "vireo/native_functions.h"

extern "C" __attribute__((visibility("default"))) void RW_InitWrapper(void* const* table,
                                                                      std::size_t sizeInBytes) {
    vireo::HostEnvironment& host = vireo::hostEnvironment();
    host.copyFrom(table, sizeInBytes);
    vireo::registerNativeFunctions(host);
}
