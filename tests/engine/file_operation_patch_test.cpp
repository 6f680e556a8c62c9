// The binary patch operation with the real patch tool and engine: every row of its decision table, the
// three ascii values, a work folder with a blank, and failures before the target is touched.
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "mendwell/engine/file_operation.h"
#include "mendwell/engine/file_operation_patch.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "platform/system/system.h"
#include "platform/text/text.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

constexpr const wchar_t* kTarget = L"C:\\P\\sub\\f.txt";
constexpr const char* kMissing = "<missing>";

std::string oldBytes() {
    std::string s;
    for (int i = 0; i < 2000; ++i) s += "entry " + std::to_string(i) + "\n";
    return s;
}
std::string newBytes() {
    std::string s = oldBytes();
    s.replace(5000, 10, "CHANGED!!!");
    return s + "tail\n";
}

class PatchOperation : public EngineTest {
  protected:
    // Places the tool and stages a difference from `from` to `to` naming `inside` as the object name 7.
    void prepare(const std::string& from, const std::string& to, const std::string& inside = "f.txt") {
        clearFiles();
        const auto quadrel = machine_->host(mw::workPath(L"\\Quadrel"));
        std::filesystem::create_directories(quadrel);
        std::filesystem::copy_file(testing_support::binDir() / "patch", quadrel / "patch.exe",
                                   std::filesystem::copy_options::overwrite_existing);
        std::filesystem::copy_file(testing_support::binDir() / "quadw32.dll", quadrel / "quadw32.dll",
                                   std::filesystem::copy_options::overwrite_existing);
        // Beside the machine rather than in the host's temporary folder: a test may point TEMP elsewhere.
        const auto dir = machine_->root() / "qdiff";
        std::filesystem::create_directories(dir);
        testing_support::writeHostFile(dir / "old", from);
        testing_support::writeHostFile(dir / "new", to);
        const auto made = testing_support::runProgram(
            testing_support::binDir() / "qdiff",
            {(dir / "old").string(), (dir / "new").string(), (dir / "d").string(), "--name", inside});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        stage(L"7", testing_support::readHostFile(dir / "d"));
    }
    mw::FileRecord entry(const std::wstring& ascii = L"true") {
        mw::FileRecord r;
        r.operation = L"patch";
        r.objectName = L"7";
        r.destinationPath = L"C:/P/sub/f.txt";
        r.beforePatch = md5Of(oldBytes());
        r.afterPatch = md5Of(newBytes());
        r.ascii = ascii;
        return r;
    }
    int countLike(const std::wstring& start) {
        int n = 0;
        for (const auto& line : log()) n += line.message.rfind(start, 0) == 0 ? 1 : 0;
        return n;
    }
    bool loggedLike(const std::wstring& start) { return countLike(start) > 0; }
};

