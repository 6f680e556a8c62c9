// The extension's core without the authoring tool: entry table, paths, script texts, settings, per-user
// values and child processes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/platform/system/env_guard.h"
#include "tests/support/testmachine.h"
#include "vireo/create_win_process.h"
#include "vireo/document_settings.h"
#include "vireo/host_environment.h"
#include "vireo/paths.h"
#include "vireo/script_text.h"
#include "vireo/settings_store.h"
#include "vireo/user_prefs.h"

namespace {

using testing_support::TestMachine;
using namespace vireo;

// The document as a map; a key it does not hold answers the integer 0, as the tool does.
class FakeDocument : public DocumentLink {
  public:
    std::map<std::wstring, std::wstring> data;
    std::wstring documentPath;
    DocumentValue read(std::wstring_view key) override {
        auto it = data.find(std::wstring(key));
        if (it == data.end()) return {true, true, L"0"};
        return {true, false, it->second};
    }
    void write(std::wstring_view key, std::wstring_view value) override { data[std::wstring(key)] = value; }
    void erase(std::wstring_view key) override { data.erase(std::wstring(key)); }
    void publish() override {}
    std::wstring path() override { return documentPath; }
};

TEST(VireoEntry, CopiesTheWholeEntriesTheSizeCovers) {
    std::vector<void*> table(60);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = reinterpret_cast<void*>(0x1000 + i);
    const struct {
        std::size_t bytes;
        std::size_t copied;
    } rows[] = {{2 * sizeof(void*), 2}, {2 * sizeof(void*) + 3, 2}, {0, 0}, {60 * sizeof(void*), 49}};
    for (const auto& row : rows) {
        HostEnvironment env;
        env.copyFrom(table.data(), row.bytes);
        for (std::size_t i = 0; i < HostEnvironment::kMaxEntries; ++i)
            EXPECT_EQ(env.entry(i), i < row.copied ? table[i] : nullptr)
                << row.bytes << " bytes, entry " << i;
        EXPECT_EQ(env.entry(49), nullptr);
    }
    // Missing entries make their steps do nothing.
    HostEnvironment empty;
    std::wstring text = L"kept";
    LumenValue result = 7;
    EXPECT_FALSE(empty.valueToText(nullptr, LUMEN_INT_VALUE(1), text));
    EXPECT_FALSE(empty.runScript(nullptr, nullptr, L"x", result));
    EXPECT_EQ(text, L"kept");
    EXPECT_EQ(result, 0u);
}

TEST(VireoPaths, UrisBaseNamesAndFolders) {
    const std::pair<const wchar_t*, const wchar_t*> uris[] = {
        {L"file:///C|/My%20Movies/a.lmv", L"C:\\My Movies\\a.lmv"},
        {L"file:C:\\x", L"C:\\x"},
        {L"file:/x", L"file:\\x"},
        {L"FILE://localhost/D|/m.lmv", L"D:\\m.lmv"},
        {L"http://host/a b", L"host\\a b"},
        {L"C:/a%41%2", L"C:\\a412"},  // a percent sign not followed by 20 is dropped by itself
    };
    for (const auto& [uri, path] : uris) EXPECT_EQ(uriToPath(uri), path) << uri;
    EXPECT_EQ(uriToPath(nullptr), L"");

    const std::tuple<const wchar_t*, const wchar_t*, const wchar_t*> names[] = {
        {L"C:\\My Movies\\a.b.lmv", L"a.b", L"C:\\My Movies\\"},
        {L"C:\\dir.x\\movie", L"C:\\dir.x\\movie", L"C:\\dir.x\\"},
        {L"C:\\m\\.lmv", L"C:\\m\\.lmv", L"C:\\m\\"},
        {L"movie.lmv", L"movie.lmv", L"movie.lmv"},
    };
    for (const auto& [path, base, folder] : names) {
        EXPECT_EQ(baseName(path), base) << path;
        EXPECT_EQ(folderOf(path), folder) << path;
    }
}

TEST(VireoScripts, TextsAsTheToolExpectsThemWithValuesAsLiterals) {
    EXPECT_EQ(script::readData(L"lmv.folder.path"),
              L"lx.activeDocument().readDocumentData(\"lmv.folder.path\");");
    EXPECT_EQ(script::writeData(L"k", L"say \"hi\" in C:\\x\n"),
              L"lx.activeDocument().writeDocumentData(\"k\", \"string\", \"say \\\"hi\\\" in C:\\\\x\\n\");");
    EXPECT_EQ(script::launchDebugSession(L"C:/T/", L"C:/m/a-app.xml"),
              L"lx.activeDocument().launchDebugSession(\"C:/T//KIK//bin//kdl.exe\", "
              L"\"C:/T//KIK//runtimes//kite//win\", \"C:/m/a-app.xml\");");
}

TEST(VireoSettings, ResetKeepsOnlyTheMemoryOnlyKeys) {
    SettingsStore store;
    store.set(key::certPassword, L"secret");
    store.set(key::timestamp, L"false");
    store.set(key::appName, L"App");
    store.reset();
    EXPECT_EQ(store.value(key::certPassword), L"secret");
    EXPECT_EQ(store.value(key::timestamp), L"false");
    std::wstring value = L"x";
    EXPECT_FALSE(store.get(key::appName, value));
    EXPECT_EQ(value, L"");
}

TEST(VireoSettings, LoadSkipsAnswersOfZeroAndSaveDeletesEmptyValues) {
    FakeDocument doc;
    doc.data = {{key::version, L"0"},  // the tool's answer for a missing key, stored as text
                {key::copyright, L""},         {key::appName, L"App"},
                {key::includedCount, L"2"},    {includedItemKey(0), L"C:/a.txt"},
                {includedItemKey(1), L"C:/b"}, {includedItemKey(2), L"C:/stale"}};
    SettingsStore store;
    store.set(key::version, L"2.0");
    loadDocumentSettings(doc, store);
    EXPECT_EQ(store.value(key::version), L"2.0");
    EXPECT_EQ(store.value(key::appName), L"App");
    EXPECT_EQ(store.value(includedItemKey(1)), L"C:/b");
    EXPECT_EQ(store.value(includedItemKey(2)), L"");

    store.set(key::version, L"");
    store.set(key::includedCount, L"1");
    store.set(includedItemKey(0), L"C:/new.txt");
    saveDocumentSettings(doc, store);
    EXPECT_EQ(doc.data.count(key::copyright), 0u);
    EXPECT_EQ(doc.data.count(key::version), 0u);
    EXPECT_EQ(doc.data[key::includedCount], L"1");
    EXPECT_EQ(doc.data[includedItemKey(0)], L"C:/new.txt");
    EXPECT_EQ(doc.data.count(includedItemKey(1)), 1u);  // the count is read back after it was written
}

TEST(VireoSettings, DocumentMovedAndDescriptorLookup) {
    TestMachine machine;
    machine.writeFile(L"C:\\m\\custom.xml", "<application/>");
    FakeDocument doc;
    doc.documentPath = L"C:\\m\\a.lud";
    EXPECT_TRUE(documentMoved(doc));
    doc.data = {{key::lmvFolder, L"C:/m/"}, {key::lmvBaseName, L"a"}};
    EXPECT_FALSE(documentMoved(doc));
    doc.documentPath = L"C:\\m\\b.lud";
    EXPECT_TRUE(documentMoved(doc));

    SettingsStore store;
    EXPECT_FALSE(descriptorExists(doc, store));
    store.set(key::lmvFolder, L"C:/m/");
    store.set(key::lmvBaseName, L"a");
    EXPECT_FALSE(descriptorExists(doc, store));
    doc.data[key::useCustom] = L"true";
    doc.data[key::customPath] = L"C:/m/custom.xml";
    EXPECT_TRUE(descriptorExists(doc, store));
    EXPECT_EQ(customDescriptorPath(doc), L"C:/m/custom.xml");
    doc.data[key::useCustom] = L"TRUE";
    EXPECT_EQ(customDescriptorPath(doc), L"");
}

std::map<std::wstring, std::wstring> certPathValues() {
    win::RegKey key;
    std::map<std::wstring, std::wstring> out;
    if (key.open(win::RegRoot::currentUser, std::wstring(userprefs::kKey) + L"\\CertPath") != 0) return out;
    std::wstring name, text;
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    for (win::DWORD i = 0; key.enumValue(i, name, type, data) == 0; ++i) out[name] = win::regDataString(data);
    return out;
}

TEST(VireoUserPrefs, CertPathListWritesNewNamesThenOverTheOldest) {
    TestMachine machine;
    std::vector<std::wstring> stored;
    for (int i = 1; i <= 8; ++i) stored.push_back(L"C:\\c" + std::to_wstring(i) + L".p12");
    userprefs::writeList(userprefs::kCertPathList, stored, userprefs::kCertPathMaximum);
    userprefs::writeList(userprefs::kCertPathList,
                         {L"C:\\c2.p12", L"C:\\n1.p12", L"C:\\n2.p12", L"C:\\n3.p12"},
                         userprefs::kCertPathMaximum);
    auto values = certPathValues();
    EXPECT_EQ(values.size(), 10u);
    EXPECT_EQ(values[L"file2"], L"C:\\c2.p12");
    EXPECT_EQ(values[L"file9"], L"C:\\n1.p12");
    EXPECT_EQ(values[L"file10"], L"C:\\n2.p12");
    EXPECT_EQ(values[L"file3"], L"C:\\n3.p12");
    std::vector<std::wstring> read;
    userprefs::readList(userprefs::kCertPathList, read);
    EXPECT_EQ(read.size(), 10u);
}

TEST(VireoUserPrefs, SingleValuesAndReadsThatDoNotFit) {
    TestMachine machine;
    std::wstring value = L"unchanged";
    userprefs::readValue(userprefs::kDontShowMe, value);
    EXPECT_EQ(value, L"unchanged");
    userprefs::writeValue(userprefs::kDontShowMe, L"1");
    userprefs::readValue(userprefs::kDontShowMe, value);
    EXPECT_EQ(value, L"1");
    // 512 characters and the terminator need 1026 bytes: more than the read buffer holds.
    userprefs::writeValue(userprefs::kLastSelectedCert, std::wstring(512, L'x'));
    userprefs::readValue(userprefs::kLastSelectedCert, value);
    EXPECT_EQ(value, L"1");
}

TEST(VireoCreateWinProcess, CapturesIntoTheBufferAndNeverOverrunsIt) {
    TestMachine machine;
    const auto probe = testing_support::binDir() / "mw_probe";
    std::filesystem::create_directories(machine.host(L"C:\\T"));
    std::filesystem::copy_file(probe, machine.host(L"C:\\T\\probe.exe"));

    char buffer[64 + 8];
    std::memset(buffer, '#', sizeof buffer);
    std::strcpy(buffer, "before:");
    EXPECT_EQ(CreateWinProcess(L"C:\\T\\probe.exe flood 5000", true, buffer, 64), 0);
    EXPECT_EQ(std::strlen(buffer), 63u);
    EXPECT_EQ(std::string(buffer, 7), "before:");
    EXPECT_EQ(buffer[64], '#');  // past the given size nothing is touched

    char small[32] = {};
    EXPECT_EQ(CreateWinProcess(L"C:\\T\\probe.exe exit 7", true, small, sizeof small), 7);
    EXPECT_EQ(CreateWinProcess(L"C:\\T\\probe.exe exit 7", false, nullptr, 0), 0);
    EXPECT_EQ(CreateWinProcess(L"", true, small, sizeof small), -1);
    EXPECT_EQ(CreateWinProcess(nullptr, true, small, sizeof small), -1);
}

TEST(VireoCreateWinProcess, AProgramThatCannotStartIsReportedNotFatal) {
    TestMachine machine;
    testing_support::TempDir dir;
    const auto script = dir.path() / "ui.script";
    testing_support::writeHostFile(script, "");
    EnvGuard guard({"MENDWELL_UI_SCRIPT"});
    ::setenv("MENDWELL_UI_SCRIPT", script.c_str(), 1);
    char buffer[16] = {};
    EXPECT_EQ(CreateWinProcess(L"\"C:\\missing\\kdl.exe\" \"a-app.xml\"", true, buffer, sizeof buffer), -1);
    EXPECT_NE(
        testing_support::readHostFile(script).find(
            "caption=<Error> text=<CreateWinProcess failed with error 2: The system cannot find the file "
            "specified.\\r\\n>"),
        std::string::npos)
        << testing_support::readHostFile(script);
}

}  // namespace
