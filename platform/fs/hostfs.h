// Internals of the file layer: host file state behind the Win32 view (attributes, errors).
#pragma once
#include <sys/stat.h>

#include <filesystem>
#include <string_view>

#include "platform/win.h"

namespace win::hostfs {

// Host path of a Windows path plus its stat; `exists` false when nothing is there. False (with the
// last error set) when the path cannot name a file as Windows parses it: unmappable, 3 for a full path
// of MAX_PATH characters or more without "\\?\", 123 for a device name (CON, nul.txt, ...) or for an
// existing file named with a trailing separator ("a.txt\").
struct Target {
    std::filesystem::path host;
    struct stat st {};
    bool exists = false;
    bool namesFolder = false;  // written with a trailing separator: only a folder can answer to it
    bool isDirectory() const { return exists && S_ISDIR(st.st_mode); }
};
bool resolve(std::wstring_view path, Target& out);

// Host path of a full Windows path (as fullPath gives it) with the stat of what is there, found with
// as few host calls as the case of the names allows (`withStat` false: `st` and `exists` are left
// unset unless the first call gave them). False with the last error when it cannot map.
struct Lookup {
    std::filesystem::path host;
    struct stat st {};
    bool exists = false;
};
bool hostOfFullPath(const std::wstring& full, Lookup& out, bool withStat = true);

// 2 when the folder of `host` exists, else 3: what Windows says of a missing file.
DWORD missingError(const std::filesystem::path& host);
// Win32 error for an errno raised on `host`.
DWORD fromErrno(int error, const std::filesystem::path& host);
// Sets the last error from errno and returns false.
bool fail(int error, const std::filesystem::path& host);
bool fail(DWORD error);

// Read-only/hidden/system/archive live in an extended attribute; read-only is mirrored in the
// host's write permission so host tools see it too.
DWORD attributesOf(const std::filesystem::path& host, const struct stat& st);
bool storeAttributes(const std::filesystem::path& host, bool directory, DWORD attributes);
bool isReadOnly(const std::filesystem::path& host, const struct stat& st);

// Creation time kept beside the host's own times (Linux cannot set a birth time).
FileTime creationTimeOf(const std::filesystem::path& host, const struct stat& st);
bool storeCreationTime(const std::filesystem::path& host, FileTime time);
bool storeCreationTime(int fd, FileTime time);

FileTime fromTimespec(const struct timespec& ts);
struct timespec toTimespec(FileTime time);

}  // namespace win::hostfs
