#include <gtest/gtest.h>

#include "platform/system/system.h"
#include "tests/platform/system/env_guard.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;

std::wstring folder(int csidl) {
    std::wstring path;
    EXPECT_TRUE(win::shellFolder(csidl, path)) << csidl;
    return path;
}

const std::vector<std::string> kMachineVariables = {"TEMP",
                                                    "TMP",
                                                    "APPDATA",
                                                    "LOCALAPPDATA",
                                                    "USERPROFILE",
                                                    "USERNAME",
                                                    "SystemRoot",
                                                    "windir",
                                                    "SystemDrive",
                                                    "ProgramFiles",
                                                    "CommonProgramFiles",
                                                    "ProgramData",
                                                    "ALLUSERSPROFILE",
                                                    "COMPUTERNAME",
                                                    "MW_TEST_VAR",
                                                    "mw_test_var"};

TEST(Environment, MachineDefaultsWhenTheHostHasNone) {
    win::MachineProfile profile;
    profile.userName = L"Ada";
    TestMachine machine(profile);
    EnvGuard guard(kMachineVariables);
    for (const auto& n : kMachineVariables) ::unsetenv(n.c_str());
    ::setenv("TEMP", "/tmp", 1);  // a host folder means nothing on the machine

    const std::wstring temp = folder(win::csidl::localAppData) + L"\\Temp";
    EXPECT_EQ(win::getEnv(L"TEMP"), temp);
    EXPECT_EQ(win::getEnv(L"TMP"), temp);
    EXPECT_TRUE(std::filesystem::is_directory(machine.host(temp)));  // Windows always has it
    EXPECT_EQ(win::getEnv(L"APPDATA"), folder(win::csidl::appData));
    EXPECT_EQ(win::getEnv(L"USERPROFILE"), folder(win::csidl::profile));
    EXPECT_EQ(win::getEnv(L"USERNAME"), L"Ada");
    EXPECT_EQ(win::getEnv(L"SystemRoot"), win::windowsDirectory());
    EXPECT_EQ(win::getEnv(L"WINDIR"), win::windowsDirectory());
    EXPECT_EQ(win::getEnv(L"SystemDrive"), L"C:");
    EXPECT_EQ(win::getEnv(L"ProgramFiles"), folder(win::csidl::programFiles));
    EXPECT_EQ(win::getEnv(L"CommonProgramFiles"), folder(win::csidl::programFilesCommon));
    EXPECT_EQ(win::getEnv(L"ALLUSERSPROFILE"), folder(win::csidl::commonAppData));
    EXPECT_EQ(win::getEnv(L"COMPUTERNAME"), L"MENDWELL");
    EXPECT_FALSE(win::getEnv(L"MW_TEST_VAR"));
    EXPECT_EQ(win::lastError(), 203u);
}

TEST(Environment, HostValuesWinAndNamesIgnoreCase) {
    TestMachine machine;
    EnvGuard guard(kMachineVariables);
    for (const auto& n : kMachineVariables) ::unsetenv(n.c_str());

    ::setenv("TEMP", "D:\\Scratch", 1);
    EXPECT_EQ(win::getEnv(L"temp"), L"D:\\Scratch");
    ASSERT_TRUE(win::setEnv(L"COMPUTERNAME", L"BOX"));
    EXPECT_EQ(win::getEnv(L"ComputerName"), L"BOX");

    ASSERT_TRUE(win::setEnv(L"mw_test_var", L"één"));
    ASSERT_TRUE(win::setEnv(L"MW_TEST_VAR", L"two"));  // replaces, does not add a second spelling
    EXPECT_STREQ(std::getenv("mw_test_var"), "two");
    EXPECT_EQ(std::getenv("MW_TEST_VAR"), nullptr);
    EXPECT_EQ(win::getEnv(L"Mw_Test_Var"), L"two");
    ASSERT_TRUE(win::unsetEnv(L"MW_TEST_VAR"));
    EXPECT_FALSE(win::getEnv(L"mw_test_var"));
    EXPECT_FALSE(win::setEnv(L"A=B", L"x"));
    EXPECT_FALSE(win::setEnv(L"", L"x"));
}

}  // namespace
