// Shell folders, environment, locale and code pages, disk space, the administrator check and the
// parent console.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win.h"

namespace win {

namespace csidl {
constexpr int desktop = 0x00;
constexpr int programs = 0x02;
constexpr int personal = 0x05;
constexpr int startup = 0x07;
constexpr int startMenu = 0x0b;
constexpr int fonts = 0x14;
constexpr int commonStartMenu = 0x16;
constexpr int commonPrograms = 0x17;
constexpr int commonStartup = 0x18;
constexpr int appData = 0x1a;
constexpr int localAppData = 0x1c;
constexpr int commonAppData = 0x23;
constexpr int windows = 0x24;
constexpr int system = 0x25;
constexpr int programFiles = 0x26;
constexpr int profile = 0x28;
constexpr int programFilesCommon = 0x2b;
constexpr int commonDocuments = 0x2e;
}  // namespace csidl

// SHGetSpecialFolderPathW without creation: the machine profile's folder or the Windows default
// (no trailing backslash). False for an unknown CSIDL.
bool shellFolder(int csidl, std::wstring& path);
std::wstring systemDirectory();   // GetSystemDirectoryW, e.g. C:\Windows\System32
std::wstring windowsDirectory();  // GetWindowsDirectoryW
std::wstring colorDirectory();    // GetColorDirectoryW: <system>\spool\drivers\color
// InstallColorProfileW: copies the profile into the colour directory when it lies elsewhere. False with
// 2 when it is missing.
bool installColorProfile(std::wstring_view profile);
// UninstallColorProfileW: with `deleteFile`, the profile file goes too. False with 2 when it is missing.
bool uninstallColorProfile(std::wstring_view profile, bool deleteFile);

// The Windows view of the environment. TEMP, TMP, APPDATA, LOCALAPPDATA, USERPROFILE, USERNAME,
// SystemRoot, windir, SystemDrive, ProgramFiles, CommonProgramFiles, ProgramData, ALLUSERSPROFILE,
// COMPUTERNAME get Windows defaults from the machine when unset or (for folders) not a Windows path.
std::optional<std::wstring> getEnv(std::wstring_view name);
bool setEnv(std::wstring_view name, std::wstring_view value);
bool unsetEnv(std::wstring_view name);

std::uint16_t userDefaultLangId();
std::uint16_t systemDefaultLangId();
unsigned ansiCodePage();
unsigned oemCodePage();

// GetDiskFreeSpaceExW on a root such as "C:\": the profile's figure when set, else the host's.
bool diskFreeSpace(std::wstring_view root, std::uint64_t& freeToCaller, std::uint64_t* totalBytes = nullptr,
                   std::uint64_t* totalFree = nullptr);

// Membership of the local Administrators group (from the machine profile).
bool isAdministrator();
// A machine made for tests (machine create --test): test-only hooks may be honoured on it.
bool isTestMachine();

// Text to the console of the parent process (the inherited standard output), unbuffered.
// Nothing happens when there is none, or when nobody reads it any more (a closed pipe).
void printToParentConsole(std::wstring_view text);
// The same on the inherited standard error.
void printToStandardError(std::wstring_view text);

void sleepMs(DWORD milliseconds);
std::uint64_t tickCount();  // GetTickCount64

}  // namespace win
