// The extension in the real authoring-tool host: documents, menu commands and the scripts between them.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/xmldom/xmldom.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::binDir;
using testing_support::readHostFile;
using testing_support::runProgram;
using testing_support::RunResult;
using testing_support::TempDir;
using testing_support::TestMachine;

// The leak checker loses the globals of a library whose path holds a blank, so the tool is installed
// where no blank is.
constexpr wchar_t kHost[] = L"C:\\Orvex\\Lumen";
constexpr char kDoc[] = "C:\\My Movies\\My Movie.lud";
const std::string kNs = "http://ns.orvex.com/kite/application/1.0";

bool has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

class LumenHost : public ::testing::Test {
  protected:
    TestMachine machine;
    TempDir dir;
    std::filesystem::path script = dir.path() / "ui.script";

    void SetUp() override {
        auto installed = runProgram(binDir() / "lumen", {"install", "C:\\Orvex\\Lumen"});
        ASSERT_EQ(installed.exitCode, 0) << installed.output;
        std::filesystem::create_directories(machine.host(L"C:\\My Movies"));
        answers("");
    }
    void answers(const std::string& lines) { testing_support::writeHostFile(script, lines); }
    RunResult lumen(std::vector<std::string> args) {
        return runProgram(machine.host(std::wstring(kHost) + L"\\Lumen.exe"), args,
                          {{"MENDWELL_UI_SCRIPT", script.string()}});
    }
    std::string shown() { return readHostFile(script); }
    std::string file(const std::wstring& path) { return machine.exists(path) ? machine.readFile(path) : ""; }
    std::map<std::string, std::string> data() {
        std::map<std::string, std::string> out;
        std::istringstream in(lumen({kDoc, "data"}).output);
        for (std::string line; std::getline(in, line);)
            if (auto eq = line.find('='); eq != std::string::npos)
                out[line.substr(0, eq)] = line.substr(eq + 1);
        return out;
    }
    // The document's active profile and its strict-mode setting.
    std::pair<std::wstring, std::wstring> activeProfile() {
        win::xml::Document doc;
        EXPECT_TRUE(doc.load(L"C:\\My Movies\\My Movie.lud")) << doc.error();
        auto profiles = doc.root().firstChild(L"PublishProfiles");
        for (const auto& p : profiles.children())
            if (p.attribute(L"name") == profiles.attribute(L"active"))
                return {p.attribute(L"name"), p.attribute(L"lsStrictMode")};
        return {};
    }
    // The launcher runs on its own; its report lines, once `count` are there.
    std::vector<std::string> launcherReports(std::size_t count) {
        std::vector<std::string> lines;
        for (int i = 0; i < 200; ++i) {
            lines.clear();
            std::istringstream in(file(std::wstring(kHost) + L"\\KIK\\bin\\kdl.log"));
            for (std::string line; std::getline(in, line);) lines.push_back(line);
            if (lines.size() >= count) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return lines;
    }
};

TEST_F(LumenHost, PublishWritesTheDefaultDescriptorBesideTheMovie) {
    ASSERT_EQ(lumen({kDoc, "new", "--kite"}).exitCode, 0);
    auto r = lumen({kDoc, "publish"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    // The movie's URI file:///C|/My%20Movies/My%20Movie.lmv names the folder and base name.
    const std::string descriptor = file(L"C:\\My Movies\\My Movie-app.xml");
    EXPECT_TRUE(has(descriptor, "<id>com.orvex.example.My-Movie</id><version>1.0</version>")) << descriptor;
    EXPECT_TRUE(has(descriptor, "<content>My&#37;20Movie.lmv</content>")) << descriptor;
    EXPECT_TRUE(has(descriptor, "<application xmlns=\"" + kNs + "\">")) << descriptor;
    EXPECT_TRUE(machine.exists(L"C:\\My Movies\\My Movie.lmv"));
    // The settings live in the document only once the user saves them.
    EXPECT_TRUE(data().empty());
}

TEST_F(LumenHost, ATableOfTwoEntriesStillRegisters) {
    ASSERT_EQ(lumen({kDoc, "new", "--kite"}).exitCode, 0);
    auto r = lumen({kDoc, "info", "--table-bytes", std::to_string(2 * sizeof(void*)), "--verbose"});
    for (const char* name : {"Publish", "TestMovie", "DebugMovie", "OpenSettingDialog", "PackageKITEFile",
                             "PackageAlert", "OpenInfoDialog"})
        EXPECT_TRUE(has(r.output, std::string("Vireo registered ") + name + " (")) << r.output;
    // The introduction needs no script entry: it is shown (headless, nobody answers it: closed unanswered,
    // so nothing is remembered).
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::wstring remembered;
    win::RegKey opened;
    if (opened.open(win::RegRoot::currentUser, L"Software\\Orvex\\Lumen 9\\KITE Settings") == 0)
        opened.queryString(L"dontshowme", remembered);
    EXPECT_EQ(remembered, L"");

    // "Do not show again" keeps it away.
    win::RegKey key;
    ASSERT_EQ(key.create(win::RegRoot::currentUser, L"Software\\Orvex\\Lumen 9\\KITE Settings"), 0);
    key.setString(L"dontshowme", L"1");
    answers("");
    EXPECT_EQ(lumen({kDoc, "info"}).exitCode, 0);
    EXPECT_EQ(shown(), "");
}

TEST_F(LumenHost, SettingsRoundTripThroughTheDocument) {
    ASSERT_EQ(lumen({kDoc, "new", "--kite"}).exitCode, 0);
    const std::string description = "say \"hi\" \\o/ \\\" end";
    lumen({kDoc, "data", "com.kite.vesper.copyright", ""});
    lumen({kDoc, "data", "com.kite.vesper.description", description});
    lumen({kDoc, "data", "com.kite.vesper.destination", "C:/old/Old.kite"});

    // A document never published counts as moved: it is published and its package name forgotten.
    auto r = lumen({kDoc, "settings"});
    EXPECT_EQ(r.exitCode, 0) << r.output;  // headless, the dialog closes unanswered
    auto saved = data();
    EXPECT_EQ(saved["lmv.folder.path"], "C:/My Movies/");
    EXPECT_EQ(saved["lumen.lmv.basename"], "My Movie");
    EXPECT_EQ(saved["com.kite.vesper.description"], description);
    EXPECT_EQ(saved.count("com.kite.vesper.copyright"), 0u);
    EXPECT_EQ(saved.count("com.kite.vesper.destination"), 0u);
    EXPECT_EQ(saved.count("com.kite.vesper.version"), 0u);  // the tool's "0" never becomes a value

    // Not moved now: the settings are reloaded and saved unchanged.
    lumen({kDoc, "data", "com.kite.vesper.destination", "C:/out/App.kite"});
    lumen({kDoc, "settings"});
    EXPECT_EQ(data()["com.kite.vesper.destination"], "C:/out/App.kite");
    EXPECT_EQ(data()["com.kite.vesper.description"], description);
}

TEST_F(LumenHost, TestingAScenePublishesAFreshDescriptorFirst) {
    ASSERT_EQ(lumen({kDoc, "new", "--kite"}).exitCode, 0);
    ASSERT_EQ(lumen({kDoc, "publish"}).exitCode, 0);
    const std::wstring scene = L"C:\\My Movies\\My Movie_Scene 1-app.xml";
    EXPECT_EQ(lumen({kDoc, "test", "--scene", "Scene 1"}).exitCode, 0);
    machine.writeFile(scene, "<edited/>");
    machine.writeFile(
        L"C:\\My Movies\\My Movie-app.xml",
        "<application xmlns=\"" + kNs +
            "\"><id>edited.by.hand</id><filename>M</filename>"
            "<version>2</version><initialWindow><content>My%20Movie.lmv</content></initialWindow>"
            "</application>");
    EXPECT_EQ(lumen({kDoc, "test", "--scene", "Scene 1"}).exitCode, 0);
    EXPECT_EQ(lumen({kDoc, "test"}).exitCode, 0);

    EXPECT_TRUE(has(file(scene), "<id>com.orvex.example.My-Movie-Scene-1</id>")) << file(scene);
    EXPECT_TRUE(has(file(L"C:\\My Movies\\My Movie-app.xml"), "edited.by.hand"));
    const auto reports = launcherReports(3);
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_TRUE(has(reports[1], "My Movie_Scene 1.lmv as com.orvex.example.My-Movie-Scene-1")) << reports[1];
    EXPECT_TRUE(has(reports[2], "as edited.by.hand")) << reports[2];
}

TEST_F(LumenHost, SwitchingToTheRuntimeProfileKeepsTheScriptSettings) {
    ASSERT_EQ(lumen({kDoc, "new"}).exitCode, 0);
    answers("messagebox: cancel\n");
    EXPECT_EQ(lumen({kDoc, "settings"}).exitCode, 0);
    EXPECT_TRUE(has(shown(), "caption=<Orvex Lumen TX4> text=<Прежде чем задавать настройки приложения"))
        << shown();
    EXPECT_TRUE(has(shown(), "type=0x00000031; answer=2")) << shown();
    EXPECT_EQ(activeProfile().first, L"Default");

    answers("messagebox: ok\n");
    EXPECT_EQ(lumen({kDoc, "settings"}).exitCode, 0);
    EXPECT_EQ(activeProfile(), std::make_pair(std::wstring(L"Orvex KITE 1.0"), std::wstring(L"true")));
    EXPECT_TRUE(machine.exists(L"C:\\My Movies\\My Movie-app.xml"));
}

TEST_F(LumenHost, TestMovieSwitchesTheProfileThroughTheExtensionsScript) {
    ASSERT_EQ(lumen({kDoc, "new"}).exitCode, 0);
    EXPECT_EQ(lumen({kDoc, "test"}).exitCode, 0);
    EXPECT_EQ(activeProfile(), std::make_pair(std::wstring(L"Orvex KITE 1.0"), std::wstring(L"true")));
    ASSERT_EQ(launcherReports(1).size(), 1u);
}

TEST_F(LumenHost, ALauncherThatCannotStartIsReportedAndTheToolCarriesOn) {
    ASSERT_EQ(lumen({kDoc, "new", "--kite"}).exitCode, 0);
    std::filesystem::remove(machine.host(std::wstring(kHost) + L"\\KIK\\bin\\kdl.exe"));
    auto r = lumen({kDoc, "test"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(has(shown(),
                    "caption=<Error> text=<CreateWinProcess failed with error 2: The system cannot "
                    "find the file specified.\\r\\n>"))
        << shown();
    // The document was saved after the command, as it is after every command that ends normally.
    EXPECT_TRUE(machine.exists(L"C:\\My Movies\\My Movie.lmv"));
}

TEST_F(LumenHost, DebugMovieRunsTheLauncherUnderTheDebugger) {
    ASSERT_EQ(lumen({kDoc, "new", "--kite"}).exitCode, 0);
    auto r = lumen({kDoc, "debug"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const auto reports = launcherReports(1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_TRUE(has(reports[0], "under the debugger from C:\\My Movies\\My Movie-app.xml")) << reports[0];

    // A launcher that refuses the descriptor makes the call fail.
    machine.writeFile(L"C:\\My Movies\\My Movie-app.xml", "<application xmlns=\"urn:other\"/>");
    EXPECT_EQ(lumen({kDoc, "debug"}).exitCode, 3);
    EXPECT_TRUE(has(launcherReports(2).back(), "error 102")) << launcherReports(2).back();
}

}  // namespace
