// The seven script-callable functions and their registration with the authoring tool.
#pragma once
#include "outside/lumen/lumen_api.h"
#include "vireo/host_environment.h"

namespace vireo {

// Registers the functions in their fixed order; stops at the first missing entry.
void registerNativeFunctions(const HostEnvironment& host);

int Publish(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue* result);
int TestMovie(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue* result);
int DebugMovie(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue* result);
int OpenSettingDialog(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue* result);
int PackageKITEFile(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue* result);
int PackageAlert(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue* result);
int OpenInfoDialog(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue* result);

}  // namespace vireo
