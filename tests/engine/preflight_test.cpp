// The pre-flight judges every entry as the run would, against the machine as the earlier entries leave
// it, and refuses what would fail, changing nothing: files, attributes and registry stay as they were.
#include "mendwell/engine/preflight.h"

#include <functional>
#include <sstream>

#include "mendwell/base/patchlog.h"
#include "mendwell/base/workfolder.h"
#include "platform/fs/file.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "tests/engine/engine_fixture.h"

namespace engine_test {
namespace {

namespace fs = std::filesystem;

std::string file(const std::string& op, const std::string& object, const std::string& dest,
                 const std::string& extra = "") {
    const std::size_t slash = dest.rfind('\\');
    return "<File><Operation>" + op + "</Operation><ObjectName>" + object +
           "</ObjectName><DestinationPath dir=\"" + dest.substr(0, slash) + "\" defName=\"" +
           dest.substr(slash + 1) + "\"/>" + extra + "</File>";
}

std::string renamePath(const std::string& dest) {
    const std::size_t slash = dest.rfind('\\');
    return "<RenamePath dir=\"" + dest.substr(0, slash) + "\" defName=\"" + dest.substr(slash + 1) + "\"/>";
}

std::string checksums(const std::wstring& before, const std::wstring& after) {
    std::string text = "<Checksum>";
    if (!before.empty()) text += "<BeforePatch>" + win::toUtf8(before) + "</BeforePatch>";
    if (!after.empty()) text += "<AfterPatch>" + win::toUtf8(after) + "</AfterPatch>";
    return text + "</Checksum>";
}

std::string pds(const std::string& op, const std::string& path, const std::string& subtree = "") {
    return "<PDS><Operation>" + op + "</Operation><Root>HKLM</Root><KeyPath>" + path +
           "</KeyPath><KeyName>V</KeyName><Value "
           "defValue=\"1\"/><DataType>REG_SZ</DataType><SubRegistryTree>" +
           subtree + "</SubRegistryTree></PDS>";
}

class PreflightTest : public EngineTest {
  protected:
    mw::PreflightReport judge(const std::string& files, const std::string& directories = "",
                              const std::string& registry = "") {
        mw::CFastXMLParser parser;
        EXPECT_TRUE(parser.parseBuffer("<Manifest><FileSet>" + files + "</FileSet><DirectorySet>" +
                                       directories + "</DirectorySet><PDSSet>" + registry +
                                       "</PDSSet></Manifest>"));
        return mw::runPreflight(parser.dom(), L"C:\\P", L"mul");
    }

    // The product folder (names, bytes, attributes), the patch tool's folder and the registry below
    // HKLM\Software\T.
    std::string snapshot() {
        std::ostringstream out;
        const fs::path root = machine_->host(L"C:\\P");
        if (fs::exists(root)) {
            for (const auto& entry : fs::recursive_directory_iterator(root)) {
                const std::wstring windows =
                    L"C:\\P\\" + win::fromUtf8(fs::relative(entry.path(), root).string());
                out << entry.path().string() << " " << win::getFileAttributes(windows);
                if (entry.is_regular_file()) out << " " << read(windows);
                out << "\n";
            }
        }
        out << "temp " << win::pathExists(L"C:\\Windows\\Temp") << "\n";
        dumpKey(L"Software\\T", out);
        return out.str();
    }

    static void dumpKey(const std::wstring& path, std::ostringstream& out) {
        win::RegKey key;
        if (key.open(win::RegRoot::localMachine, path) != 0) return;
        out << win::toUtf8(path) << "\n";
        std::wstring name;
        win::DWORD type = 0;
        std::vector<std::uint8_t> data;
        for (win::DWORD i = 0; key.enumValue(i, name, type, data) == 0; ++i)
            out << " " << win::toUtf8(name) << "=" << data.size() << "\n";
        for (win::DWORD i = 0; key.enumKey(i, name) == 0; ++i) dumpKey(path + L"\\" + name, out);
    }

