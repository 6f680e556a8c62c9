// Windows paths on the machine: full-path resolution as Windows does it, and mapping to host paths.
#pragma once
#include <filesystem>
#include <string>
#include <string_view>

namespace win {

constexpr std::size_t kMaxPath = 260;
constexpr std::size_t kMaxLongPath = 32767;

// GetFullPathNameW: drive-absolute result with '\' separators; '/' accepted; '.' and '..' resolved
// ('..' at the root stays at the root); trailing dots and blanks of each name dropped; relative paths
// against the current directory ("\x" against its drive). A "\\?\C:\..." path is taken literally
// (no '/', '.', '..' or trimming; the prefix dropped from the result). False with last error: 161 for a
// UNC or device path, 123 for an empty or invalid name, 206 for a path over 32767 characters.
bool fullPath(std::wstring_view path, std::wstring& out);

// Whether a path carries the "\\?\" prefix that turns off Windows' path parsing: no MAX_PATH limit and
// no device names.
bool isLongPathForm(std::wstring_view path);

// CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9 in any case, with or without an extension ("nul.txt",
// "Con .log"): names Windows gives to devices rather than files.
bool isReservedDeviceName(std::wstring_view name);

// Host path of a Windows path: components matched case-insensitively against what exists, the rest
// kept as written. Never leaves the drive folder. False with the last error of fullPath.
bool hostPath(std::wstring_view path, std::filesystem::path& out);

// A full path ("C:\...", as written) with each existing name spelt as it is on disk and the rest
// kept; false when the path is not already in full form. One lookup when the case already matches.
bool pathInDiskCase(std::wstring_view path, std::wstring& out);

// Windows path ("C:\...") of a host path inside one of the machine's drive folders; empty otherwise.
std::wstring windowsPath(const std::filesystem::path& host);

// The process's current directory, kept as a Windows path. Initially MENDWELL_CWD when set (children
// inherit it), else "C:\".
std::wstring currentDirectory();
// False with 2/3 when missing, 267 when it is a file.
bool setCurrentDirectory(std::wstring_view path);

// Small helpers on Windows path text (no file system access).
std::wstring fileNamePart(std::wstring_view path);     // text after the last '\' or '/'
std::wstring parentPart(std::wstring_view path);       // text before the last '\' or '/' ("" if none)
std::wstring removeBackslash(std::wstring_view path);  // PathRemoveBackslashW (keeps "C:\")
std::wstring combine(std::wstring_view folder, std::wstring_view name);  // one '\' between

}  // namespace win
