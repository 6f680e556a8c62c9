#include "platform/fs/sharelock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "platform/fs/file.h"
#include "platform/machine/machine.h"

namespace win::sharing {

namespace {

constexpr off_t kMarkerBase = 0x7FFFFFFF00000000LL;
enum Marker { hasRead = 0, hasWrite = 1, hasDelete = 2, deniesRead = 3, deniesWrite = 4, deniesDelete = 5 };

struct Rights {
    bool read = false;
    bool write = false;
    bool del = false;
    bool any() const { return read || write || del; }
};

// GENERIC_ALL and the specific data rights count as the generic ones they include.
Rights rightsOf(DWORD access) {
    constexpr DWORD genericAll = 0x10000000;
    Rights r;
    r.read = (access & (access::read | genericAll | 0x1)) != 0;
    r.write = (access & (access::write | genericAll | 0x2 | 0x4)) != 0;
    r.del = (access & (access::del | genericAll)) != 0;
    return r;
}

bool heldByOthers(int fd, Marker marker) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kMarkerBase + marker;
    fl.l_len = 1;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

bool lock(int fd, Marker marker) {
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kMarkerBase + marker;
    fl.l_len = 1;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

std::mutex& localMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

Guard::Guard() : local_(localMutex()) {
    const Machine& machine = Machine::current();
    if (!machine.ok()) return;
    // Opened afresh each time: a descriptor inherited over fork() would share its lock with the parent.
    const std::filesystem::path file = machine.root() / "share.lock";
    fd_ = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

Guard::~Guard() {
    if (fd_ >= 0) ::close(fd_);  // releases the flock
}

bool conflicts(int fd, DWORD access, DWORD share) {
    const Rights want = rightsOf(access);
    if (!want.any()) return false;  // a handle without data access takes no part in sharing
    if (want.read && heldByOthers(fd, deniesRead)) return true;
    if (want.write && heldByOthers(fd, deniesWrite)) return true;
    if (want.del && heldByOthers(fd, deniesDelete)) return true;
    if (!(share & share::read) && heldByOthers(fd, hasRead)) return true;
    if (!(share & share::write) && heldByOthers(fd, hasWrite)) return true;
    if (!(share & share::del) && heldByOthers(fd, hasDelete)) return true;
    return false;
}

bool mark(int fd, DWORD access, DWORD share) {
    const Rights want = rightsOf(access);
    if (!want.any()) return true;
    bool ok = true;
    if (want.read) ok = lock(fd, hasRead) && ok;
    if (want.write) ok = lock(fd, hasWrite) && ok;
    if (want.del) ok = lock(fd, hasDelete) && ok;
    if (!(share & share::read)) ok = lock(fd, deniesRead) && ok;
    if (!(share & share::write)) ok = lock(fd, deniesWrite) && ok;
    if (!(share & share::del)) ok = lock(fd, deniesDelete) && ok;
    return ok;
}

bool pathConflicts(const std::filesystem::path& host, DWORD access, DWORD share) {
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    const bool result = conflicts(fd, access, share);
    ::close(fd);
    return result;
}

bool pathInUse(const std::filesystem::path& host) {
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    const bool result =
        heldByOthers(fd, hasRead) || heldByOthers(fd, hasWrite) || heldByOthers(fd, hasDelete);
    ::close(fd);
    return result;
}

}  // namespace win::sharing
