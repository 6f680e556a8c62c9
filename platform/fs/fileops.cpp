// Path-level file operations: attributes, copy, move, delete, folders, times and sizes.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/fs/file.h"
#include "platform/fs/hostfs.h"
#include "platform/fs/path.h"
#include "platform/fs/sharelock.h"
#include "platform/text/text.h"

namespace win {

namespace fs = std::filesystem;

namespace {

constexpr DWORD kShareAll = share::read | share::write | share::del;

bool isDriveRoot(std::wstring_view path) {
    std::wstring full;
    return fullPath(path, full) && full.size() == 3;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void syncPath(const fs::path& host) {
    const int fd = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// A buffer the size of the file, up to 1 MB, left uninitialised: small files are the common case.
bool copyData(File& in, File& out, std::uint64_t expected) {
    const std::size_t size = static_cast<std::size_t>(std::clamp<std::uint64_t>(expected + 1, 4096, 1 << 20));
    const auto buffer = std::make_unique_for_overwrite<char[]>(size);
    while (true) {
        std::size_t got = 0;
        if (!in.read(buffer.get(), size, got)) return false;
        if (got == 0) return true;
        if (!out.write(buffer.get(), got)) return false;
    }
}

// The host name a new entry gets: the last name as the caller wrote it (case kept), in the folder
// that the case-insensitive lookup found.
fs::path writtenName(std::wstring_view path, const fs::path& resolved) {
    std::wstring full;
    if (!fullPath(path, full)) return resolved;
    return resolved.parent_path() / toUtf8(fileNamePart(removeBackslash(full)));
}

// rename(2), refusing an existing target unless `replace`: a file made by a process outside the
// guard between the check and the rename is not silently overwritten. 0 or -1 with errno.
int renameFile(const fs::path& from, const fs::path& to, bool replace) {
    if (!replace) {
        const int rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (rc == 0 || errno != EINVAL) return rc;
        // A file system without the flag: the check under the guard has to do.
    }
    return ::rename(from.c_str(), to.c_str());
}

}  // namespace

DWORD getFileAttributes(std::wstring_view path) {
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return attr::invalid;
    if (!t.exists) {
        setLastError(hostfs::missingError(t.host));
        return attr::invalid;
    }
    return hostfs::attributesOf(t.host, t.st);
}

bool setFileAttributes(std::wstring_view path, DWORD attributes) {
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (!t.exists) return hostfs::fail(hostfs::missingError(t.host));
    const DWORD bits = attributes == attr::normal ? 0 : attributes;
    if (!hostfs::storeAttributes(t.host, t.isDirectory(), bits)) return hostfs::fail(errno, t.host);
    return true;
}

bool pathExists(std::wstring_view path) {
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (!t.exists) setLastError(hostfs::missingError(t.host));
    return t.exists;
}

bool isDirectory(std::wstring_view path) {
    hostfs::Target t;
    return hostfs::resolve(path, t) && t.isDirectory();
}

bool copyFile(std::wstring_view from, std::wstring_view to, bool failIfExists) {
    hostfs::Target src;
    hostfs::Target dst;
    if (!hostfs::resolve(from, src) || !hostfs::resolve(to, dst)) return false;
    if (!src.exists) return hostfs::fail(hostfs::missingError(src.host));
    if (src.isDirectory() || dst.isDirectory()) return hostfs::fail(err::accessDenied);
    const DWORD attributes = hostfs::attributesOf(src.host, src.st);

    File in;
    if (!in.open(from, access::read, share::read | share::del, Disposition::openExisting)) {
        // As CopyFile does: a source someone is writing can still be read when the writer allows it.
        if (lastError() != err::sharingViolation ||
            !in.open(from, access::read, kShareAll, Disposition::openExisting)) {
            return false;
        }
    }
    // The target is opened sharing everything, so a holder that shares writing does not stop the copy;
    // the hidden and system bits go with the request, so only a target that has them alone refuses.
    File out;
    if (!out.open(to, access::write, kShareAll,
                  failIfExists ? Disposition::createNew : Disposition::createAlways,
                  attributes & ~attr::readOnly)) {
        return false;
    }
    const bool created = lastError() != err::alreadyExists;
    const fs::path target = dst.exists ? dst.host : writtenName(to, dst.host);
    if (!copyData(in, out, static_cast<std::uint64_t>(src.st.st_size))) {
        const DWORD error = lastError();
        out.close();
        // Never leave half a copy under a name that did not exist before.
        if (created) ::unlink(target.c_str());
        return hostfs::fail(error);
    }
    out.close();
    in.close();
    // Windows keeps the source's last-write time and attributes on the copy.
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_NOW;
    times[1] = src.st.st_mtim;
    if (::utimensat(AT_FDCWD, target.c_str(), times, 0) != 0) return hostfs::fail(errno, target);
    if (created) hostfs::storeCreationTime(target, currentFileTime());
    // The copy is a new or rewritten file: archive is set whatever the source had. Opening it stored
    // everything but read-only, which could only be set once the bytes were in.
    if ((attributes & attr::readOnly) &&
        !hostfs::storeAttributes(target, false,
                                 (attributes == attr::normal ? 0 : attributes) | attr::archive)) {
        return hostfs::fail(errno, target);
    }
    setLastError(err::success);
    return true;
}

bool moveFile(std::wstring_view from, std::wstring_view to, DWORD flags) {
    if (flags & moveflag::delayUntilReboot) return hostfs::fail(err::notSupported);
    hostfs::Target src;
    hostfs::Target dst;
    fs::path target;
    {
        sharing::Guard guard;
        // Looked at under the guard: another process may make or remove either file until then.
        if (!hostfs::resolve(from, src) || !hostfs::resolve(to, dst)) return false;
        if (!src.exists) return hostfs::fail(hostfs::missingError(src.host));
        if (isDriveRoot(from) || isDriveRoot(to)) return hostfs::fail(err::accessDenied);
        if (dst.namesFolder && !src.isDirectory()) return hostfs::fail(err::invalidName);
        target = dst.host;
        bool mayReplace = true;
        if (dst.exists && sameFile(src.st, dst.st)) {
            // Renaming to the same name in another case.
            target = writtenName(to, dst.host);
        } else if (!(flags & moveflag::replaceExisting)) {
            if (dst.exists) return hostfs::fail(err::alreadyExists);
            mayReplace = false;
        } else if (dst.exists) {
            if (dst.isDirectory() || src.isDirectory()) return hostfs::fail(err::accessDenied);
            if (hostfs::isReadOnly(dst.host, dst.st)) return hostfs::fail(err::accessDenied);
            // No rename over an open file on Windows of this era, whatever the holder shares.
            if (sharing::pathInUse(dst.host)) return hostfs::fail(err::accessDenied);
        }
        if (!src.isDirectory() && sharing::pathConflicts(src.host, access::del, kShareAll)) {
            return hostfs::fail(err::sharingViolation);
        }
        if (renameFile(src.host, target, mayReplace) != 0) {
            const int error = errno;
            if (error != EXDEV) {
                if (error == ENOENT) return hostfs::fail(err::pathNotFound);
                return hostfs::fail(error, target);
            }
        } else {
            if (flags & moveflag::writeThrough) {
                syncPath(target);
                syncPath(target.parent_path());
                syncPath(src.host.parent_path());
            }
            setLastError(err::success);
            return true;
        }
    }
    // Another file system: only a file, and only when the caller allows a copy.
    if (!(flags & moveflag::copyAllowed) || src.isDirectory()) return hostfs::fail(err::notSameDevice);
    if (!copyFile(from, to, !(flags & moveflag::replaceExisting))) return false;
    if (flags & moveflag::writeThrough) syncPath(target);
    setFileAttributes(from, attr::normal);
    return deleteFile(from);
}

bool deleteFile(std::wstring_view path) {
    sharing::Guard guard;
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (t.isDirectory()) return hostfs::fail(err::accessDenied);
    if (t.namesFolder) return hostfs::fail(err::invalidName);
    if (!t.exists) return hostfs::fail(hostfs::missingError(t.host));
    if (hostfs::isReadOnly(t.host, t.st)) return hostfs::fail(err::accessDenied);
    if (sharing::pathConflicts(t.host, access::del, kShareAll)) return hostfs::fail(err::sharingViolation);
    if (::unlink(t.host.c_str()) != 0) return hostfs::fail(errno, t.host);
    setLastError(err::success);
    return true;
}

bool createDirectory(std::wstring_view path) {
    std::wstring full;
    if (!fullPath(path, full)) return false;
    // A folder must leave room for an 8.3 name below it: MAX_PATH less 12.
    if (!isLongPathForm(path) && removeBackslash(full).size() >= kMaxPath - 12) {
        return hostfs::fail(err::filenameTooLong);
    }
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (t.exists) return hostfs::fail(err::alreadyExists);
    const fs::path target = writtenName(path, t.host);
    if (::mkdir(target.c_str(), 0777) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return hostfs::fail(err::pathNotFound);
        return hostfs::fail(errno, target);
    }
    setLastError(err::success);
    return true;
}

bool removeDirectory(std::wstring_view path) {
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (!t.exists) return hostfs::fail(hostfs::missingError(t.host));
    if (!t.isDirectory()) return hostfs::fail(err::directory);
    if (isDriveRoot(path)) return hostfs::fail(err::accessDenied);
    if (hostfs::attributesOf(t.host, t.st) & attr::readOnly) return hostfs::fail(err::accessDenied);
    // A folder that is some process's current directory is in use, as on Windows.
    std::wstring full;
    if (fullPath(path, full)) {
        full = removeBackslash(full);
        const std::wstring cwd = currentDirectory();
        if (iequals(cwd, full) || (cwd.size() > full.size() && cwd[full.size()] == L'\\' &&
                                   iequals(std::wstring_view(cwd).substr(0, full.size()), full))) {
            return hostfs::fail(err::sharingViolation);
        }
    }
    if (::rmdir(t.host.c_str()) != 0) {
        if (errno == ENOTEMPTY || errno == EEXIST) return hostfs::fail(err::dirNotEmpty);
        return hostfs::fail(errno, t.host);
    }
    setLastError(err::success);
    return true;
}

bool getFileTimes(std::wstring_view path, FileTimes& times) {
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (!t.exists) return hostfs::fail(hostfs::missingError(t.host));
    times.creation = hostfs::creationTimeOf(t.host, t.st);
    times.lastAccess = hostfs::fromTimespec(t.st.st_atim);
    times.lastWrite = hostfs::fromTimespec(t.st.st_mtim);
    return true;
}

bool setFileTimes(std::wstring_view path, const FileTime* creation, const FileTime* lastAccess,
                  const FileTime* lastWrite) {
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (!t.exists) return hostfs::fail(hostfs::missingError(t.host));
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = times[0];
    if (lastAccess) times[0] = hostfs::toTimespec(*lastAccess);
    if (lastWrite) times[1] = hostfs::toTimespec(*lastWrite);
    if ((lastAccess || lastWrite) && ::utimensat(AT_FDCWD, t.host.c_str(), times, 0) != 0) {
        return hostfs::fail(errno, t.host);
    }
    if (creation && !hostfs::storeCreationTime(t.host, *creation)) return hostfs::fail(errno, t.host);
    return true;
}

bool getFileSize(std::wstring_view path, std::uint64_t& size) {
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (!t.exists) return hostfs::fail(hostfs::missingError(t.host));
    size = t.isDirectory() ? 0 : static_cast<std::uint64_t>(t.st.st_size);
    return true;
}

bool getSizeAndLastWrite(std::wstring_view path, std::uint64_t& size, FileTime& lastWrite) {
    hostfs::Target t;
    if (!hostfs::resolve(path, t)) return false;
    if (!t.exists) return hostfs::fail(hostfs::missingError(t.host));
    size = t.isDirectory() ? 0 : static_cast<std::uint64_t>(t.st.st_size);
    lastWrite = hostfs::fromTimespec(t.st.st_mtim);
    return true;
}

}  // namespace win
