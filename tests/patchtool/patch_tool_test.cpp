// The `patch` program with its engine, run as the patcher runs it: from a folder of the machine,
// with a folder and a difference file as quoted operands.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "tests/patchtool/quadrel_support.h"
#include "tests/support/testmachine.h"

namespace {

using namespace quadrel_test;
using testing_support::binDir;
using testing_support::TestMachine;

struct ToolRun {
    int exitCode = -1;
    std::string output;
};

class PatchTool : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const wchar_t* tool : {L"C:\\Work Dir\\Quadrel", L"C:\\Q"}) {
            std::filesystem::create_directories(machine.host(tool));
            std::filesystem::copy_file(binDir() / "patch", machine.host(tool) / "patch.exe");
            std::filesystem::copy_file(binDir() / "quadw32.dll", machine.host(tool) / "quadw32.dll");
        }
        old = randomBytes(150000, 11);
        neu = edited(old, 12);
        machine.writeFile(L"C:\\W\\f.bin", old);
        makeDiff(old, neu, L"C:\\W\\f.QDR");
    }
    void makeDiff(const std::string& from, const std::string& to, const wchar_t* path,
                  quadrel::Request request = quadrel::Request::automatic) {
        quadrel::MakeReport report;
        std::string error;
        std::filesystem::create_directories(machine.host(path).parent_path());
        ASSERT_TRUE(quadrel::makeDifference(bytes(from), bytes(to), "f.bin", request, machine.host(path), report, error));
    }
    ToolRun run(const std::wstring& commandLine) {
        win::ChildProcess child;
        win::ChildOptions options;
        options.captureOutput = true;
        ToolRun r;
        if (!child.start(commandLine, options) || !child.wait()) return r;
        win::DWORD code = 0;
        child.exitCode(code);
        r.exitCode = static_cast<int>(code);
        r.output = child.output();
        return r;
    }
    ToolRun apply(const std::wstring& diff = L"C:\\W\\f.QDR") {
        return run(L"C:\\Work Dir\\Quadrel\\patch.exe \"C:\\W\" \"" + diff + L"\"");
    }
    bool has(const ToolRun& r, const std::string& what) { return r.output.find(what) != std::string::npos; }

    TestMachine machine;
    std::string old, neu;
};

TEST_F(PatchTool, AppliesThroughAToolPathWithABlankWithEitherMethod) {
    for (auto method : {quadrel::Request::zstd, quadrel::Request::match}) {
        machine.writeFile(L"C:\\W\\f.bin", old);
        makeDiff(old, neu, L"C:\\W\\f.QDR", method);
        const ToolRun r = apply();
        EXPECT_EQ(r.exitCode, 0) << r.output;
        EXPECT_TRUE(machine.readFile(L"C:\\W\\f.bin") == neu);
        EXPECT_TRUE(has(r, "100% patched\n")) << r.output;
        // Message 27: flag 1 and 2 set, flag 3 clear.
        EXPECT_TRUE(has(r, "C:\\W\\f.bin.qdnew -> C:\\W\\f.bin (SRb)\n")) << r.output;
        EXPECT_FALSE(machine.exists(L"C:\\W\\f.bin.qdnew"));
    }
    // Applying again finds the new file already there.
    const ToolRun again = apply();
    EXPECT_EQ(again.exitCode, 0) << again.output;
    EXPECT_TRUE(has(again, "already up to date")) << again.output;
}

TEST_F(PatchTool, EachFailureLeavesTheOldFileAndHasItsOwnResult) {
    const std::string diff = machine.readFile(L"C:\\W\\f.QDR");
    std::string flipped = diff;
    flipped[diff.size() / 2] ^= 0x01;
    struct Row {
        const char* what;
        std::string oldBytes;  // empty: no old file
        std::string diffBytes;
        int exitCode;
    } rows[] = {
        {"old file missing", "", diff, 2},
        {"wrong old file", randomBytes(150000, 13), diff, 3},
        {"truncated difference", old, diff.substr(0, diff.size() - 10), 4},
        {"bit-flipped difference", old, flipped, 4},
        {"not a difference at all", old, "hello", 4},
    };
    for (const Row& row : rows) {
        std::filesystem::remove(machine.host(L"C:\\W\\f.bin"));
        if (!row.oldBytes.empty()) machine.writeFile(L"C:\\W\\f.bin", row.oldBytes);
        machine.writeFile(L"C:\\W\\f.QDR", row.diffBytes);
        const ToolRun r = apply();
        EXPECT_EQ(r.exitCode, row.exitCode) << row.what << "\n" << r.output;
        EXPECT_EQ(machine.exists(L"C:\\W\\f.bin"), !row.oldBytes.empty()) << row.what;
        if (!row.oldBytes.empty()) {
            EXPECT_TRUE(machine.readFile(L"C:\\W\\f.bin") == row.oldBytes) << row.what;
        }
        EXPECT_FALSE(machine.exists(L"C:\\W\\f.bin.qdnew")) << row.what;
    }
}

