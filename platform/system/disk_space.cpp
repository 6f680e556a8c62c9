#include <sys/statvfs.h>

#include <algorithm>
#include <cwctype>

#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/system/system.h"

namespace win {

bool diskFreeSpace(std::wstring_view root, std::uint64_t& freeToCaller, std::uint64_t* totalBytes,
                   std::uint64_t* totalFree) {
    std::wstring full;
    if (!fullPath(root, full)) return false;
    const wchar_t letter = static_cast<wchar_t>(std::towupper(full[0]));
    const Machine& machine = Machine::current();
    if (!machine.ok()) {
        setLastError(err::accessDenied);
        return false;
    }
    struct statvfs st {};
    const auto drive = machine.driveFolder(letter);
    if (::statvfs(drive.c_str(), &st) != 0) {
        setLastError(err::pathNotFound);  // no such drive on this machine
        return false;
    }
    std::uint64_t available = static_cast<std::uint64_t>(st.f_bavail) * st.f_frsize;
    std::uint64_t free = static_cast<std::uint64_t>(st.f_bfree) * st.f_frsize;
    std::uint64_t total = static_cast<std::uint64_t>(st.f_blocks) * st.f_frsize;
    // Tests give a drive a figure of their own.
    const auto& figures = machine.profile().freeBytes;
    if (auto it = figures.find(letter); it != figures.end()) {
        available = free = it->second;
        total = std::max(total, it->second);
    }
    freeToCaller = available;
    if (totalBytes) *totalBytes = total;
    if (totalFree) *totalFree = free;
    setLastError(err::success);
    return true;
}

}  // namespace win
