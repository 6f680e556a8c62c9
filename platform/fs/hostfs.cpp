#include "platform/fs/hostfs.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/xattr.h>

#include <charconv>
#include <string>

#include "platform/fs/file.h"
#include "platform/fs/path.h"

namespace win::hostfs {

namespace fs = std::filesystem;

namespace {

constexpr const char* kAttrName = "user.mendwell.attr";
constexpr const char* kCreatedName = "user.mendwell.created";
constexpr DWORD kStoredBits = attr::readOnly | attr::hidden | attr::system | attr::archive;
constexpr FileTime kUnixEpoch = 116444736000000000ULL;  // 1970-01-01 as a FILETIME

bool readNumber(const fs::path& host, const char* name, std::uint64_t& value) {
    char buffer[32];
    const ssize_t n = ::getxattr(host.c_str(), name, buffer, sizeof buffer);
    if (n <= 0) return false;
    auto [ptr, ec] = std::from_chars(buffer, buffer + n, value);
    return ec == std::errc() && ptr == buffer + n;
}

bool writeNumber(const fs::path& host, const char* name, std::uint64_t value) {
    const std::string text = std::to_string(value);
    return ::setxattr(host.c_str(), name, text.data(), text.size(), 0) == 0;
}

}  // namespace

bool resolve(std::wstring_view path, Target& out) {
    out = Target();
    std::wstring full;
    if (!fullPath(path, full)) return false;
    if (!isLongPathForm(path)) {
        // Without the prefix Windows parses the path into a MAX_PATH buffer (the terminating zero
        // included) and hands device names to the device, never to the file system.
        if (full.size() >= kMaxPath) return fail(err::pathNotFound);
        if (isReservedDeviceName(fileNamePart(removeBackslash(full)))) return fail(err::invalidName);
    }
    Lookup found;
    if (!hostOfFullPath(full, found)) return false;
    out.host = std::move(found.host);
    out.st = found.st;
    out.exists = found.exists;
    out.namesFolder = full.size() > 3 && full.back() == L'\\';
    if (out.namesFolder && out.exists && !S_ISDIR(out.st.st_mode)) return fail(err::invalidName);
    return true;
}

DWORD missingError(const fs::path& host) {
    struct stat st {};
    const fs::path parent = host.parent_path();
    return (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) ? err::fileNotFound : err::pathNotFound;
}

DWORD fromErrno(int error, const fs::path& host) {
    switch (error) {
        case 0:
            return err::success;
        case ENOENT:
            return missingError(host);
        case ENOTDIR:
            return err::pathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS:
        case EINVAL:
            return err::accessDenied;
        case EEXIST:
            return err::alreadyExists;
        case ENOTEMPTY:
            return err::dirNotEmpty;
        case ENOSPC:
        case EDQUOT:
            return err::diskFull;
        case ENAMETOOLONG:
            return err::filenameTooLong;
        case EBUSY:
        case ETXTBSY:
            return err::sharingViolation;
        case EXDEV:
            return err::notSameDevice;
        case ENOMEM:
            return err::notEnoughMemory;
        case EIO:
            return err::genFailure;
        default:
            return err::genFailure;
    }
}

bool fail(int error, const fs::path& host) {
    setLastError(fromErrno(error, host));
    return false;
}

bool fail(DWORD error) {
    setLastError(error);
    return false;
}

DWORD attributesOf(const fs::path& host, const struct stat& st) {
    const bool directory = S_ISDIR(st.st_mode);
    std::uint64_t stored = 0;
    DWORD a = readNumber(host, kAttrName, stored) ? static_cast<DWORD>(stored) & kStoredBits
                                                  : (directory ? 0 : attr::archive);
    if (directory) {
        a |= attr::directory;
    } else if ((st.st_mode & S_IWUSR) == 0) {
        a |= attr::readOnly;
    } else {
        a &= ~attr::readOnly;
    }
    return a == 0 ? attr::normal : a;
}

bool isReadOnly(const fs::path& host, const struct stat& st) {
    return (attributesOf(host, st) & attr::readOnly) != 0;
}

bool storeAttributes(const fs::path& host, bool directory, DWORD attributes) {
    const DWORD bits = attributes & kStoredBits;
    const bool stored = writeNumber(host, kAttrName, bits);
    const int xattrError = stored ? 0 : errno;
    if (!directory) {
        struct stat st {};
        if (::stat(host.c_str(), &st) != 0) return false;
        mode_t mode = st.st_mode & 07777;
        mode = (bits & attr::readOnly) ? (mode & ~static_cast<mode_t>(0222)) : (mode | S_IWUSR);
        if (mode != (st.st_mode & 07777) && ::chmod(host.c_str(), mode) != 0) return false;
        // Without extended attributes read-only still holds through the permission bits.
        return stored || (xattrError == ENOTSUP && (bits & ~attr::readOnly & ~attr::archive) == 0);
    }
    return stored;
}

FileTime fromTimespec(const struct timespec& ts) {
    const long long ticks = static_cast<long long>(ts.tv_sec) * 10000000LL + ts.tv_nsec / 100;
    return static_cast<FileTime>(static_cast<long long>(kUnixEpoch) + ticks);
}

struct timespec toTimespec(FileTime time) {
    const long long ticks = static_cast<long long>(time) - static_cast<long long>(kUnixEpoch);
    long long seconds = ticks / 10000000LL;
    long long rest = ticks % 10000000LL;
    if (rest < 0) {
        rest += 10000000LL;
        --seconds;
    }
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

FileTime creationTimeOf(const fs::path& host, const struct stat& st) {
    std::uint64_t stored = 0;
    if (readNumber(host, kCreatedName, stored)) return stored;
    struct statx sx {};
    if (::statx(AT_FDCWD, host.c_str(), 0, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
        struct timespec ts {};
        ts.tv_sec = sx.stx_btime.tv_sec;
        ts.tv_nsec = sx.stx_btime.tv_nsec;
        return fromTimespec(ts);
    }
    return fromTimespec(st.st_mtim);
}

bool storeCreationTime(const fs::path& host, FileTime time) {
    return writeNumber(host, kCreatedName, time);
}

bool storeCreationTime(int fd, FileTime time) {
    const std::string text = std::to_string(time);
    return ::fsetxattr(fd, kCreatedName, text.data(), text.size(), 0) == 0;
}

}  // namespace win::hostfs
