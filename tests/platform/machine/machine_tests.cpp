#include "platform/machine/machine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/machine/folders.h"
#include "platform/machine/profile.h"
#include "platform/system/system.h"
#include "tests/support/testmachine.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::TestMachine;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(MachineFolders, WindowsDefaultsFollowTheUserAndOverrides) {
    win::MachineProfile p;
    p.userName = L"Anna";
    std::wstring f;
    ASSERT_TRUE(win::machineFolder(p, win::csidl::appData, f));
    EXPECT_EQ(f, L"C:\\Users\\Anna\\AppData\\Roaming");
    ASSERT_TRUE(win::machineFolder(p, win::csidl::startup, f));
    EXPECT_EQ(f, L"C:\\Users\\Anna\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup");
    ASSERT_TRUE(win::machineFolder(p, win::csidl::commonStartup, f));
    EXPECT_EQ(f, L"C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup");
    ASSERT_TRUE(win::machineFolder(p, win::csidl::programFilesCommon, f));
    EXPECT_EQ(f, L"C:\\Program Files\\Common Files");

    // An override moves the folders defined under it; the Windows folder moves System32.
    p.folders[win::csidl::appData] = L"D:\\Roam\\";
    p.windowsDirectory = L"C:\\WINNT";
    ASSERT_TRUE(win::machineFolder(p, win::csidl::programs, f));
    EXPECT_EQ(f, L"D:\\Roam\\Microsoft\\Windows\\Start Menu\\Programs");
    ASSERT_TRUE(win::machineFolder(p, win::csidl::system, f));
    EXPECT_EQ(f, L"C:\\WINNT\\System32");
    EXPECT_FALSE(win::machineFolder(p, 0x3f, f));
}

TEST(MachineProfile, SavedProfileReadsBackTheSame) {
    win::MachineProfile p;
    p.userName = L"Jürgen";
    p.administrator = false;
    p.userLanguage = 0x0407;
    p.systemLanguage = 0x0411;
    p.ansiCodePage = 932;
    p.oemCodePage = 850;
    p.freeBytes[L'C'] = 123456789;
    p.folders[win::csidl::personal] = L"C:\\Docs";
    TempDir dir;
    std::string error;
    ASSERT_TRUE(win::Machine::create(dir.path() / "m", p, error)) << error;
    win::Machine m;
    ASSERT_TRUE(win::Machine::open(dir.path() / "m", m, error)) << error;
    EXPECT_TRUE(m.ok());
    EXPECT_EQ(m.profile().userName, L"Jürgen");
    EXPECT_FALSE(m.profile().administrator);
    EXPECT_EQ(m.profile().userLanguage, 0x0407);
    EXPECT_EQ(m.profile().systemLanguage, 0x0411);
    EXPECT_EQ(m.profile().ansiCodePage, 932u);
    EXPECT_EQ(m.profile().oemCodePage, 850u);
    EXPECT_EQ(m.profile().freeBytes.at(L'C'), 123456789u);
    EXPECT_EQ(m.profile().folders.at(win::csidl::personal), L"C:\\Docs");
    // The shell folders exist, with the temp and colour folders.
    EXPECT_TRUE(fs::is_directory(dir.path() / "m/drive_c/Docs"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "m/drive_c/Users/Jürgen/AppData/Local/Temp"));
    EXPECT_TRUE(fs::is_directory(dir.path() / "m/drive_c/Windows/System32/spool/drivers/color"));
    EXPECT_TRUE(
        fs::is_directory(dir.path() / "m/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Startup"));
    // Creating over an existing machine is refused.
    EXPECT_FALSE(win::Machine::create(dir.path() / "m", p, error));
}

TEST(MachineProfile, BadLinesAreReportedWithThePath) {
    win::MachineProfile p;
    std::string error;
    EXPECT_FALSE(win::parseProfile("[machine]\nadministrator=perhaps\n", "/x/machine.ini", p, error));
    EXPECT_TRUE(contains(error, "/x/machine.ini")) << error;
    EXPECT_TRUE(contains(error, "line 2")) << error;
    EXPECT_FALSE(win::parseProfile("[free]\nC=lots\n", "m.ini", p, error));
    EXPECT_TRUE(win::parseProfile("; comment\r\n[machine]\r\nuser = Bob\r\nuserLanguage=0C0A\r\n", "m.ini", p,
                                  error));
    EXPECT_EQ(p.userName, L"Bob");
    EXPECT_EQ(p.userLanguage, 0x0C0A);
}

TEST(MachineOpen, BrokenMachinesGiveClearErrorsNamingThePath) {
    TempDir dir;
    std::string error;
    win::Machine m;
    const fs::path missing = dir.path() / "nowhere";
    EXPECT_FALSE(win::Machine::open(missing, m, error));
    EXPECT_FALSE(m.ok());
    EXPECT_TRUE(contains(error, missing.string())) << error;
    EXPECT_EQ(m.error(), error);

    const fs::path root = dir.path() / "m";
    ASSERT_TRUE(win::Machine::create(root, {}, error)) << error;
    testing_support::writeHostFile(root / "store.db",
                                   "this is not a database, only some text that goes on.....");
    EXPECT_FALSE(win::Machine::open(root, m, error));
    EXPECT_TRUE(contains(error, (root / "store.db").string())) << error;

    fs::remove(root / "machine.ini");
    EXPECT_FALSE(win::Machine::open(root, m, error));
    EXPECT_TRUE(contains(error, (root / "machine.ini").string())) << error;
    EXPECT_FALSE(win::Machine::select(root, error));
}

TEST(MachineSelect, SelectSwitchesTheCurrentMachineForAllThreads) {
    TestMachine first;
    const std::uint64_t before = win::Machine::generation();
    TestMachine second;
    EXPECT_GT(win::Machine::generation(), before);
    EXPECT_EQ(std::string(std::getenv("MENDWELL_MACHINE")), second.root().string());
    std::vector<const win::Machine*> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        threads.emplace_back([&seen, i] { seen[i] = &win::Machine::current(); });
    }
    for (auto& t : threads) t.join();
    for (const auto* m : seen) {
        ASSERT_EQ(m, &win::Machine::current());
        EXPECT_EQ(m->root(), second.root());
    }
    EXPECT_EQ(win::Machine::current().driveFolder(L'D'), second.root() / "drive_d");
}

}  // namespace
