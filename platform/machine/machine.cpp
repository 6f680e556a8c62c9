#include "platform/machine/machine.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/machine/folders.h"
#include "platform/machine/profile.h"
#include "platform/machine/store.h"
#include "platform/system/environment_lock.h"
#include "platform/text/text.h"

namespace win {

namespace fs = std::filesystem;

namespace {

std::mutex g_mutex;
// Every machine this process has used stays alive: callers may still hold a reference to the one
// they got from current() when another thread selects a new one.
std::vector<std::unique_ptr<Machine>> g_machines;
Machine* g_current = nullptr;
std::atomic<std::uint64_t> g_generation{0};

// Host folder of a drive path such as "C:\Users\User" under `root`; false when it is not one.
bool hostFolder(const fs::path& root, const std::wstring& windowsPath, fs::path& out) {
    if (windowsPath.size() < 2 || windowsPath[1] != L':') return false;
    const wchar_t letter = toLower(std::wstring(1, windowsPath[0]))[0];
    if (letter < L'a' || letter > L'z') return false;
    out = root / (std::string("drive_") + static_cast<char>(letter));
    std::size_t i = 2;
    while (i < windowsPath.size()) {
        std::size_t end = windowsPath.find_first_of(L"\\/", i);
        if (end == std::wstring::npos) end = windowsPath.size();
        const std::wstring part = windowsPath.substr(i, end - i);
        i = end + 1;
        if (part.empty() || part == L".") continue;
        if (part == L"..") return false;
        out /= toUtf8(part);
    }
    return true;
}

fs::path defaultMachineFolder(const std::function<std::string(const char*)>& variable) {
    if (const std::string data = variable("XDG_DATA_HOME"); !data.empty())
        return fs::path(data) / "mendwell" / "machine";
    if (const std::string home = variable("HOME"); !home.empty())
        return fs::path(home) / ".local" / "share" / "mendwell" / "machine";
    return fs::temp_directory_path() / "mendwell-machine";
}

std::string ownVariable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::unique_ptr<Machine> openOrFail(const fs::path& root, bool createWhenMissing) {
    auto machine = std::make_unique<Machine>();
    std::string error;
    std::error_code ec;
    // A failed creation shows up in open's message, which names the folder.
    if (createWhenMissing && !fs::exists(root / "machine.ini", ec))
        Machine::create(root, MachineProfile{}, error);
    Machine::open(root, *machine, error);
    return machine;
}

}  // namespace

bool Machine::create(const fs::path& root, const MachineProfile& profile, std::string& error) {
    std::error_code ec;
    if (root.empty()) {
        error = "no machine folder given";
        return false;
    }
    fs::create_directories(root, ec);
    if (ec || !fs::is_directory(root, ec)) {
        error = "cannot create the machine folder " + root.string() + (ec ? ": " + ec.message() : "");
        return false;
    }
    if (fs::exists(root / "machine.ini", ec)) {
        error = root.string() + " already holds a machine";
        return false;
    }

    std::vector<std::wstring> folders;
    std::size_t count = 0;
    const int* ids = knownFolders(count);
    for (std::size_t i = 0; i < count; ++i) {
        std::wstring folder;
        if (machineFolder(profile, ids[i], folder)) folders.push_back(folder);
    }
    std::wstring localAppData, system;
    machineFolder(profile, 0x1c, localAppData);
    machineFolder(profile, 0x25, system);
    folders.push_back(localAppData + L"\\Temp");
    folders.push_back(system + L"\\spool\\drivers\\color");
    fs::create_directories(root / "drive_c", ec);
    if (ec) {
        error = "cannot create " + (root / "drive_c").string() + ": " + ec.message();
        return false;
    }
    for (const auto& folder : folders) {
        fs::path host;
        if (!hostFolder(root, folder, host)) {
            error = "machine profile folder is not a drive path: " + toUtf8(folder);
            return false;
        }
        fs::create_directories(host, ec);
        if (ec) {
            error = "cannot create " + host.string() + ": " + ec.message();
            return false;
        }
    }
    if (!writeProfile(root / "machine.ini", profile, error)) return false;
    return store::initialise(root / "store.db", error);
}

bool Machine::open(const fs::path& root, Machine& out, std::string& error) {
    out = Machine();
    out.root_ = root;
    auto fail = [&](std::string message) {
        out.ok_ = false;
        out.error_ = message;
        error = std::move(message);
        return false;
    };
    std::error_code ec;
    if (root.empty()) return fail("no machine folder given");
    const auto status = fs::status(root, ec);
    if (!fs::exists(status)) return fail("machine folder " + root.string() + " does not exist");
    if (!fs::is_directory(status)) return fail("machine folder " + root.string() + " is not a folder");
    MachineProfile profile;
    std::string why;
    if (!readProfile(out.profilePath(), profile, why)) return fail(why);
    if (!fs::is_directory(out.driveFolder(L'C'), ec)) {
        return fail("machine folder " + root.string() + " has no drive C: (" +
                    out.driveFolder(L'C').string() + ")");
    }
    if (!store::check(out.storePath(), why)) return fail(why);
    out.profile_ = std::move(profile);
    out.ok_ = true;
    out.error_.clear();
    return true;
}

Machine& Machine::current() {
    std::lock_guard lock(g_mutex);
    if (!g_current) {
        std::string named;
        fs::path fallback;
        {
            std::lock_guard envLock(environmentMutex());
            if (const char* value = std::getenv("MENDWELL_MACHINE")) named = value;
            if (named.empty()) fallback = defaultMachineFolder(ownVariable);
        }
        auto machine = !named.empty() ? openOrFail(fs::path(named), false) : openOrFail(fallback, true);
        g_current = machine.get();
        g_machines.push_back(std::move(machine));
    }
    return *g_current;
}

fs::path Machine::folderFor(const std::function<std::string(const char*)>& variable) {
    const std::string named = variable("MENDWELL_MACHINE");
    return named.empty() ? defaultMachineFolder(variable) : fs::path(named);
}

bool Machine::select(const fs::path& root, std::string& error) {
    auto machine = std::make_unique<Machine>();
    if (!open(root, *machine, error)) return false;
    std::error_code ec;
    const fs::path absolute = fs::absolute(root, ec);
    machine->root_ = ec ? root : absolute;
    std::lock_guard lock(g_mutex);
    std::lock_guard envLock(environmentMutex());
    if (::setenv("MENDWELL_MACHINE", machine->root_.c_str(), 1) != 0) {
        error = "cannot set MENDWELL_MACHINE";
        return false;
    }
    g_current = machine.get();
    g_machines.push_back(std::move(machine));
    ++g_generation;
    return true;
}

std::uint64_t Machine::generation() {
    return g_generation.load();
}

fs::path Machine::driveFolder(wchar_t letter) const {
    char c = static_cast<char>(letter);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return root_ / (std::string("drive_") + c);
}

bool Machine::saveProfile(std::string& error) const {
    return writeProfile(profilePath(), profile_, error);
}

}  // namespace win
