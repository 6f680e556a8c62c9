#include <gtest/gtest.h>

#include <algorithm>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/system/system.h"
#include "tests/platform/process/probe_support.h"

namespace {

using testing_support::TestMachine;
using win::DWORD;

std::string lineOf(const std::wstring& text) {
    return std::string(text.begin(), text.end()) + "\n";
}

win::ChildOptions captured() {
    win::ChildOptions options;
    options.captureOutput = true;
    return options;
}

TEST(ChildProcess, ChildReadsItsExactCommandLine) {
    TestMachine machine;
    probe::install(machine, L"C:\\Tools\\probe.exe");
    const std::wstring line = L"\"C:\\Tools\\probe.exe\"   cmdline  \"two  blanks\" a\\\"quote\\ end ";
    win::ChildProcess child;
    ASSERT_TRUE(child.start(line, captured())) << win::lastError();
    ASSERT_TRUE(child.wait(20000));
    EXPECT_EQ(child.output(), lineOf(line));

    win::ChildProcess args;
    ASSERT_TRUE(args.start(L"\"C:\\Tools\\probe.exe\"   arguments \"x y\"", captured()));
    ASSERT_TRUE(args.wait(20000));
    EXPECT_EQ(args.output(), "arguments \"x y\"\n");

    // The text is for the child alone: a program it starts by other means does not see it.
    win::ChildProcess grandchildView;
    ASSERT_TRUE(grandchildView.start(L"C:\\Tools\\probe.exe hostenv MENDWELL_COMMAND_LINE", captured()));
    ASSERT_TRUE(grandchildView.wait(20000));
    EXPECT_EQ(grandchildView.output(), "(unset)\n");
}

TEST(ChildProcess, FindsProgramsAsCreateProcessDoes) {
    TestMachine machine;
    probe::install(machine, L"C:\\Program Files\\x.exe");
    // Unquoted path with a blank: "C:\Program.exe" is tried first, then the longer prefix.
    const std::wstring line = L"C:\\Program Files\\x.exe cmdline";
    win::ChildProcess child;
    ASSERT_TRUE(child.start(line, captured())) << win::lastError();
    ASSERT_TRUE(child.wait(20000));
    EXPECT_EQ(child.output(), lineOf(line));

    // A shorter prefix that exists wins, as on Windows; the rest of the path becomes an argument.
    probe::install(machine, L"C:\\Program.exe");
    win::ChildProcess shadowed;
    ASSERT_TRUE(shadowed.start(line, captured()));
    ASSERT_TRUE(shadowed.wait(20000));
    DWORD code = 0;
    ASSERT_TRUE(shadowed.exitCode(code));
    EXPECT_EQ(code, 2u);
    EXPECT_NE(shadowed.output().find("usage: C:\\Program.exe "), std::string::npos) << shadowed.output();
}

TEST(ChildProcess, AddsExeAndSearchesTheSystemFolder) {
    TestMachine machine;
    probe::install(machine, win::systemDirectory() + L"\\Probe.exe");
    win::ChildProcess child;
    ASSERT_TRUE(child.start(L"probe echo found", captured())) << win::lastError();
    ASSERT_TRUE(child.wait(20000));
    EXPECT_EQ(child.output(), "found\n");

    win::ChildProcess missing;
    EXPECT_FALSE(missing.start(L"C:\\Nowhere\\none.exe x"));
    EXPECT_EQ(win::lastError(), 2u);
    EXPECT_FALSE(missing.start(L"\"C:\\Program Files\\none.exe\""));
    EXPECT_EQ(win::lastError(), 2u);
}

TEST(ChildProcess, ExitCodesOutputAndWaiting) {
    TestMachine machine;
    probe::install(machine, L"C:\\probe.exe");
    win::ChildProcess exiting;
    ASSERT_TRUE(exiting.start(L"C:\\probe.exe exit 7"));
    ASSERT_TRUE(exiting.wait());
    DWORD code = 0;
    ASSERT_TRUE(exiting.exitCode(code));
    EXPECT_EQ(code, 7u);

    // More output than a pipe holds: read while waiting, never stuck.
    win::ChildProcess flood;
    ASSERT_TRUE(flood.start(L"C:\\probe.exe flood 1000000", captured()));
    ASSERT_TRUE(flood.wait(60000));
    EXPECT_EQ(flood.output().size(), 1000000u);

    win::ChildProcess both;
    ASSERT_TRUE(both.start(L"C:\\probe.exe stderr on error", captured()));
    ASSERT_TRUE(both.wait(20000));
    EXPECT_EQ(both.output(), "on error\n");

    win::ChildProcess sleeper;
    ASSERT_TRUE(sleeper.start(L"C:\\probe.exe sleep 30"));
    EXPECT_FALSE(sleeper.wait(100));
    EXPECT_EQ(win::lastError(), 258u);
    ASSERT_TRUE(sleeper.exitCode(code));
    EXPECT_EQ(code, 259u);  // still active
    ASSERT_TRUE(sleeper.kill());
    ASSERT_TRUE(sleeper.exitCode(code));
    EXPECT_NE(code, 259u);
}

// A child started to end with its parent is gone once the parent is killed; terminateProcess ends any
// other process of the machine.
TEST(ChildProcess, AChildEndsWithItsParentAndAnyProcessCanBeEnded) {
    TestMachine machine;
    probe::install(machine, L"C:\\probe.exe");
    const auto gone = [](DWORD pid) {
        for (int i = 0; i < 500; ++i) {
            const auto list = win::listProcesses();
            if (std::none_of(list.begin(), list.end(), [&](const win::ProcessEntry& p) { return p.pid == pid; }))
                return true;
            win::sleepMs(10);
        }
        return false;
    };
    win::ChildProcess parent;
    ASSERT_TRUE(parent.start(L"C:\\probe.exe child 60", captured()));
    for (int i = 0; i < 200 && parent.output().find('\n') == std::string::npos; ++i) parent.wait(50);
    const DWORD grandchild = static_cast<DWORD>(std::atoi(parent.output().c_str()));
    ASSERT_GT(grandchild, 0u) << parent.output();
    const auto list = win::listProcesses();
    EXPECT_TRUE(std::any_of(list.begin(), list.end(), [&](const win::ProcessEntry& p) { return p.pid == grandchild; }));
    ASSERT_TRUE(parent.kill());
    EXPECT_TRUE(gone(grandchild));

    win::ChildProcess sleeper;
    ASSERT_TRUE(sleeper.start(L"C:\\probe.exe sleep 30"));
    EXPECT_TRUE(win::terminateProcess(sleeper.pid()));
    ASSERT_TRUE(sleeper.wait(10000));
    EXPECT_FALSE(win::terminateProcess(sleeper.pid()));
}

// A windowless child, however started, has a session of its own and so no terminal to write to.
TEST(ChildProcess, AWindowlessChildHasNoTerminal) {
    TestMachine machine;
    probe::install(machine, L"C:\\probe.exe");
    for (const bool endWithParent : {false, true}) {
        for (const bool hideWindow : {true, false}) {
            win::ChildOptions options = captured();
            options.endWithParent = endWithParent;
            options.hideWindow = hideWindow;
            win::ChildProcess child;
            ASSERT_TRUE(child.start(L"C:\\probe.exe session", options)) << win::lastError();
            ASSERT_TRUE(child.wait(20000));
            const std::string& out = child.output();
            SCOPED_TRACE(out);
            if (hideWindow)
                EXPECT_EQ(out, "own\nno terminal\n") << "endWithParent " << endWithParent;
            else
                EXPECT_TRUE(out.starts_with("inherited\n")) << "endWithParent " << endWithParent;
        }
    }
}

TEST(ChildProcess, ChildStartsInTheGivenDirectoryOnTheSameMachine) {
    TestMachine machine;
    probe::install(machine, L"C:\\probe.exe");
    machine.writeFile(L"C:\\Data\\x.txt", "x");
    win::ChildOptions options = captured();
    options.currentDirectory = L"C:\\Data";
    win::ChildProcess child;
    ASSERT_TRUE(child.start(L"C:\\probe.exe cwd", options)) << win::lastError();
    ASSERT_TRUE(child.wait(20000));
    EXPECT_EQ(child.output(), "C:\\Data\n");

    options.currentDirectory = L"C:\\Data\\x.txt";
    win::ChildProcess notAFolder;
    EXPECT_FALSE(notAFolder.start(L"C:\\probe.exe cwd", options));

    // The child sees the same machine, and the variables it was given.
    options = captured();
    options.environment = {{L"MW_PROBE_VALUE", L"über"}};
    win::ChildProcess env;
    ASSERT_TRUE(env.start(L"C:\\probe.exe env mw_probe_value", options));
    ASSERT_TRUE(env.wait(20000));
    EXPECT_EQ(env.output(), "über\n");
    win::ChildProcess machineView;
    ASSERT_TRUE(machineView.start(L"C:\\probe.exe hostenv MENDWELL_MACHINE", captured()));
    ASSERT_TRUE(machineView.wait(20000));
    EXPECT_EQ(machineView.output(), machine.root().string() + "\n");
}

TEST(ChildProcess, ProbeHoldsAFileOpenForSharingTests) {
    TestMachine machine;
    machine.writeFile(L"C:\\Data\\f.txt", "data");
    win::ChildProcess holder;
    ASSERT_TRUE(
        holder.startHost(probe::program(), {L"open", L"C:\\Data\\f.txt", L"r", L"-", L"60"}, captured()));
    ASSERT_TRUE(probe::waitForOutput(holder, "opened\n"));
    win::File file;
    EXPECT_FALSE(
        file.open(L"C:\\Data\\f.txt", win::access::read, win::share::read, win::Disposition::openExisting));
    EXPECT_EQ(win::lastError(), 32u);
    holder.kill();
    EXPECT_TRUE(
        file.open(L"C:\\Data\\f.txt", win::access::read, win::share::read, win::Disposition::openExisting));

    win::ChildProcess missing;
    ASSERT_TRUE(
        missing.startHost(probe::program(), {L"open", L"C:\\none.txt", L"r", L"r", L"0"}, captured()));
    ASSERT_TRUE(missing.wait(20000));
    EXPECT_EQ(missing.output(), "error 2\n");
}

TEST(ProcessList, FindsAChildWithItsWindowsPathAndModules) {
    TestMachine machine;
    probe::install(machine, L"C:\\Apps\\Probe.exe");
    win::ChildProcess child;
    ASSERT_TRUE(child.start(L"C:\\Apps\\Probe.exe sleep 30"));
    win::sleepMs(200);  // until the program is mapped
    bool found = false;
    for (const auto& p : win::listProcesses()) {
        if (p.pid != child.pid()) continue;
        found = true;
        EXPECT_EQ(p.exeName, L"Probe.exe");
        EXPECT_EQ(p.fullPath, L"C:\\Apps\\Probe.exe");
        ASSERT_FALSE(p.modules.empty());
        EXPECT_EQ(p.modules.front(), L"Probe.exe");
        EXPECT_TRUE(std::any_of(p.modules.begin(), p.modules.end(),
                                [](const std::wstring& m) { return m.starts_with(L"libc.so"); }));
    }
    EXPECT_TRUE(found);
    child.kill();

    // This test program lies outside the machine: listed by its host path.
    bool self = false;
    for (const auto& p : win::listProcesses())
        if (p.pid == win::currentProcessId())
            self = p.fullPath == win::modulePath() && !p.fullPath.starts_with(L"C:");
    EXPECT_TRUE(self);
}

// A program belongs to the machine it was started on: another machine's list does not show it.
TEST(ProcessList, ShowsOnlyTheProgramsOfTheCurrentMachine) {
    TestMachine first;
    probe::install(first, L"C:\\Apps\\Probe.exe");
    win::ChildProcess child;
    ASSERT_TRUE(child.start(L"C:\\Apps\\Probe.exe sleep 30"));
    auto listed = [&] {
        const auto list = win::listProcesses();
        return std::any_of(list.begin(), list.end(),
                           [&](const win::ProcessEntry& p) { return p.pid == child.pid(); });
    };
    EXPECT_TRUE(listed());
    {
        TestMachine second;
        EXPECT_FALSE(listed());
        std::string error;
        ASSERT_TRUE(win::Machine::select(first.root(), error)) << error;
        EXPECT_TRUE(listed());
    }
    child.kill();
}

}  // namespace
