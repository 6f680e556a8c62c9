// File operations with Win32 meaning: results plus the thread-local last error (win.h).
// Share modes are honoured among every process that uses this layer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win.h"

namespace win {

namespace attr {
constexpr DWORD readOnly = 0x1;
constexpr DWORD hidden = 0x2;
constexpr DWORD system = 0x4;
constexpr DWORD directory = 0x10;
constexpr DWORD archive = 0x20;
constexpr DWORD normal = 0x80;
constexpr DWORD invalid = 0xFFFFFFFF;
}  // namespace attr

// Attributes of a file or folder; attr::invalid with 2 or 3 when missing.
DWORD getFileAttributes(std::wstring_view path);
// Sets read-only/hidden/system/archive; attr::normal alone clears them.
bool setFileAttributes(std::wstring_view path, DWORD attributes);
bool pathExists(std::wstring_view path);  // file or folder (PathFileExistsW)
bool isDirectory(std::wstring_view path);

// CopyFileW: keeps the last-write time and attributes and sets archive. 80 onto an existing file with
// failIfExists, 5 onto a read-only file and onto a hidden or system one (unless the source has those
// bits too), 3 into a missing folder. 32 when the source is open without read sharing, or the target is
// open without write sharing (the sharing rules are in docs/machine.md).
bool copyFile(std::wstring_view from, std::wstring_view to, bool failIfExists);

namespace moveflag {
constexpr DWORD replaceExisting = 0x1;
constexpr DWORD copyAllowed = 0x2;
constexpr DWORD delayUntilReboot = 0x4;
constexpr DWORD writeThrough = 0x8;
}  // namespace moveflag
// MoveFileExW: 183 onto an existing file without replaceExisting, 5 replacing a read-only file or a
// file that any process holds open (whatever it shares), 32 moving a file open without delete sharing.
bool moveFile(std::wstring_view from, std::wstring_view to, DWORD flags);

bool deleteFile(std::wstring_view path);  // 5 on a read-only file or a folder, 32 when open
// 183 when it exists, 3 when the parent is missing, 206 for a full path of 248 characters or more
// (without "\\?\": room must be left for an 8.3 name), 123 for a device name.
bool createDirectory(std::wstring_view path);
bool removeDirectory(std::wstring_view path);  // 145 when not empty, 267 on a file

struct FileTimes {
    FileTime creation = 0;
    FileTime lastAccess = 0;
    FileTime lastWrite = 0;
};
bool getFileTimes(std::wstring_view path, FileTimes& times);
// A null pointer keeps that time.
bool setFileTimes(std::wstring_view path, const FileTime* creation, const FileTime* lastAccess,
                  const FileTime* lastWrite);
bool getFileSize(std::wstring_view path, std::uint64_t& size);
// Size and last-write time from one look at the file (what tells a changed file from the same one).
bool getSizeAndLastWrite(std::wstring_view path, std::uint64_t& size, FileTime& lastWrite);
FileTime currentFileTime();
// Local time <-> FILETIME, as FileTimeToLocalFileTime / LocalFileTimeToFileTime.
FileTime localToFileTime(FileTime local);
FileTime fileTimeToLocal(FileTime utc);
// DOS date and time (local) to a local FILETIME, as DosDateTimeToFileTime.
bool dosDateTimeToFileTime(std::uint16_t dosDate, std::uint16_t dosTime, FileTime& out);

struct FindData {
    std::wstring name;  // file name only
    DWORD attributes = 0;
    std::uint64_t size = 0;
    FileTimes times;
};

// FindFirstFileW / FindNextFileW over one folder; the pattern's last part may hold * and ?.
// "." and ".." are reported for folders other than a drive root, as Windows does.
class FindFile {
  public:
    FindFile();
    ~FindFile();
    FindFile(const FindFile&) = delete;
    FindFile& operator=(const FindFile&) = delete;
    bool first(std::wstring_view pattern, FindData& data);  // false with 2 or 3 when nothing matches
    bool next(FindData& data);                              // false with 18 at the end
    void close();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

namespace access {
constexpr DWORD read = 0x80000000;   // GENERIC_READ
constexpr DWORD write = 0x40000000;  // GENERIC_WRITE
constexpr DWORD del = 0x00010000;    // DELETE
}  // namespace access
namespace share {
constexpr DWORD none = 0;
constexpr DWORD read = 1;
constexpr DWORD write = 2;
constexpr DWORD del = 4;
}  // namespace share
enum class Disposition {
    createNew = 1,
    createAlways = 2,
    openExisting = 3,
    openAlways = 4,
    truncateExisting = 5
};

// CreateFileW on a file. Closing is automatic.
class File {
  public:
    File();
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // 32 when the access or sharing conflicts with an open handle of any process; 5 for write access to
    // a read-only file or for a folder, and for createAlways on a hidden or system file unless
    // `attributes` carries those bits too; 80 for createNew on an existing file; 123 for a file name
    // with a trailing separator. A file created or overwritten gets `attributes` plus archive.
    bool open(std::wstring_view path, DWORD desiredAccess, DWORD shareMode, Disposition disposition,
              DWORD attributes = attr::normal);
    bool isOpen() const;
    bool read(void* buffer, std::size_t size, std::size_t& bytesRead);
    // Reads at `offset` and leaves the file position as it was: one host call where seek and read take
    // two.
    bool readAt(std::uint64_t offset, void* buffer, std::size_t size, std::size_t& bytesRead);
    bool write(const void* data, std::size_t size);  // writes everything or fails
    bool seek(std::uint64_t offset);
    bool seekEnd();
    bool size(std::uint64_t& size) const;
    bool truncate();  // SetEndOfFile at the current position
    bool flush();
    // SetFileTime on the handle; a null pointer keeps that time.
    bool setTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite);
    void close();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Whole-file helpers (open for reading with read sharing / create always).
bool readFile(std::wstring_view path, std::string& bytes);
bool writeFile(std::wstring_view path, std::string_view bytes);

}  // namespace win
