#include "platform/system/file_security.h"

#include <errno.h>
#include <sys/xattr.h>

#include <cstring>

#include "platform/fs/hostfs.h"

namespace win {

namespace {

// Kept on the host file itself, so it follows the file as Windows' security descriptor does.
constexpr const char* kDaclName = "user.mendwell.dacl";
constexpr const char* kNullDacl = "null";

}  // namespace

DWORD setNullDacl(std::wstring_view path) {
    hostfs::Target target;
    if (!hostfs::resolve(path, target)) return lastError();
    if (!target.exists) return hostfs::missingError(target.host);
    if (::setxattr(target.host.c_str(), kDaclName, kNullDacl, std::strlen(kNullDacl), 0) != 0)
        return errno == ENOTSUP ? err::notSupported : hostfs::fromErrno(errno, target.host);
    return err::success;
}

bool getFileDacl(std::wstring_view path, FileDacl& dacl) {
    dacl = FileDacl::inherited;
    hostfs::Target target;
    if (!hostfs::resolve(path, target)) return false;
    if (!target.exists) return hostfs::fail(hostfs::missingError(target.host));
    char value[16] = {};
    const ssize_t n = ::getxattr(target.host.c_str(), kDaclName, value, sizeof value - 1);
    if (n == static_cast<ssize_t>(std::strlen(kNullDacl)) && std::memcmp(value, kNullDacl, n) == 0)
        dacl = FileDacl::null;
    setLastError(err::success);
    return true;
}

}  // namespace win
