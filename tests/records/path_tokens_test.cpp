// Path tokens: the folder table, resolving a leading token, and the two-pass preparation of entries.
#include <gtest/gtest.h>

#include <algorithm>

#include "mendwell/records/path_tokens.h"
#include "platform/system/system.h"
#include "tests/records/records_fixture.h"

namespace {

using mw::PathTokenMap;
using records_test::RecordsTest;

const std::wstring kInstall = L"C:\\Program Files\\Orvex\\Lumen TX4";

win::MachineProfile movedFolders() {
    win::MachineProfile p;
    p.folders[win::csidl::programFiles] = L"D:\\Apps\\";  // trailing backslash is dropped
    p.folders[win::csidl::programFilesCommon] = L"D:\\Shared";
    return p;
}

class PathTokens : public RecordsTest {
  protected:
    PathTokens() : RecordsTest(movedFolders()) {}
};

TEST_F(PathTokens, FolderTableAndItsLogBlock) {
    PathTokenMap map;
    EXPECT_EQ(map.fillFolderTokens(), 0);
    std::wstring fonts, system;
    win::shellFolder(win::csidl::fonts, fonts);
    win::shellFolder(win::csidl::system, system);
    const auto& e = map.entries();
    ASSERT_EQ(e.size(), 12u);
    EXPECT_EQ(e.at(L"[Common]"), L"D:\\Shared");
    EXPECT_EQ(e.at(L"[OrvexCommon]"), L"D:\\Shared\\Orvex");
    EXPECT_EQ(e.at(L"[Utilities]"), e.at(L"[OrvexCommon]"));
    EXPECT_EQ(e.at(L"[ProgramFiles]"), L"D:\\Apps");
    EXPECT_EQ(e.at(L"[OrvexProgramFiles]"), L"D:\\Apps\\Orvex");
    EXPECT_EQ(e.at(L"[FontsFolder]"), fonts);
    EXPECT_EQ(e.at(L"[System32Folder]"), system);

    std::vector<std::wstring> critical = messages(L"CRITICALINFO");
    ASSERT_GE(critical.size(), 2u);
    EXPECT_EQ(critical[0], L"new pathTokenRecord");
    EXPECT_EQ(critical[1], L"new absolutePathRecord");
    // The block's heading spans lines of its own; the labelled lines follow it in table order.
    auto first = std::find(critical.begin(), critical.end(), L"Common Files: D:\\Shared");
    ASSERT_NE(first, critical.end());
    const std::size_t p = static_cast<std::size_t>(first - critical.begin());
    ASSERT_EQ(critical.size(), p + 14);
    EXPECT_EQ(critical[p - 1], L"\r\n Token paths as computed by the patcher... \r\n");
    EXPECT_EQ(critical[p + 1], L"Orvex Program Files: D:\\Apps\\Orvex");
    EXPECT_EQ(critical[p + 6], L"Utilities: D:\\Shared\\Orvex");
    EXPECT_EQ(critical[p + 11], L"System32 Folder: " + system);
    EXPECT_EQ(critical[p + 12], L"delete pathTokenRecord");
    EXPECT_EQ(critical[p + 13], L"delete absolutePathRecord");
}

TEST_F(PathTokens, ResolveReplacesOnlyALeadingKnownToken) {
    PathTokenMap map;
    map.fillFolderTokens();
    EXPECT_EQ(map.resolve(L"[ProgramFiles]\\Orvex\\x.dll"), L"D:\\Apps\\Orvex\\x.dll");
    EXPECT_EQ(map.resolve(L"[Utilities]\\tool.exe"), map.resolve(L"[OrvexCommon]\\tool.exe"));
    EXPECT_EQ(map.resolve(L"[programfiles]\\x"), L"[programfiles]\\x");  // case matters
    EXPECT_EQ(map.resolve(L"C:[Common]\\x"), L"C:[Common]\\x");          // not at the start
    EXPECT_EQ(map.resolve(L"[Nowhere]\\x"), L"[Nowhere]\\x");            // unknown token
    EXPECT_EQ(map.resolve(L"[ProgramFiles\\x"), L"[ProgramFiles\\x");    // no closing bracket
    EXPECT_EQ(map.resolve(L"[Common][Common]"), L"D:\\Shared[Common]");  // one token per call
    EXPECT_EQ(map.resolve(L""), L"");

    map.add(L"[installLanguage]", L"de_DE");
    map.add(L"[installLanguage]", L"fr_FR");  // the first entry for a key stays
    EXPECT_EQ(map.resolve(L"[installLanguage]"), L"de_DE");
    EXPECT_EQ(map.resolve(L"[installLanguage]\\Help"), L"de_DE");  // the rest is dropped
}

TEST_F(PathTokens, EntriesArePreparedInTwoPasses) {
    mw::FileEntryPaths files =
        mw::prepareFilePaths(L"[INSTALLDIR]\\bin\\a.dll", L"[ProgramFiles]\\Orvex\\b.dll", kInstall);
    EXPECT_EQ(files.source, kInstall + L"\\bin\\a.dll");
    EXPECT_EQ(files.target, L"D:\\Apps\\Orvex\\b.dll");

    // The install folder is not known to the first pass.
    PathTokenMap first;
    first.fillFolderTokens();
    EXPECT_EQ(first.resolve(L"[INSTALLDIR]\\x"), L"[INSTALLDIR]\\x");

    EXPECT_EQ(mw::prepareDirectoryPath(L"[INSTALLDIR]\\Plug-ins\\", kInstall), kInstall + L"\\Plug-ins");
    EXPECT_EQ(mw::prepareDirectoryPath(L"[Common]\\Orvex\\", kInstall), L"D:\\Shared\\Orvex");
}

TEST_F(PathTokens, RegistryValueData) {
    EXPECT_EQ(mw::prepareRegistryValue(L"[INSTALLDIR]", kInstall, L"en_US"), kInstall + L"\\");
    EXPECT_EQ(mw::prepareRegistryValue(L"[INSTALLDIR]Presets", kInstall, L"en_US"), kInstall + L"\\Presets");
    EXPECT_EQ(mw::prepareRegistryValue(L"[INSTALLDIR]\\Presets", kInstall, L"en_US"),
              kInstall + L"\\Presets");
    EXPECT_EQ(mw::prepareRegistryValue(L"[installLanguage]", kInstall, L"ja_JP"), L"ja_JP");
    EXPECT_EQ(mw::prepareRegistryValue(L"[installLanguage]\\Dictionaries", kInstall, L"ja_JP"), L"ja_JP");
    EXPECT_EQ(mw::prepareRegistryValue(L"[installLanguage]x", kInstall, L"ja_JP"), L"ja_JP");
    EXPECT_EQ(mw::prepareRegistryValue(L"plain text", kInstall, L"ja_JP"), L"plain text");
    EXPECT_EQ(mw::prepareRegistryValue(L"[Common]", kInstall, L"ja_JP"), L"D:\\Shared\\");
    // "]\" anywhere stops the inserted backslash.
    EXPECT_EQ(mw::registryDataBackslash(L"[INSTALLDIR]x[a]\\b"), L"[INSTALLDIR]x[a]\\b");
    EXPECT_EQ(mw::registryDataBackslash(L"[open"), L"[open");
    EXPECT_EQ(mw::registryDataBackslash(L"x[INSTALLDIR]"), L"x[INSTALLDIR]");
}

}  // namespace
