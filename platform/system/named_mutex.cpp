#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>

#include "platform/machine/machine.h"
#include "platform/system/mutex.h"
#include "platform/text/text.h"
#include "platform/win.h"

namespace win {

namespace {

// One lock file per name; bytes outside [A-Za-z0-9._{}-] are written as %XX so that different names
// never share a file (mutex names are case-sensitive on Windows, and so are host file names).
std::string fileName(std::wstring_view name) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : toUtf8(name)) {
        if (std::isalnum(c) || c == '.' || c == '_' || c == '-' || c == '{' || c == '}') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 0xF]);
        }
    }
    if (out.empty() || out[0] == '.') out = "%" + out;
    return out + ".lock";
}

}  // namespace

NamedMutex::~NamedMutex() {
    release();
}

bool NamedMutex::create(std::wstring_view name, bool& alreadyExists) {
    alreadyExists = false;
    release();
    const Machine& machine = Machine::current();
    if (!machine.ok() || name.empty() || name.size() > 260) {
        setLastError(machine.ok() ? err::invalidName : err::accessDenied);
        return false;
    }
    const auto folder = machine.root() / "locks";
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const auto path = folder / fileName(name);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        setLastError(err::accessDenied);
        return false;
    }
    // An open-file-description lock: owned by this object (not the process, so a second object of the
    // same process sees it taken), and dropped by the system when the holder dies.
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    int rc;
    do rc = ::fcntl(fd, F_OFD_SETLK, &lock);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const bool busy = errno == EAGAIN || errno == EACCES;
        ::close(fd);
        alreadyExists = busy;
        setLastError(busy ? err::alreadyExists : err::accessDenied);
        return false;
    }
    fd_ = fd;
    setLastError(err::success);
    return true;
}

void NamedMutex::release() {
    if (fd_ >= 0) ::close(fd_);  // closing the description drops its lock
    fd_ = -1;
}

}  // namespace win
