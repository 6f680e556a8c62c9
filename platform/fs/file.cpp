#include "platform/fs/file.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include "platform/fs/hostfs.h"
#include "platform/fs/sharelock.h"

namespace win {

namespace fs = std::filesystem;

struct File::State {
    int fd = -1;
    int lockFd = -1;  // read-only description that carries this handle's share markers
    bool canRead = false;
    bool canWrite = false;
    fs::path host;

    ~State() {
        if (fd >= 0) ::close(fd);
        if (lockFd >= 0 && lockFd != fd) ::close(lockFd);
    }
};

namespace {

constexpr DWORD kGenericAll = 0x10000000;

bool wantsRead(DWORD access) {
    return (access & (access::read | kGenericAll | 0x1)) != 0;
}
bool wantsWrite(DWORD access) {
    return (access & (access::write | kGenericAll | 0x2 | 0x4)) != 0;
}

}  // namespace

File::File() = default;
File::~File() = default;
File::File(File&& other) noexcept = default;
File& File::operator=(File&& other) noexcept = default;

bool File::open(std::wstring_view path, DWORD desiredAccess, DWORD shareMode, Disposition disposition,
                DWORD attributes) {
    close();
    hostfs::Target target;
    if (!hostfs::resolve(path, target)) return false;
    if (target.isDirectory()) return hostfs::fail(err::accessDenied);
    if (target.namesFolder) return hostfs::fail(err::invalidName);
    const bool read = wantsRead(desiredAccess);
    const bool write = wantsWrite(desiredAccess);
    const bool truncates =
        disposition == Disposition::createAlways || disposition == Disposition::truncateExisting;
    if (disposition == Disposition::truncateExisting && !write) return hostfs::fail(err::invalidParameter);

    // What the file carries beyond its permission bits is only read when the request depends on it.
    DWORD existing = attr::invalid;
    if (target.exists) {
        if (disposition == Disposition::createNew) return hostfs::fail(err::fileExists);
        // Read-only lives in the write permission of a file.
        if ((write || truncates) && (target.st.st_mode & S_IWUSR) == 0)
            return hostfs::fail(err::accessDenied);
        if (disposition == Disposition::createAlways) {
            // CREATE_ALWAYS refuses to replace a hidden or system file with one that would lose the bits.
            existing = hostfs::attributesOf(target.host, target.st);
            constexpr DWORD kKept = attr::hidden | attr::system;
            const DWORD asked = attributes == attr::normal ? 0 : attributes;
            if ((existing & kKept & ~asked) != 0) return hostfs::fail(err::accessDenied);
        }
    } else if (disposition == Disposition::openExisting || disposition == Disposition::truncateExisting) {
        return hostfs::fail(hostfs::missingError(target.host));
    }

    auto state = std::make_unique<State>();
    state->host = target.host;
    state->canRead = read;
    state->canWrite = write;
    // A writer opens for reading too, so one description carries the data and the share markers (a
    // read lock needs a readable descriptor); the handle still refuses the reads it was not given.
    int flags = O_CLOEXEC | O_NOFOLLOW;
    flags |= write ? O_RDWR : O_RDONLY;
    bool created = false;
    {
        sharing::Guard guard;
        if (!target.exists) {
            state->fd = ::open(target.host.c_str(), flags | O_CREAT | O_EXCL, 0666);
            if (state->fd < 0 && errno == EEXIST) {
                // Someone made it meanwhile: open what is there now, under the same rules.
                if (disposition == Disposition::createNew) return hostfs::fail(err::fileExists);
                state->fd = ::open(target.host.c_str(), flags);
            } else {
                created = state->fd >= 0;
            }
        } else {
            state->fd = ::open(target.host.c_str(), flags);
        }
        if (state->fd < 0 && errno == EACCES && write && !read && target.exists) {
            // A file that may be written but not read: write-only, markers on a second description.
            flags = (flags & ~O_ACCMODE) | O_WRONLY;
            state->fd = ::open(target.host.c_str(), flags);
        }
        if (state->fd < 0) return hostfs::fail(errno, target.host);
        state->lockFd =
            (flags & O_ACCMODE) == O_WRONLY ? ::open(target.host.c_str(), O_RDONLY | O_CLOEXEC) : state->fd;
        if (state->lockFd < 0) state->lockFd = ::open(target.host.c_str(), O_RDONLY | O_CLOEXEC);
        if (state->lockFd < 0) {
            const int error = errno;
            if (created) ::unlink(target.host.c_str());
            return hostfs::fail(error, target.host);
        }
        if (!created && sharing::conflicts(state->lockFd, desiredAccess, shareMode)) {
            return hostfs::fail(err::sharingViolation);
        }
        if (!sharing::mark(state->lockFd, desiredAccess, shareMode)) {
            const int error = errno;
            if (created) ::unlink(target.host.c_str());
            return hostfs::fail(error, target.host);
        }
    }
    if (target.exists && truncates && ::ftruncate(state->fd, 0) != 0) return hostfs::fail(errno, target.host);
    // A file made or overwritten gets the asked attributes and archive, as the file system sets it.
    // Archive alone is what a file without stored attributes reports, so that costs no host call.
    const bool replaced = target.exists && disposition == Disposition::createAlways;
    const DWORD bits = (attributes == attr::normal ? 0 : attributes) | attr::archive;
    if ((created && bits != attr::archive) || (replaced && existing != bits)) {
        if (!hostfs::storeAttributes(target.host, false, bits)) return hostfs::fail(errno, target.host);
    }
    state_ = std::move(state);
    // Windows reports that an existing file was opened or overwritten, though the call succeeds.
    setLastError(target.exists &&
                         (disposition == Disposition::openAlways || disposition == Disposition::createAlways)
                     ? err::alreadyExists
                     : err::success);
    return true;
}

bool File::isOpen() const {
    return state_ && state_->fd >= 0;
}

bool File::read(void* buffer, std::size_t size, std::size_t& bytesRead) {
    bytesRead = 0;
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    if (!state_->canRead) return hostfs::fail(err::accessDenied);
    auto* out = static_cast<char*>(buffer);
    while (bytesRead < size) {
        const ssize_t n = ::read(state_->fd, out + bytesRead, size - bytesRead);
        if (n < 0) {
            if (errno == EINTR) continue;
            return hostfs::fail(errno, state_->host);
        }
        if (n == 0) break;
        bytesRead += static_cast<std::size_t>(n);
    }
    return true;
}

bool File::readAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& bytesRead) {
    bytesRead = 0;
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    if (!state_->canRead) return hostfs::fail(err::accessDenied);
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return hostfs::fail(err::invalidParameter);
    auto* out = static_cast<char*>(buffer);
    while (bytesRead < size) {
        const ssize_t n =
            ::pread(state_->fd, out + bytesRead, size - bytesRead, static_cast<off_t>(offset + bytesRead));
        if (n < 0) {
            if (errno == EINTR) continue;
            return hostfs::fail(errno, state_->host);
        }
        if (n == 0) break;
        bytesRead += static_cast<std::size_t>(n);
    }
    return true;
}

