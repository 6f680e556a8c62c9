#include "platform/machine/folders.h"
#include "platform/machine/machine.h"
#include "platform/system/system.h"

namespace win {

bool shellFolder(int csidl, std::wstring& path) {
    if (!machineFolder(Machine::current().profile(), csidl, path)) {
        setLastError(err::invalidParameter);
        return false;
    }
    return true;
}

std::wstring systemDirectory() {
    std::wstring path;
    return shellFolder(csidl::system, path) ? path : windowsDirectory() + L"\\System32";
}

std::wstring windowsDirectory() {
    std::wstring path;
    return shellFolder(csidl::windows, path) ? path : Machine::current().profile().windowsDirectory;
}

std::wstring colorDirectory() {
    return systemDirectory() + L"\\spool\\drivers\\color";
}

}  // namespace win