TEST_F(PatchTool, ReadOnlyOldFileIsReplacedAndStaysReadOnly) {
    std::filesystem::permissions(machine.host(L"C:\\W\\f.bin"), std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    win::setFileAttributes(L"C:\\W\\f.bin", win::attr::readOnly);
    const ToolRun r = apply();
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(machine.readFile(L"C:\\W\\f.bin") == neu);
    EXPECT_NE(win::getFileAttributes(L"C:\\W\\f.bin") & win::attr::readOnly, 0u);
}

TEST_F(PatchTool, CommandLineWithoutABlankPassesNoArguments) {
    const ToolRun r = run(L"C:\\Q\\patch.exe");
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_TRUE(has(r, "Usage: patch")) << r.output;
    EXPECT_TRUE(machine.readFile(L"C:\\W\\f.bin") == old);
}

// End of input at prompt 13, and an interrupt during a long apply, both stop with -3 and leave the
// old file as it was. ToolRun through a shell so standard input and the signal are under control.
TEST_F(PatchTool, UserStopAtThePromptAndByInterrupt) {
    const std::string patch = (machine.host(L"C:\\Q") / "patch.exe").string();
    auto shell = [](const std::string& script) { return testing_support::runProgram("/bin/sh", {"-c", script}); };

    const auto prompt = shell("'" + patch + "' 'C:\\W' 'C:\\W\\missing.QDR' </dev/null");
    EXPECT_EQ(prompt.exitCode, 253) << prompt.output;  // -3
    EXPECT_NE(prompt.output.find("Could not find Patch File\nEnter a New Name & Directory for the Patch File or\n"
                                 "Press Enter to Quit ===> "),
              std::string::npos)
        << prompt.output;
    EXPECT_NE(prompt.output.find("\nPATCH Terminated by User\n"), std::string::npos) << prompt.output;

    // A prompt answered with a folder gets "\patch" appended: here it names the real difference.
    std::filesystem::rename(machine.host(L"C:\\W\\f.QDR"), machine.host(L"C:\\W\\patch"));
    const auto answered = shell("printf 'C:\\\\W\\n' | '" + patch + "' 'C:\\W' 'C:\\W\\missing.QDR'");
    EXPECT_EQ(answered.exitCode, 0) << answered.output;
    EXPECT_TRUE(machine.readFile(L"C:\\W\\f.bin") == neu);

    // A large, quick-to-make difference (a long run of one byte), interrupted after the first progress.
    const std::string big(64u << 20, 'a');
    machine.writeFile(L"C:\\W\\f.bin", "a");
    makeDiff("a", big, L"C:\\W\\big.QDR", quadrel::Request::zstd);
    const std::string out = (machine.root() / "out.txt").string();
    const auto stopped = shell("'" + patch + "' 'C:\\W' 'C:\\W\\big.QDR' >'" + out +
                               "' 2>&1 & pid=$!; "
                               "while ! grep -q patched '" + out + "' 2>/dev/null; do sleep 0.01; done; "
                               "kill -INT $pid; wait $pid; echo \"exit=$?\"; cat '" + out + "'");
    EXPECT_NE(stopped.output.find("exit=253"), std::string::npos) << stopped.output;
    EXPECT_NE(stopped.output.find("PATCH Terminated by User"), std::string::npos) << stopped.output;
    EXPECT_EQ(machine.readFile(L"C:\\W\\f.bin"), "a");
    EXPECT_FALSE(machine.exists(L"C:\\W\\f.bin.qdnew"));
}

// Progress lines reach the console even when standard output goes to a file (run under a pseudo
// terminal made by script(1)).
TEST_F(PatchTool, ProgressReachesTheConsoleWithRedirectedOutput) {
    const std::string patch = (machine.host(L"C:\\Q") / "patch.exe").string();
    const std::string file = (machine.root() / "redirected.txt").string();
    const auto r = testing_support::runProgram(
        "/usr/bin/script", {"-qec", "'" + patch + "' 'C:\\W' 'C:\\W\\f.QDR' >'" + file + "'", "/dev/null"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("100% patched"), std::string::npos) << r.output;
    const std::string redirected = testing_support::readHostFile(file);
    EXPECT_NE(redirected.find("100% patched"), std::string::npos) << redirected;
    EXPECT_TRUE(machine.readFile(L"C:\\W\\f.bin") == neu);
}

}  // namespace
