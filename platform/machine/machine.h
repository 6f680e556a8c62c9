// The emulated Windows machine: a folder holding drive folders (drive_c/ is C:), the profile
// machine.ini and the store (store.db: registry and service table).
#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <string>

namespace win {

struct MachineProfile {
    std::wstring userName = L"User";
    bool administrator = true;
    std::uint16_t userLanguage = 0x0409;    // GetUserDefaultLangID
    std::uint16_t systemLanguage = 0x0409;  // GetSystemDefaultLangID
    unsigned ansiCodePage = 1252;
    unsigned oemCodePage = 437;
    std::wstring windowsDirectory = L"C:\\Windows";
    std::map<wchar_t, std::uint64_t> freeBytes;  // drive letter (upper case) -> free bytes to report
    std::map<int, std::wstring> folders;         // CSIDL number -> folder, overriding the defaults
    bool forTests = false;  // made for tests: programs may honour their test-only hooks here
};

class Machine {
  public:
    // Makes a new machine folder: drive_c with the Windows folder tree of the profile's shell folders,
    // machine.ini and an initialised store. False with a message naming the path on failure.
    static bool create(const std::filesystem::path& root, const MachineProfile& profile, std::string& error);

    // Opens an existing machine folder. False with a message naming the path when the folder, its
    // profile or its store is missing, unreadable or not what it should be.
    static bool open(const std::filesystem::path& root, Machine& out, std::string& error);

    // The machine of this process: the folder named by MENDWELL_MACHINE, else a default machine under
    // the user's data folder (created on first use). When it cannot be opened, ok() is false, error()
    // says why, and every file, registry and service call fails with access denied.
    static Machine& current();

    // The folder of the machine that a process whose environment `variable` reads is on: the one
    // MENDWELL_MACHINE names (as written: relative to that process's folder), else the default machine
    // under its user's data folder. `variable` answers "" for a variable that is not set.
    static std::filesystem::path folderFor(const std::function<std::string(const char*)>& variable);

    // Makes `root` the current machine of this process and sets MENDWELL_MACHINE so children share it.
    static bool select(const std::filesystem::path& root, std::string& error);

    // Counts the machine changes of this process (every select), so that modules which cache
    // something of the machine (an open store) notice the switch.
    static std::uint64_t generation();

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::filesystem::path& root() const { return root_; }
    const MachineProfile& profile() const { return profile_; }
    std::filesystem::path storePath() const { return root_ / "store.db"; }
    std::filesystem::path profilePath() const { return root_ / "machine.ini"; }
    // Host folder of a drive letter (drive_c for 'C'); it need not exist.
    std::filesystem::path driveFolder(wchar_t letter) const;

    // Writes the profile back to machine.ini (used by tools/machine).
    bool saveProfile(std::string& error) const;

  private:
    bool ok_ = false;
    std::string error_;
    std::filesystem::path root_;
    MachineProfile profile_;
};

}  // namespace win