bool File::write(const void* data, std::size_t size) {
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    if (!state_->canWrite) return hostfs::fail(err::accessDenied);
    const auto* in = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(state_->fd, in + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return hostfs::fail(errno, state_->host);
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool File::seek(std::uint64_t offset) {
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    if (offset > static_cast<std::uint64_t>(INT64_MAX)) return hostfs::fail(err::invalidParameter);
    if (::lseek(state_->fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        return hostfs::fail(errno, state_->host);
    return true;
}

bool File::seekEnd() {
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    if (::lseek(state_->fd, 0, SEEK_END) < 0) return hostfs::fail(errno, state_->host);
    return true;
}

bool File::size(std::uint64_t& size) const {
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    struct stat st {};
    if (::fstat(state_->fd, &st) != 0) return hostfs::fail(errno, state_->host);
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
}

bool File::truncate() {
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    if (!state_->canWrite) return hostfs::fail(err::accessDenied);
    const off_t at = ::lseek(state_->fd, 0, SEEK_CUR);
    if (at < 0 || ::ftruncate(state_->fd, at) != 0) return hostfs::fail(errno, state_->host);
    return true;
}

bool File::flush() {
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    if (::fsync(state_->fd) != 0) return hostfs::fail(errno, state_->host);
    return true;
}

bool File::setTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite) {
    if (!isOpen()) return hostfs::fail(err::invalidHandle);
    struct timespec times[2];
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_nsec = UTIME_OMIT;
    if (lastAccess) times[0] = hostfs::toTimespec(*lastAccess);
    if (lastWrite) times[1] = hostfs::toTimespec(*lastWrite);
    if ((lastAccess || lastWrite) && ::futimens(state_->fd, times) != 0)
        return hostfs::fail(errno, state_->host);
    if (creation && !hostfs::storeCreationTime(state_->fd, *creation))
        return hostfs::fail(errno, state_->host);
    return true;
}

void File::close() {
    state_.reset();
}

bool readFile(std::wstring_view path, std::string& bytes) {
    bytes.clear();
    File file;
    if (!file.open(path, access::read, share::read, Disposition::openExisting)) return false;
    std::uint64_t size = 0;
    if (!file.size(size)) return false;
    std::string data(static_cast<std::size_t>(size), '\0');
    std::size_t got = 0;
    if (!file.read(data.data(), data.size(), got)) return false;
    data.resize(got);
    // A file that grew while being read: take the rest too.
    char chunk[65536];
    while (file.read(chunk, sizeof chunk, got) && got > 0) data.append(chunk, got);
    bytes = std::move(data);
    setLastError(err::success);
    return true;
}

bool writeFile(std::wstring_view path, std::string_view bytes) {
    File file;
    if (!file.open(path, access::write, share::read, Disposition::createAlways)) return false;
    if (!file.write(bytes.data(), bytes.size())) return false;
    file.close();
    setLastError(err::success);
    return true;
}

}  // namespace win
