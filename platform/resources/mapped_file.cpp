#include "platform/resources/mapped_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