  public:
    static void makeKey(const std::wstring& path) {
        win::RegKey key;
        ASSERT_EQ(key.create(win::RegRoot::localMachine, path), 0);
        ASSERT_EQ(key.setString(L"V", L"0"), 0);
    }
};

struct Put {
    const wchar_t* path;  // a staged object's name when it has no "\"
    const char* bytes;
    bool readOnly = false;
    bool hidden = false;
};

struct Row {
    const char* name;
    std::vector<Put> files;
    std::function<std::string()> fileSet;
    std::string directories;
    std::string registry;
    const wchar_t* deniedKey;  // made below HKLM and denied, or null
    const char* finding;       // part of the one finding, or null when the plan passes
};

TEST_F(PreflightTest, JudgesEachEntryAgainstThePlanAndChangesNothing) {
    const std::wstring oldMd5 = md5Of("old");
    const std::wstring newMd5 = md5Of("new");
    const auto none = [] { return std::string(); };
    const Row rows[] = {
        {"a rename of a file added earlier in the run",
         {{L"1", "new"}},
         [&] {
             return file("add", "1", "C:\\P\\sub\\n.txt", checksums({}, newMd5)) +
                    file("rename", "2", "C:\\P\\sub\\n.txt",
                         renamePath("C:\\P\\r.txt") + checksums({}, newMd5));
         },
         "",
         "",
         nullptr,
         nullptr},
        {"an overwrite of a renamed file, a remove of an added one",
         {{L"C:\\P\\a.dll", "old", true}, {L"2", "new"}, {L"3", "new"}},
         [&] {
             return file("rename", "1", "C:\\P\\a.dll", renamePath("C:\\P\\b.dll") + checksums({}, oldMd5)) +
                    file("overwrite", "2", "C:\\P\\b.dll", checksums(oldMd5, {})) +
                    file("add", "3", "C:\\P\\c.dll") +
                    file("remove", "4", "C:\\P\\c.dll", checksums(newMd5, {}));
         },
         "",
         "",
         nullptr,
         nullptr},
        {"a rename without the checksum after",
         {{L"C:\\P\\a.dll", "old"}},
         [] { return file("rename", "1", "C:\\P\\a.dll", renamePath("C:\\P\\b.dll")); },
         "",
         "",
         nullptr,
         "would not have the checksum after"},
        {"an add onto a different file",
         {{L"C:\\P\\a.dll", "old"}},
         [&] { return file("add", "1", "C:\\P\\a.dll", checksums({}, newMd5)); },
         "",
         "",
         nullptr,
         "File with same name but different MD5 checksum"},
        {"an overwrite of a file changed since",
         {{L"C:\\P\\a.dll", "edited"}},
         [&] { return file("overwrite", "1", "C:\\P\\a.dll", checksums(oldMd5, {})); },
         "",
         "",
         nullptr,
         "Checksum before patch info doesn't match"},
        {"an overwrite of a missing file in a missing folder", {{L"1", "new"}},
         [] { return file("overwrite", "1", "C:\\P\\gone\\a.dll"); }, "", "", nullptr,
         "its folder does not exist"},
        {"a blind overwrite renamed onto a file that is there",
         {{L"C:\\P\\a.ini", "old"}, {L"C:\\P\\b.ini", "other"}, {L"1", "new"}},
         [] { return file("blindoverwrite", "1", "C:\\P\\a.ini", renamePath("C:\\P\\b.ini")); }, "", "",
         nullptr, "already at the new name"},
        {"an add below a file in the way",
         {{L"C:\\P\\x", "a file"}},
         [] { return file("add", "1", "C:\\P\\x\\y.txt"); },
         "",
         "",
         nullptr,
         "in the way"},
        {"two backups under one object name",
         {{L"C:\\P\\a.dll", "old"}, {L"C:\\P\\b.dll", "old"}},
         [] { return file("remove", "1", "C:\\P\\a.dll") + file("remove", "1", "C:\\P\\b.dll"); },
         "",
         "",
         nullptr,
         "already keeps its backup under the object name 1"},
        {"a folder below a file",
         {{L"C:\\P\\x", "a file"}},
         none,
         "<Directory><Operation>add</Operation><DirectoryBase>[INSTALLDIR]\\x\\y</DirectoryBase></Directory>",
         "",
         nullptr,
         "in the way"},
        {"a key tree added earlier, then removed",
         {},
         none,
         "",
         pds("add", "Software\\T\\New\\Sub") + pds("remove", "Software\\T\\New\\Sub", "New\\Sub"),
         nullptr,
         nullptr},
        {"a key tree that is not there",
         {},
         none,
         "",
         pds("remove", "Software\\T\\Gone", "Gone"),
         nullptr,
         "to delete does not exist"},
        // Entries the operations would only fail on half-way through the run.
        {"a device name", {{L"1", "new"}}, [] { return file("add", "1", "C:\\P\\NUL"); }, "", "", nullptr,
         "is a device of the system"},
        {"a path past the limit", {{L"1", "new"}},
         [] { return file("add", "1", "C:\\P\\" + std::string(260, 'a') + ".txt"); }, "", "", nullptr,
         "longer than the system allows"},
        {"an empty object name", {}, [] { return file("add", "", "C:\\P\\n.txt"); }, "", "", nullptr,
         "names no object"},
        {"a folder where a file is named", {{L"C:\\P\\dir\\inner.txt", "x"}, {L"1", "new"}},
         [] { return file("overwrite", "1", "C:\\P\\dir"); }, "", "", nullptr, "a folder is at C:\\P\\dir"},
        {"a hidden target", {{L"C:\\P\\a.dll", "old", false, true}, {L"1", "new"}},
         [] { return file("overwrite", "1", "C:\\P\\a.dll"); }, "", "", nullptr, "is hidden or a system file"},
        {"a key path with a leading backslash", {}, none, "", pds("add", "\\Software\\T\\Bad"), nullptr,
         "registry key path \\Software\\T\\Bad is not valid"},
        {"a value below a denied key",
         {},
         none,
         "",
         pds("add", "Software\\T\\Locked\\Inner"),
         L"Software\\T\\Locked",
         "Software\\T\\Locked is denied"},
        {"a tree holding a denied key",
         {},
         none,
         "",
         pds("remove", "Software\\T\\Tree", "Tree"),
         L"Software\\T\\Tree\\Locked",
         "Tree\\Locked is denied"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        freshMachine();
        makeKey(L"Software\\T");
        for (const Put& f : row.files) {
            if (std::wstring(f.path).find(L'\\') == std::wstring::npos)
                stage(f.path, f.bytes);
            else
                put(f.path, f.bytes, f.readOnly);
            if (f.hidden) {
                ASSERT_TRUE(win::setFileAttributes(f.path, win::getFileAttributes(f.path) | win::attr::hidden));
            }
        }
        if (row.deniedKey) {
            makeKey(row.deniedKey);
            ASSERT_EQ(win::setRegKeyDenied(win::RegRoot::localMachine, row.deniedKey, true), 0);
        }
        const std::string before = snapshot();
        const mw::PreflightReport report = judge(row.fileSet(), row.directories, row.registry);
        EXPECT_EQ(snapshot(), before);
        if (!row.finding) {
            EXPECT_TRUE(report.passed()) << win::toUtf8(report.findings.front());
            continue;
        }
        ASSERT_EQ(report.findings.size(), 1u);
        EXPECT_NE(report.findings.front().find(win::fromUtf8(row.finding)), std::wstring::npos)
            << win::toUtf8(report.findings.front());
        EXPECT_TRUE(logged(L"ERROR", L"Pre-flight: " + report.findings.front()));
    }
}

// Judging says nothing that only the run may say: the operations' own lines stay out of the log.
TEST_F(PreflightTest, AHeldFileIsRefusedAndTheReadOnlyBitStays) {
    put(L"C:\\P\\a.dll", "old", true);
    put(L"C:\\P\\b.dll", "old");
    stage(L"1", "new");
    stage(L"2", "new");
    win::File holder;  // this process stands for the other one: sharing holds between processes
    ASSERT_TRUE(
        holder.open(L"C:\\P\\b.dll", win::access::read, win::share::read, win::Disposition::openExisting));
    const std::string before = snapshot();
    const mw::PreflightReport report =
        judge(file("overwrite", "1", "C:\\P\\a.dll") + file("overwrite", "2", "C:\\P\\b.dll"));
    EXPECT_EQ(snapshot(), before);
    EXPECT_TRUE(readOnly(L"C:\\P\\a.dll"));
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(report.findings.front(),
              L"file entry 2 (overwrite C:\\P\\b.dll): the file C:\\P\\b.dll is in use by another process");
    EXPECT_FALSE(logged(
        L"INFO",
        L"File to be overwritten is present on the target machine. Patcher will now validate the file."));
    EXPECT_FALSE(win::pathExists(backup(L"1")));
}

TEST_F(PreflightTest, TooLittleSpaceForTheNewFilesAndTheBackups) {
    mw::PatchLog::instance().close();
    win::MachineProfile profile;
    profile.freeBytes[L'C'] = 10;
    machine_ = std::make_unique<testing_support::TestMachine>(profile);
    win::createDirectory(L"C:\\captured");
    mw::PatchLog::instance().open(L"C:\\captured\\engine.log", false, mw::logFormatText);
    win::createDirectory(mw::workPath(L"\\StagingArea"));
    win::createDirectory(mw::workPath(L"\\BackUp"));
    put(L"C:\\P\\a.dll", "twelve bytes");
    stage(L"1", "new");  // 3 bytes alone would fit: the backup of the old file does not
    const mw::PreflightReport report = judge(file("overwrite", "1", "C:\\P\\a.dll"));
    ASSERT_EQ(report.findings.size(), 1u);
    EXPECT_EQ(
        report.findings.front(),
        L"drive C:: too little free space for the new files and the backups (15 bytes needed, 10 free)");
    EXPECT_EQ(read(L"C:\\P\\a.dll"), "twelve bytes");
}

}  // namespace
}  // namespace engine_test
