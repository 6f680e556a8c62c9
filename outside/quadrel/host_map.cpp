#include "outside/quadrel/host_map.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace quadrel {

HostMap::~HostMap() { close(); }

bool HostMap::open(const std::filesystem::path& file) {
    close();
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int e = S_ISREG(st.st_mode) ? errno : EISDIR;
        ::close(fd);
        errno = e;
        return false;
    }
    if (st.st_size > 0) {
        void* p = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return false;
        }
        ::madvise(p, static_cast<std::size_t>(st.st_size), MADV_WILLNEED);
        base_ = static_cast<const std::uint8_t*>(p);
        size_ = static_cast<std::size_t>(st.st_size);
    }
    ::close(fd);
    return true;
}

void HostMap::close() {
    if (base_ != nullptr) ::munmap(const_cast<std::uint8_t*>(base_), size_);
    base_ = nullptr;
    size_ = 0;
}

}  // namespace quadrel
