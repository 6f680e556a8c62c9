// The `machine` tool, run as a program on fresh machines.
#include <gtest/gtest.h>

#include <tuple>

#include "platform/fs/file.h"
#include "platform/registry/registry.h"
#include "platform/services/services.h"
#include "platform/system/file_security.h"
#include "platform/text/text.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::TestMachine;
using win::RegKey;
using win::RegRoot;

RunResult machineTool(const std::vector<std::string>& args) {
    return testing_support::runProgram(testing_support::binDir() / "machine", args);
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Every key (full name) and value (type and bytes) below a key of the current machine.
using Entry = std::tuple<std::wstring, std::wstring, win::DWORD, std::vector<std::uint8_t>>;
void snapshot(const RegKey& key, const std::wstring& path, std::vector<Entry>& out) {
    out.emplace_back(path, L"<key>", 0, std::vector<std::uint8_t>{});
    std::wstring name;
    win::DWORD type;
    std::vector<std::uint8_t> data;
    for (win::DWORD i = 0; key.enumValue(i, name, type, data) == 0; ++i)
        out.emplace_back(path, name, type, data);
    for (win::DWORD i = 0; key.enumKey(i, name) == 0; ++i) {
        RegKey sub;
        ASSERT_EQ(sub.open(key, name), 0);
        snapshot(sub, path + L"\\" + name, out);
    }
}

std::vector<Entry> snapshot(RegRoot root, const std::wstring& path) {
    RegKey key;
    std::vector<Entry> out;
    if (key.open(root, path) == 0) snapshot(key, path, out);
    return out;
}

TEST(MachineTool, RegAddAndQueryLikeRegExe) {
    TestMachine machine;
    auto r =
        machineTool({"reg", "add", "HKLM\\Software\\Orvex", "/v", "Level", "/t", "REG_DWORD", "/d", "0x1A"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    r = machineTool({"reg", "add", "HKLM\\Software\\Orvex", "/ve", "/d", "Orvex Ltd"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    r = machineTool({"reg", "add", "HKLM\\Software\\Orvex\\Lumen", "/v", "Paths", "/t", "REG_MULTI_SZ", "/d",
                     "C:\\a\\0C:\\b"});
    ASSERT_EQ(r.exitCode, 0) << r.output;

    RegKey key;
    ASSERT_EQ(key.open(RegRoot::localMachine, L"SOFTWARE\\orvex"), 0);
    win::DWORD level = 0;
    ASSERT_EQ(key.queryDword(L"level", level), 0);
    EXPECT_EQ(level, 26u);

    r = machineTool({"reg", "query", "hklm\\software\\orvex"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output,
              "\nHKEY_LOCAL_MACHINE\\software\\orvex\n"
              "    (Default)    REG_SZ    Orvex Ltd\n"
              "    Level    REG_DWORD    0x1a\n"
              "\n"
              "HKEY_LOCAL_MACHINE\\software\\orvex\\Lumen\n");
    r = machineTool({"reg", "query", "HKLM\\Software\\Orvex\\Lumen", "/v", "paths"});
    EXPECT_TRUE(contains(r.output, "    Paths    REG_MULTI_SZ    C:\\a\\0C:\\b\n")) << r.output;

    // Writing over a value needs /f.
    r = machineTool({"reg", "add", "HKLM\\Software\\Orvex", "/v", "Level", "/t", "REG_DWORD", "/d", "1"});
    EXPECT_EQ(r.exitCode, 1);
    r = machineTool(
        {"reg", "add", "HKLM\\Software\\Orvex", "/v", "Level", "/t", "REG_DWORD", "/d", "1", "/f"});
    EXPECT_EQ(r.exitCode, 0);
}

TEST(MachineTool, RegErrorsAndUsage) {
    TestMachine machine;
    auto r = machineTool({"reg", "query", "HKLM\\Software\\Missing"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, "unable to find the specified registry key")) << r.output;
    r = machineTool({"reg", "query", "HKXX\\Software"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(contains(r.output, "Invalid key name HKXX\\Software")) << r.output;
    r = machineTool({"reg", "add", "HKLM\\Software\\X", "/v", "n", "/t", "REG_DWORD", "/d", "4294967296"});
    EXPECT_EQ(r.exitCode, 2) << r.output;
    r = machineTool({"reg", "delete", "HKLM\\Software"});
    EXPECT_EQ(r.exitCode, 2) << r.output;  // no /f

    ASSERT_EQ(machineTool({"reg", "add", "HKLM\\Software\\Locked"}).exitCode, 0);
    ASSERT_EQ(machineTool({"reg", "deny", "HKLM\\Software\\Locked"}).exitCode, 0);
    RegKey key;
    EXPECT_EQ(key.open(RegRoot::localMachine, L"Software\\Locked"), 5);
    r = machineTool({"reg", "delete", "HKLM\\Software\\Locked", "/f"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, "Access is denied")) << r.output;
    ASSERT_EQ(machineTool({"reg", "deny", "HKLM\\Software\\Locked", "--off"}).exitCode, 0);
    EXPECT_EQ(machineTool({"reg", "delete", "HKLM\\Software\\Locked", "/f"}).exitCode, 0);
    EXPECT_EQ(key.open(RegRoot::localMachine, L"Software\\Locked"), 2);
}

TEST(MachineTool, ExportThenImportOnAFreshMachineGivesTheSameKeys) {
    TempDir files;
    std::string regFile = (files.path() / "orvex.reg").string();
    std::vector<Entry> before;
    {
        TestMachine first;
        RegKey key;
        ASSERT_EQ(key.create(RegRoot::currentUser, L"Software\\Orvex\\Lumen 9\\KITE Settings"), 0);
        ASSERT_EQ(key.setString(L"Path \"quoted\" \\ back", L"C:\\Program Files\\\"x\"\\"), 0);
        ASSERT_EQ(key.setString(L"", L"default"), 0);
        ASSERT_EQ(key.setDword(L"Count", 0xDEADBEEF), 0);
        ASSERT_EQ(key.setString(L"Expand", L"%TEMP%\\kite", win::regtype::expandSz), 0);
        ASSERT_EQ(key.setValue(L"Multi", win::regtype::multiSz, win::regMultiStringData({L"a", L"bé", L"c"})),
                  0);
        std::vector<std::uint8_t> big(200);
        for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<std::uint8_t>(i * 7);
        ASSERT_EQ(key.setValue(L"Blob", win::regtype::binary, big), 0);
        ASSERT_EQ(key.setValue(L"Q", win::regtype::qword, std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}),
                  0);
        ASSERT_EQ(key.setValue(L"Empty", win::regtype::sz, {}), 0);  // no terminator: not a plain string
        ASSERT_EQ(key.setValue(L"Line", win::regtype::sz, win::regStringData(L"two\r\nlines")), 0);
        ASSERT_EQ(key.setValue(L"Odd", 0x20000, std::vector<std::uint8_t>{9}), 0);
        RegKey sub;
        ASSERT_EQ(sub.create(RegRoot::currentUser, L"Software\\Orvex\\Lumen 9\\Empty Key"), 0);
        before = snapshot(RegRoot::currentUser, L"Software\\Orvex");

        auto r = machineTool({"reg", "export", "HKCU\\Software\\Orvex", regFile});
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    std::string bytes = testing_support::readHostFile(regFile);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");  // UTF-16LE with its mark, as the editor writes
    std::wstring text = win::fromUtf16le(std::string_view(bytes).substr(2));
    EXPECT_EQ(
        text.rfind(L"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Orvex]", 0),
        0u);
    EXPECT_NE(text.find(L"\"Count\"=dword:deadbeef\r\n"), std::wstring::npos);
    EXPECT_NE(text.find(L"@=\"default\"\r\n"), std::wstring::npos);
    for (std::size_t start = 0, end; (end = text.find(L"\r\n", start)) != std::wstring::npos;
         start = end + 2) {
        EXPECT_LE(end - start, 80u) << "long line";
    }

    win::MachineProfile other;
    other.userName = L"Someone Else";
    TestMachine second(other);
    auto r = machineTool({"reg", "import", regFile});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(snapshot(RegRoot::currentUser, L"Software\\Orvex"), before);
}

TEST(MachineTool, HandWrittenRegFileImportsAsWindowsWould) {
    TestMachine machine;
    RegKey old;
    ASSERT_EQ(old.create(RegRoot::localMachine, L"Software\\Old\\Deep"), 0);
    ASSERT_EQ(old.create(RegRoot::localMachine, L"Software\\Keep"), 0);
    ASSERT_EQ(old.setString(L"gone", L"x"), 0);
    ASSERT_EQ(old.setString(L"stays", L"y"), 0);

    TempDir files;
    std::string regFile = (files.path() / "hand.reg").string();
    testing_support::writeHostFile(regFile,
                                   "Windows Registry Editor Version 5.00\n"
                                   "\n"
                                   "; written by hand, UTF-8, LF line ends\n"
                                   "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Hand]\n"
                                   "\"Str\"=\"C:\\\\Program Files\\\\Hand\"\n"
                                   "@=\"the default\"\n"
                                   "\"Quote\"=\"say \\\"hi\\\"\"\n"
                                   "\"Trail\"=\"C:\\\\\"\n"  // ends in '\\' but is no continuation
                                   "\"Num\"=dword:0000002a\n"
                                   "\"Bin\"=hex:de,ad,\\\n"
                                   "  be,ef\n"
                                   "\"Exp\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\n"
                                   "\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n"
                                   "\"Q\"=hex(b):01,00,00,00,00,00,00,00\n"
                                   "\"Wide\"=\"\xC3\xA9t\xC3\xA9\"\n"
                                   "\n"
                                   "[-HKEY_LOCAL_MACHINE\\Software\\Old]\n"
                                   "[-HKEY_LOCAL_MACHINE\\Software\\NeverWasThere]\n"
                                   "\n"
                                   "[HKEY_LOCAL_MACHINE\\Software\\Keep]\n"
                                   "\"gone\"=-\n"
                                   "\"alsoAbsent\"=-\n");
    auto r = machineTool({"reg", "import", regFile});
    ASSERT_EQ(r.exitCode, 0) << r.output;

    RegKey key;
    ASSERT_EQ(key.open(RegRoot::localMachine, L"Software\\Hand"), 0);
    std::wstring text;
    ASSERT_EQ(key.queryString(L"str", text), 0);
    EXPECT_EQ(text, L"C:\\Program Files\\Hand");
    ASSERT_EQ(key.queryString(L"", text), 0);
    EXPECT_EQ(text, L"the default");
    ASSERT_EQ(key.queryString(L"Quote", text), 0);
    EXPECT_EQ(text, L"say \"hi\"");
    ASSERT_EQ(key.queryString(L"Wide", text), 0);
    EXPECT_EQ(text, L"été");
    ASSERT_EQ(key.queryString(L"Trail", text), 0);
    EXPECT_EQ(text, L"C:\\");
    win::DWORD n = 0;
    ASSERT_EQ(key.queryDword(L"Num", n), 0);
    EXPECT_EQ(n, 42u);
    win::DWORD type;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(key.queryValue(L"Bin", type, data), 0);
    EXPECT_EQ(type, win::regtype::binary);
    EXPECT_EQ(data, (std::vector<std::uint8_t>{0xde, 0xad, 0xbe, 0xef}));
    ASSERT_EQ(key.queryValue(L"Exp", type, data), 0);
    EXPECT_EQ(type, win::regtype::expandSz);
    EXPECT_EQ(win::regDataString(data), L"%TEMP%");
    ASSERT_EQ(key.queryValue(L"Multi", type, data), 0);
    EXPECT_EQ(type, win::regtype::multiSz);
    EXPECT_EQ(win::regDataMultiString(data), (std::vector<std::wstring>{L"a", L"b"}));
    ASSERT_EQ(key.queryValue(L"Q", type, data), 0);
    EXPECT_EQ(type, win::regtype::qword);

    EXPECT_EQ(key.open(RegRoot::localMachine, L"Software\\Old"), 2);
    ASSERT_EQ(key.open(RegRoot::localMachine, L"Software\\Keep"), 0);
    EXPECT_EQ(key.queryString(L"gone", text), 2);
    EXPECT_EQ(key.queryString(L"stays", text), 0);

    // The same kind of file in UTF-16LE with its mark and CRLF, as the editor saves it.
    std::string utf16 = "\xFF\xFE" + win::toUtf16le(
                                         L"Windows Registry Editor Version 5.00\r\n\r\n"
                                         L"[HKEY_CURRENT_USER\\Software\\Wide]\r\n"
                                         L"\"Name\"=\"\x4e2d\x6587\"\r\n");
    testing_support::writeHostFile(regFile, utf16);
    ASSERT_EQ(machineTool({"reg", "import", regFile}).exitCode, 0);
    ASSERT_EQ(key.open(RegRoot::currentUser, L"Software\\Wide"), 0);
    ASSERT_EQ(key.queryString(L"Name", text), 0);
    EXPECT_EQ(text, L"\x4e2d\x6587");
}

TEST(MachineTool, ABadRegFileChangesNothing) {
    TestMachine machine;
    TempDir files;
    std::string regFile = (files.path() / "bad.reg").string();
    // Long runs of digits are refused like any bad data, never added up past what a number holds.
    for (const char* bad : {"hex:zz", "hex:0123456789abcdef0123456789abcdef", "dword:123456789abcdef01234",
                            "hex(ffffffffffffffffffff):00"}) {
        testing_support::writeHostFile(regFile, std::string("Windows Registry Editor Version 5.00\n"
                                                            "[HKEY_LOCAL_MACHINE\\Software\\First]\n"
                                                            "\"ok\"=dword:00000001\n"
                                                            "\"bad\"=") +
                                                    bad + "\n");
        auto r = machineTool({"reg", "import", regFile});
        EXPECT_EQ(r.exitCode, 1) << bad;
        EXPECT_TRUE(contains(r.output, "line 4")) << r.output;
        RegKey key;
        EXPECT_EQ(key.open(RegRoot::localMachine, L"Software\\First"), 2);
    }

    testing_support::writeHostFile(regFile, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\First]\n");
    auto r = machineTool({"reg", "import", regFile});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, "line 1")) << r.output;
}

TEST(MachineTool, ServicesAddQueryAndSet) {
    TestMachine machine;
    auto r = machineTool({"service", "add", "OrvexSync", "--display", "Orvex Sync", "--state", "running",
                          "--refuse-stop", "--stop-pending", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    win::ServiceRecord record;
    ASSERT_TRUE(win::getService(L"orvexsync", record));
    EXPECT_EQ(record.displayName, L"Orvex Sync");
    EXPECT_EQ(record.state, win::svcstate::running);
    EXPECT_TRUE(record.behaviour.refusesStop);
    EXPECT_EQ(record.behaviour.stopPendingPolls, 3);

    r = machineTool(
        {"service", "set", "ORVEXSYNC", "--accept-stop", "--start-error", "1058", "--state", "stopped"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    ASSERT_TRUE(win::getService(L"OrvexSync", record));
    EXPECT_FALSE(record.behaviour.refusesStop);
    EXPECT_EQ(record.behaviour.startError, 1058u);
    EXPECT_EQ(record.state, win::svcstate::stopped);

    r = machineTool({"service", "query", "orvexsync"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "SERVICE_NAME: OrvexSync\n")) << r.output;
    EXPECT_TRUE(contains(r.output, "STATE              : 1  STOPPED")) << r.output;
    EXPECT_TRUE(contains(r.output, "start fails with 1058")) << r.output;

    EXPECT_EQ(machineTool({"service", "query", "Nothing"}).exitCode, 1);
    EXPECT_EQ(machineTool({"service", "add", "X", "--state", "dancing"}).exitCode, 2);
}

TEST(MachineTool, CreatePathAndLs) {
    TempDir dir;
    std::string root = (dir.path() / "m").string();
    auto r = machineTool({"create", root, "--user", "Kim", "--admin", "no", "--user-lang", "040c", "--free",
                          "C=1048576", "--test"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::string ini = testing_support::readHostFile(dir.path() / "m" / "machine.ini");
    EXPECT_TRUE(contains(ini, "Kim")) << ini;
    EXPECT_TRUE(contains(ini, "test=yes")) << ini;
    EXPECT_EQ(machineTool({"create", root}).exitCode, 1);  // already a machine
    EXPECT_EQ(machineTool({"create", root, "--admin", "maybe"}).exitCode, 2);

    r = machineTool({"--machine", root, "path", "c:\\WINDOWS\\system32\\New.dll"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "/drive_c/Windows/")) << r.output;
    EXPECT_TRUE(contains(r.output, "New.dll")) << r.output;

    r = machineTool({"--machine", root, "ls", "C:\\"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(contains(r.output, "<DIR>  Windows\n")) << r.output;
}

TEST(MachineTool, UnusableMachinesAreNamed) {
    TempDir dir;
    std::string missing = (dir.path() / "nothing-here").string();
    auto r = machineTool({"--machine", missing, "reg", "query", "HKLM\\Software"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, missing)) << r.output;

    TestMachine machine;
    testing_support::writeHostFile(machine.root() / "store.db", std::string(8192, '\x5a'));
    r = machineTool({"--machine", machine.root().string(), "reg", "query", "HKLM\\Software"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(contains(r.output, (machine.root() / "store.db").string())) << r.output;
    EXPECT_TRUE(contains(r.output, "not a Mendwell machine store")) << r.output;

    EXPECT_EQ(machineTool({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(machineTool({"reg", "--help"}).exitCode, 0);
}

// The access list a program set stays with the file through a truncating rewrite, as on Windows, and
// goes with it when it is deleted.
TEST(MachineTool, AclShowsTheListAProgramSet) {
    TestMachine machine;
    machine.writeFile(L"C:\\QUD\\r.xml", "one");
    const std::string root = machine.root().string();
    auto acl = [&] { return machineTool({"--machine", root, "acl", "C:\\QUD\\r.xml"}); };
    EXPECT_TRUE(contains(acl().output, "DACL inherited")) << acl().output;
    ASSERT_EQ(win::setNullDacl(L"C:\\QUD\\r.xml"), 0u);
    ASSERT_TRUE(win::writeFile(L"C:\\QUD\\r.xml", "two"));
    EXPECT_TRUE(contains(acl().output, "DACL null (every account has full access)")) << acl().output;
    ASSERT_TRUE(win::deleteFile(L"C:\\QUD\\r.xml"));
    EXPECT_EQ(acl().exitCode, 1);
    EXPECT_EQ(win::setNullDacl(L"C:\\QUD\\r.xml"), 2u);
    ASSERT_TRUE(win::writeFile(L"C:\\QUD\\r.xml", "three"));
    EXPECT_TRUE(contains(acl().output, "DACL inherited")) << acl().output;
}

}  // namespace
