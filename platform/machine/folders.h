// The shell folders of a machine: the profile's override, else the Windows 7 default.
#pragma once
#include <string>

#include "platform/machine/machine.h"

namespace win {

// Folder of a CSIDL number (see platform/system/system.h) on a machine with this profile, without a
// trailing backslash. False for a CSIDL this layer does not know.
bool machineFolder(const MachineProfile& profile, int csidl, std::wstring& out);

// Every CSIDL that machineFolder knows, for callers that create or list them all.
const int* knownFolders(std::size_t& count);

}  // namespace win
