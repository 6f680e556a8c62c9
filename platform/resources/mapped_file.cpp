#include "platform/resources/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/resources/resources.h"
#include "platform/win.h"

namespace win::rsrc {

namespace {
DWORD openError(int e) {
    switch (e) {
        case ENOENT:
            return err::fileNotFound;
        case ENOTDIR:
            return err::pathNotFound;
        default:
            return err::accessDenied;
    }
}
}  // namespace

MappedFile::~MappedFile() {
    close();
}

bool MappedFile::open(const std::filesystem::path& file) {
    close();
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setLastError(openError(errno));
        return false;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        setLastError(err::accessDenied);
        return false;
    }
    if (st.st_size > 0) {
        void* p = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            ::close(fd);
            setLastError(err::invalidData);
            return false;
        }
        base_ = static_cast<const std::uint8_t*>(p);
        size_ = static_cast<std::size_t>(st.st_size);
    }
    ::close(fd);  // the mapping stays valid without the descriptor
    open_ = true;
    return true;
}

void MappedFile::close() {
    if (base_) munmap(const_cast<std::uint8_t*>(base_), size_);
    base_ = nullptr;
    size_ = 0;
    open_ = false;
}

}  // namespace win::rsrc

namespace win {

void discardModulePages(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    // Only whole pages inside the range: a page shared with bytes before or after it stays.
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(bytes.data());
    const std::uintptr_t first = (begin + page - 1) / page * page;
    const std::uintptr_t last = (begin + bytes.size()) / page * page;
    // The mapping is private and never written, so dropped pages read back unchanged from the file.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_DONTNEED);
}

}  // namespace win