TEST_F(PatchOperation, DecisionTable) {
    const std::string old = oldBytes(), neu = newBytes();
    struct Row {
        const char* name;
        const char* target;  // null: absent
        int result;
        const char* targetAfter;
        bool backup;
    } rows[] = {
        {"absent", nullptr, 3, kMissing, false},
        {"matches BeforePatch", old.c_str(), 4, neu.c_str(), true},
        {"matches AfterPatch", neu.c_str(), 5, neu.c_str(), false},
        {"matches neither", "something else", 3, "something else", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        prepare(old, neu);
        if (row.target) put(kTarget, row.target);
        const int runsBefore = countLike(L"Command line to patch the file: ");
        EXPECT_EQ(mw::runFileOperation(entry()), row.result);
        EXPECT_EQ(read(kTarget), row.targetAfter);
        EXPECT_EQ(read(backup(L"7")), row.backup ? old : kMissing);
        EXPECT_EQ(countLike(L"Command line to patch the file: ") - runsBefore, row.backup ? 1 : 0);
    }
    EXPECT_TRUE(logged(L"ERROR", L"File to be patched is not present on the target machine."));
}

TEST_F(PatchOperation, AsciiValuesAndAWorkFolderWithABlank) {
    const std::string old = oldBytes(), neu = newBytes();
    struct RestoreTemp {
        std::optional<std::wstring> saved = win::getEnv(L"TEMP");
        const char* host = std::getenv("TEMP");
        std::string hostValue = host ? host : "";
        ~RestoreTemp() {
            if (host) {
                ::setenv("TEMP", hostValue.c_str(), 1);
            } else {
                win::unsetEnv(L"TEMP");
            }
        }
    } restore;
    win::createDirectory(L"C:\\Temp Dir");
    win::setEnv(L"TEMP", L"C:\\Temp Dir");
    struct Row {
        const wchar_t* ascii;
        const char* inside;  // the file name the difference names
        bool readOnly;
        int result;
        bool patched;
    } rows[] = {
        {L"true", "f.txt", true, 4, true},
        {L"false", "7", false, 4, true},
        {L"false", "7", true, 4, true},
        {L"True", "f.txt", false, 3, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "ascii " << std::string(row.ascii, row.ascii + wcslen(row.ascii))
                                        << (row.readOnly ? " read-only" : ""));
        prepare(old, neu, row.inside);
        put(kTarget, old, row.readOnly);
        const int toolLinesBefore = countLike(L"Patch tool: ");
        mw::cFileOperationPatch op(entry(row.ascii));
        // The tool inherits none of the patcher's handles: what it writes goes to the log only.
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(op.execute(entry(row.ascii)), row.result);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_GT(countLike(L"Patch tool: "), toolLinesBefore);
        EXPECT_TRUE(read(kTarget) == (row.patched ? neu : old));
        // The working copy of the target goes with the difference's, even when it was read-only.
        const std::wstring inside = win::fromUtf8(row.inside);
        EXPECT_FALSE(win::pathExists(op.patchFolder() + L"\\" + inside));
        const std::wstring quoted = row.ascii == std::wstring(L"True") ? L"\"\"" : L"\"" + op.patchFolder() + L"\"";
        EXPECT_TRUE(logged(L"INFO", L"Command line to patch the file: " + mw::workPath(L"\\Quadrel\\Patch.exe") + L" " +
                                        quoted + L" \"" + op.patchFolder() + L"\\7.QDR\""));
        EXPECT_NE(mw::workPath(L"").find(L"C:\\Temp Dir\\"), std::wstring::npos);
        // Put in place: the working copies are gone; left behind when nothing was put in place.
        EXPECT_EQ(win::pathExists(op.patchFolder() + L"\\7.QDR"), !row.patched);
    }
    EXPECT_EQ(win::windowsDirectory() + L"\\Temp\\Patcher" + std::to_wstring(win::currentProcessId()),
              mw::cFileOperationPatch(entry()).patchFolder());
}

TEST_F(PatchOperation, FailuresBeforeTheTargetIsTouched) {
    const std::string old = oldBytes(), neu = newBytes();
    // A backup that cannot be taken (its name is taken).
    prepare(old, neu);
    put(kTarget, old);
    put(backup(L"7"), "earlier");
    EXPECT_EQ(mw::runFileOperation(entry()), 3);
    EXPECT_EQ(read(kTarget), old);
    EXPECT_FALSE(loggedLike(L"Location of the Patch.exe file: "));

    // A staged difference that is missing.
    prepare(old, neu);
    put(kTarget, old);
    win::deleteFile(mw::workPath(L"\\StagingArea\\7"));
    EXPECT_EQ(mw::runFileOperation(entry()), 3);
    EXPECT_EQ(read(kTarget), old);
    EXPECT_TRUE(loggedLike(L"Unable to take copy the file without extension to file with extension."));

    // No tool to run.
    prepare(old, neu);
    put(kTarget, old);
    std::filesystem::remove_all(machine_->host(mw::workPath(L"\\Quadrel")));
    EXPECT_EQ(mw::runFileOperation(entry()), 3);
    EXPECT_EQ(read(kTarget), old);
    EXPECT_TRUE(logged(L"ERROR", L"File patching fails. Command line returned error."));

    // A difference for another file: the tool refuses, the old file is put back, the check after fails.
    prepare("another old file", neu);
    put(kTarget, old);
    EXPECT_EQ(mw::runFileOperation(entry()), 3);
    EXPECT_EQ(read(kTarget), old);
    EXPECT_TRUE(logged(L"INFO", L"The patch tool ended with exit code 3."));
    EXPECT_TRUE(logged(L"ERROR", L"Checksum verification of the file failed after patching."));
}

}  // namespace
}  // namespace engine_test
