#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "tests/platform/process/probe_support.h"
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
    // Replacing an open file is refused outright (access denied), not judged by its sharing.
    EXPECT_EQ(errorOf([&] {
                  return win::moveFile(L"C:\\other.dat", L"C:\\held.dat", win::moveflag::replaceExisting);
              }),
              win::err::accessDenied);
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

// How CopyFile and MoveFileEx meet a file that another process holds open. Each row runs twice, once
// with the probe holding the file while this process acts, once the other way round.
enum class Act { copyFrom, copyOnto, replaceOnto };
struct HeldCase {
    const char* behaviour;  // the Windows behaviour reproduced
    const char* access;     // the holder's access and sharing, in the probe's letters
    const char* share;
    Act act;
    DWORD expected;
};

DWORD letters(std::string_view text, DWORD r, DWORD w, DWORD d) {
    DWORD v = 0;
    for (char c : text) v |= c == 'r' ? r : c == 'w' ? w : c == 'd' ? d : 0;
    return v;
}

TEST(ShareModes, CopyAndReplaceAgainstAFileHeldByAnotherProcess) {
    const HeldCase cases[] = {
        {"CopyFile reads a file being written when the writer shares reading (a backup of a log in use)", "w",
         "r", Act::copyFrom, 0},
        {"CopyFile cannot read a file whose writer shares nothing", "w", "-", Act::copyFrom,
         win::err::sharingViolation},
        {"CopyFile onto a file open without write sharing is a sharing violation", "r", "r", Act::copyOnto,
         win::err::sharingViolation},
        {"CopyFile onto a file open with read and write sharing overwrites it", "rw", "rw", Act::copyOnto, 0},
        {"MoveFileEx with MOVEFILE_REPLACE_EXISTING onto an open file is refused even when it shares all",
         "r", "rwd", Act::replaceOnto, win::err::accessDenied},
        {"MoveFileEx with MOVEFILE_REPLACE_EXISTING onto an open file that shares nothing: access denied",
         "r", "-", Act::replaceOnto, win::err::accessDenied},
    };
    TestMachine machine;
    const std::wstring held = L"C:\\held.dat";
    const std::wstring other = L"C:\\other.dat";
    for (const HeldCase& c : cases) {
        const std::wstring from = c.act == Act::copyFrom ? held : other;
        const std::wstring to = c.act == Act::copyFrom ? L"C:\\backup.dat" : held;
        for (const bool probeHolds : {true, false}) {
            SCOPED_TRACE(std::string(c.behaviour) + (probeHolds ? " (probe holds)" : " (probe acts)"));
            machine.writeFile(held, "held");
            machine.writeFile(other, "other");
            std::filesystem::remove(machine.host(L"C:\\backup.dat"));
            DWORD error = 0;
            win::ChildOptions options;
            options.captureOutput = true;
            win::ChildProcess child;
            if (probeHolds) {
                ASSERT_TRUE(child.startHost(
                    probe::program(), {L"open", held, win::fromUtf8(c.access), win::fromUtf8(c.share), L"60"},
                    options));
                ASSERT_TRUE(probe::waitForOutput(child, "opened\n")) << child.output();
                error = errorOf([&] {
                    return c.act == Act::replaceOnto ? win::moveFile(from, to, win::moveflag::replaceExisting)
                                                     : win::copyFile(from, to, false);
                });
                child.kill();
                child.wait();
            } else {
                win::File holder;
                ASSERT_TRUE(holder.open(
                    held, letters(c.access, win::access::read, win::access::write, win::access::del),
                    letters(c.share, win::share::read, win::share::write, win::share::del),
                    win::Disposition::openExisting));
                ASSERT_TRUE(child.startHost(
                    probe::program(), {c.act == Act::replaceOnto ? L"replace" : L"copy", from, to}, options));
                ASSERT_TRUE(child.wait(20000));
                const std::string out = child.output();
                error = out.rfind("error ", 0) == 0 ? static_cast<DWORD>(std::stoul(out.substr(6))) : 0;
                EXPECT_TRUE(error != 0 || out == "done\n") << out;
            }
            EXPECT_EQ(error, c.expected);
            if (c.expected == 0)
                EXPECT_EQ(machine.readFile(to), machine.readFile(from));
            else if (c.act == Act::copyFrom)
                EXPECT_FALSE(machine.exists(to));
            else
                EXPECT_EQ(machine.readFile(to), "held");
        }
    }
}

}  // namespace
