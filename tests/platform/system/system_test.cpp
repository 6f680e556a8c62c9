#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/system/library.h"
#include "platform/system/system.h"
#include "platform/system/worker.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;

TEST(SystemFolders, DerivedFoldersFollowTheMachine) {
    win::MachineProfile profile;
    profile.windowsDirectory = L"D:\\WinNT";
    TestMachine machine(profile);
    EXPECT_EQ(win::windowsDirectory(), L"D:\\WinNT");
    EXPECT_EQ(win::colorDirectory(), win::systemDirectory() + L"\\spool\\drivers\\color");
    EXPECT_TRUE(win::systemDirectory().starts_with(L"D:\\WinNT\\"));
    std::wstring path;
    EXPECT_FALSE(win::shellFolder(0x7777, path));
}

TEST(DiskSpace, ProfileFigureOrTheHostsFreeSpace) {
    win::MachineProfile profile;
    profile.freeBytes[L'C'] = 123456789;
    TestMachine machine(profile);
    std::uint64_t free = 0, total = 0, totalFree = 0;
    ASSERT_TRUE(win::diskFreeSpace(L"C:\\", free, &total, &totalFree));
    EXPECT_EQ(free, 123456789u);
    EXPECT_EQ(totalFree, 123456789u);
    EXPECT_GE(total, free);
    ASSERT_TRUE(win::diskFreeSpace(L"c:\\Windows\\System32", free));  // any path on the drive
    EXPECT_EQ(free, 123456789u);
    EXPECT_FALSE(win::diskFreeSpace(L"Q:\\", free));  // no such drive
    EXPECT_EQ(win::lastError(), 3u);
    EXPECT_FALSE(win::diskFreeSpace(L"\\\\server\\share\\", free));

    TestMachine plain;
    ASSERT_TRUE(win::diskFreeSpace(L"C:\\", free, &total));
    EXPECT_GT(free, 0u);
    EXPECT_GE(total, free);
}

TEST(Administrator, ComesFromTheProfile) {
    win::MachineProfile user;
    user.administrator = false;
    {
        TestMachine machine(user);
        EXPECT_FALSE(win::isAdministrator());
    }
    TestMachine admin;
    EXPECT_TRUE(win::isAdministrator());
}

// Runs `body` with standard output redirected into a pipe (or closed) and returns what was written.
template <class F>
std::string captureStdout(F body, bool closed = false) {
    std::fflush(stdout);
    const int saved = ::dup(1);
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    if (closed)
        ::close(1);
    else
        ::dup2(fds[1], 1);
    body();
    ::dup2(saved, 1);
    ::close(saved);
    ::close(fds[1]);
    std::string out;
    char buffer[256];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    return out;
}

TEST(ParentConsole, WritesUtf8OnlyWhenThereIsOne) {
    EXPECT_EQ(captureStdout([] { win::printToParentConsole(L"\r\nPatcher running in silent mode… ü"); }),
              "\r\nPatcher running in silent mode\xE2\x80\xA6 \xC3\xBC");
    EXPECT_EQ(captureStdout([] { win::printToParentConsole(L"nowhere"); }, true), "");
}

TEST(Library, LoadsByWindowsPathAndFindsExports) {
    TestMachine machine;
    std::filesystem::create_directories(machine.host(L"C:\\Lib"));
    std::filesystem::copy_file(testing_support::binDir() / "libmw_fixture_lib.so",
                               machine.host(L"C:\\Lib\\Fixture.dll"));
    win::Library library;
    ASSERT_TRUE(library.load(L"c:\\lib\\fixture.DLL")) << win::lastError();
    auto answer = library.function<int (*)()>("mwFixtureAnswer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(library.symbol("notExported"), nullptr);
    EXPECT_EQ(win::lastError(), 127u);
    library.free();
    EXPECT_FALSE(library.isLoaded());

    machine.writeFile(L"C:\\Lib\\text.dll", "not a library");
    EXPECT_FALSE(library.load(L"C:\\Lib\\text.dll"));
    EXPECT_EQ(win::lastError(), 126u);
    EXPECT_FALSE(library.load(L"C:\\Lib\\missing.dll"));
    EXPECT_EQ(win::lastError(), 126u);
}

// The thread data of a library loaded at run time, put 16 bytes into a page by the allocator: the leak
// checker at the program's exit must not take it for an old glibc's block and die scanning garbage.
TEST(Library, ThreadDataOfALoadedLibraryLeavesTheLeakCheckerWhole) {
#ifndef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "only a sanitizer build has the leak checker";
#endif
    const auto r = testing_support::runProgram(
        testing_support::binDir() / "mw_probe",
        {"tlsat16", (testing_support::binDir() / "libmw_fixture_lib.so").string()});
    EXPECT_EQ(r.output.substr(0, 3), "16\n") << r.output;  // else the case is not made
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output.find("Tracer"), std::string::npos) << r.output;
}

TEST(WorkerThread, SuspendsAtCheckpointsAndResumesThere) {
    std::atomic<int> counter{0};
    std::atomic<bool> stop{false};
    win::WorkerThread worker;
    ASSERT_TRUE(worker.start([&] {
        while (!stop) {
            ++counter;
            win::WorkerThread::checkpoint();
        }
    }));
    EXPECT_FALSE(worker.start([] {}));  // one body per thread
    while (counter < 10) std::this_thread::yield();
    worker.suspend();
    win::sleepMs(30);  // the worker reaches its checkpoint
    const int paused = counter;
    win::sleepMs(60);
    EXPECT_EQ(counter, paused);
    EXPECT_TRUE(worker.running());
    worker.resume();
    while (counter < paused + 10) std::this_thread::yield();
    stop = true;
    worker.join();
    EXPECT_FALSE(worker.running());

    win::WorkerThread::checkpoint();  // not a worker: returns at once
    // A worker left suspended is resumed and joined when its owner goes.
    std::atomic<bool> finished{false};
    {
        win::WorkerThread suspended;
        suspended.suspend();
        suspended.start([&] {
            win::WorkerThread::checkpoint();
            finished = true;
        });
    }
    EXPECT_TRUE(finished);
}

}  // namespace
