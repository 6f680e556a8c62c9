#include "platform/fs/sharelock.h"

#include <fcntl.h>
#include <pthread.h>
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

// Whether another open file description holds a marker in [first, first + count).
bool heldByOthers(int fd, Marker first, int count = 1) {
    struct flock fl {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kMarkerBase + first;
    fl.l_len = count;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return false;
    return fl.l_type != F_UNLCK;
}

bool lock(int fd, int first, int count) {
    struct flock fl {};
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kMarkerBase + first;
    fl.l_len = count;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

// The machine's lock file, kept open for the process. A child made by fork() opens its own: flock
// belongs to the open file description, which the child would otherwise share with its parent.
struct LockFile {
    std::mutex mutex;
    int fd = -1;
    std::uint64_t generation = ~0ULL;

    int get() {
        const std::uint64_t now = Machine::generation();
        if (fd >= 0 && generation == now) return fd;
        if (fd >= 0) ::close(fd);
        fd = -1;
        const Machine& machine = Machine::current();
        if (!machine.ok()) return -1;
        const std::filesystem::path file = machine.root() / "share.lock";
        fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        generation = now;
        return fd;
    }
};

// Set when the kept lock file is gone (at exit, or when a library holding this layer is unloaded).
bool g_lockFileGone = false;

LockFile& lockFile() {
    struct Owned : LockFile {
        Owned() {
            ::pthread_atfork(
                [] {
                    if (!g_lockFileGone) lockFile().mutex.lock();
                },
                [] {
                    if (!g_lockFileGone) lockFile().mutex.unlock();
                },
                [] {
                    if (g_lockFileGone) return;
                    LockFile& f = lockFile();
                    if (f.fd >= 0) ::close(f.fd);  // the parent's lock stays the parent's
                    f.fd = -1;
                    f.mutex.unlock();
                });
        }
        ~Owned() {
            if (fd >= 0) ::close(fd);
            g_lockFileGone = true;
        }
    };
    static Owned instance;
    return instance;
}

std::mutex& lateMutex() {
    static std::mutex m;  // trivially destructible in practice; for guards taken during exit
    return m;
}

}  // namespace

Guard::Guard() : local_(g_lockFileGone ? lateMutex() : lockFile().mutex) {
    if (g_lockFileGone) {
        // During exit: the lock file is opened for this guard alone, as a fresh description.
        const Machine& machine = Machine::current();
        if (!machine.ok()) return;
        fd_ = ::open((machine.root() / "share.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        owned_ = fd_ >= 0;
    } else {
        fd_ = lockFile().get();
    }
    if (fd_ < 0) return;
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
}

Guard::~Guard() {
    if (fd_ < 0) return;
    if (owned_)
        ::close(fd_);  // releases the flock
    else
        ::flock(fd_, LOCK_UN);
}

bool conflicts(int fd, DWORD access, DWORD share) {
    const Rights want = rightsOf(access);
    if (!want.any()) return false;  // a handle without data access takes no part in sharing
    // Most files are open nowhere else: one probe over all markers says so.
    if (!heldByOthers(fd, hasRead, 6)) return false;
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
    const bool set[6] = {want.read,
                         want.write,
                         want.del,
                         !(share & share::read),
                         !(share & share::write),
                         !(share & share::del)};
    // Neighbouring markers go in one lock each run.
    bool ok = true;
    for (int i = 0; i < 6;) {
        if (!set[i]) {
            ++i;
            continue;
        }
        int end = i;
        while (end < 6 && set[end]) ++end;
        ok = lock(fd, i, end - i) && ok;
        i = end;
    }
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
    const bool result = heldByOthers(fd, hasRead, 3);
    ::close(fd);
    return result;
}

}  // namespace win::sharing
