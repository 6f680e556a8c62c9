#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/fs/file.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;
using win::DWORD;

// Runs `probe` in a child process and returns its exit status.
template <class Probe>
int inChild(Probe probe) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(probe());
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

// The Win32 error of a failed call, 0 when it succeeded.
template <class Call>
DWORD errorOf(Call call) {
    win::setLastError(0);
    return call() ? 0 : win::lastError();
}

TEST(ShareModes, HandleWithoutWriteSharingBlocksWritersCopyDeleteAndMove) {
    TestMachine machine;
    machine.writeFile(L"C:\\held.dat", "held");
    machine.writeFile(L"C:\\other.dat", "other");
    win::File holder;
    ASSERT_TRUE(
        holder.open(L"C:\\held.dat", win::access::read, win::share::read, win::Disposition::openExisting));

    win::File f;
    EXPECT_EQ(errorOf([&] {
                  return f.open(L"C:\\HELD.dat", win::access::write, 7, win::Disposition::openExisting);
              }),
              win::err::sharingViolation);
    EXPECT_EQ(errorOf([&] { return win::copyFile(L"C:\\other.dat", L"C:\\held.dat", false); }),
              win::err::sharingViolation);
    EXPECT_EQ(errorOf([&] { return win::deleteFile(L"C:\\held.dat"); }), win::err::sharingViolation);
    EXPECT_EQ(errorOf([&] { return win::moveFile(L"C:\\held.dat", L"C:\\moved.dat", 0); }),
              win::err::sharingViolation);
    EXPECT_EQ(errorOf([&] {
                  return win::moveFile(L"C:\\other.dat", L"C:\\held.dat", win::moveflag::replaceExisting);
              }),
              win::err::sharingViolation);
    EXPECT_EQ(machine.readFile(L"C:\\held.dat"), "held");

    // Readers that share reading are welcome; so is copying from it.
    EXPECT_EQ(errorOf([&] {
                  return f.open(L"C:\\held.dat", win::access::read, 7, win::Disposition::openExisting);
              }),
              0u);
    f.close();
    EXPECT_EQ(errorOf([&] { return win::copyFile(L"C:\\held.dat", L"C:\\copy.dat", false); }), 0u);

    // A reader that refuses to share reading cannot join a file already being read.
    EXPECT_EQ(errorOf([&] {
                  return f.open(L"C:\\held.dat", win::access::read, win::share::none,
                                win::Disposition::openExisting);
              }),
              win::err::sharingViolation);
    holder.close();
    EXPECT_EQ(errorOf([&] { return win::deleteFile(L"C:\\held.dat"); }), 0u);
}

TEST(ShareModes, WriterBlocksReadersThatDoNotShareWriting) {
    TestMachine machine;
    machine.writeFile(L"C:\\log.txt", "");
    win::File writer;
    ASSERT_TRUE(writer.open(L"C:\\log.txt", win::access::write, win::share::read | win::share::write,
                            win::Disposition::openExisting));
    win::File reader;
    EXPECT_EQ(errorOf([&] {
                  return reader.open(L"C:\\log.txt", win::access::read, win::share::read,
                                     win::Disposition::openExisting);
              }),
              win::err::sharingViolation);
    EXPECT_EQ(errorOf([&] {
                  return reader.open(L"C:\\log.txt", win::access::read, win::share::read | win::share::write,
                                     win::Disposition::openExisting);
              }),
              0u);
    // Sharing delete lets another delete the file while it is open.
    win::File deletable;
    machine.writeFile(L"C:\\temp.txt", "t");
    ASSERT_TRUE(deletable.open(L"C:\\temp.txt", win::access::read, 7, win::Disposition::openExisting));
    EXPECT_EQ(errorOf([&] { return win::deleteFile(L"C:\\temp.txt"); }), 0u);
}

TEST(ShareModes, HonouredAcrossProcesses) {
    TestMachine machine;
    machine.writeFile(L"C:\\in use.dll", "v1");
    machine.writeFile(L"C:\\new.dll", "v2");
    win::File holder;
    ASSERT_TRUE(
        holder.open(L"C:\\in use.dll", win::access::read, win::share::read, win::Disposition::openExisting));

    auto probe = [] {
        win::File f;
        int failures = 0;
        if (!f.open(L"C:\\IN USE.dll", win::access::write, 7, win::Disposition::openExisting) &&
            win::lastError() == win::err::sharingViolation) {
            failures |= 1;
        }
        if (!win::copyFile(L"C:\\new.dll", L"C:\\in use.dll", false) &&
            win::lastError() == win::err::sharingViolation) {
            failures |= 2;
        }
        if (!win::deleteFile(L"C:\\in use.dll") && win::lastError() == win::err::sharingViolation)
            failures |= 4;
        if (!win::moveFile(L"C:\\in use.dll", L"C:\\x.dll", 0) &&
            win::lastError() == win::err::sharingViolation) {
            failures |= 8;
        }
        return failures;
    };
    EXPECT_EQ(inChild(probe), 15);
    EXPECT_EQ(machine.readFile(L"C:\\in use.dll"), "v1");

    // Once the handle is gone the other process gets through, and a handle in the child blocks us.
    holder.close();
    auto writer = [] {
        win::File f;
        return f.open(L"C:\\in use.dll", win::access::write, 7, win::Disposition::openExisting) ? 0 : 1;
    };
    EXPECT_EQ(inChild(writer), 0);

    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        win::File f;
        const bool ok = f.open(L"C:\\in use.dll", win::access::read, 0, win::Disposition::openExisting);
        char c = ok ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        (void)!::read(release[0], &c, 1);
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    EXPECT_EQ(errorOf([] { return win::deleteFile(L"C:\\in use.dll"); }), win::err::sharingViolation);
    win::File f;
    EXPECT_EQ(errorOf([&] {
                  return f.open(L"C:\\in use.dll", win::access::read, 7, win::Disposition::openExisting);
              }),
              win::err::sharingViolation);
    (void)!::write(release[1], &c, 1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (int fd : {ready[0], ready[1], release[0], release[1]}) ::close(fd);
    EXPECT_EQ(errorOf([] { return win::deleteFile(L"C:\\in use.dll"); }), 0u);
}

}  // namespace
