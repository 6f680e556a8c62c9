// The authoring-tool host installed on a fresh machine with one published KITE document, whose menu
// commands run with their dialogs played by a script (headless) and their message boxes recorded.
#pragma once
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/registry/registry.h"
#include "tests/support/testmachine.h"

namespace vireo_tests {

using testing_support::binDir;
using testing_support::runProgram;
using testing_support::TempDir;
using testing_support::TestMachine;

inline constexpr wchar_t kHost[] = L"C:\\Orvex\\Lumen";
inline constexpr char kDoc[] = "C:\\Movies\\Demo.lud";
inline constexpr wchar_t kDescriptor[] = L"C:\\Movies\\Demo-app.xml";
inline const std::string kNamespace = "http://ns.orvex.com/kite/application/1.0";

inline std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

inline bool has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

// What one command did: its exit, the dialogs' record and the message boxes shown outside dialogs.
struct Played {
    testing_support::RunResult run;
    std::string record, boxes;
};

class LumenDialogs : public ::testing::Test {
  public:
    TestMachine machine;
    TempDir dir;

    void SetUp() override {
        ASSERT_EQ(runProgram(binDir() / "lumen", {"install", "C:\\Orvex\\Lumen"}).exitCode, 0);
        std::filesystem::create_directories(machine.host(L"C:\\Movies"));
        std::filesystem::create_directories(machine.host(L"C:\\certs"));
        machine.writeFile(L"C:\\certs\\icon.png",
                          machine.readFile(std::wstring(kHost) + L"\\KIK\\samples\\icons\\KITEApp_128.png"));
        ASSERT_EQ(lumen({kDoc, "new", "--kite"}).exitCode, 0);
        ASSERT_EQ(lumen({kDoc, "publish"}).exitCode, 0);
    }
    testing_support::RunResult lumen(std::vector<std::string> args) {
        // Drawn offscreen by Qt, as every other dialog test. The leak checker looks at the host's exit:
        // it is told of the font caches Qt keeps, even when this program runs outside ctest.
        auto r =
            runProgram(machine.host(std::wstring(kHost) + L"\\Lumen.exe"), args,
                       {{"LSAN_OPTIONS",
                         "suppressions=" + (testing_support::sourceDir() / "tests/lsan_qt.supp").string()},
                        {"MENDWELL_DIALOG_SCRIPT", (dir.path() / "script").string()},
                        {"MENDWELL_DIALOG_RECORD", (dir.path() / "record").string()},
                        {"MENDWELL_UI_SCRIPT", (dir.path() / "boxes").string()},
                        {"QT_QPA_PLATFORM", "offscreen"},
                        {"DISPLAY", ""},
                        {"WAYLAND_DISPLAY", ""}});
        EXPECT_EQ(r.output.find("Sanitizer"), std::string::npos) << r.output;
        return r;
    }
    // Runs a menu command of `doc` with its dialogs playing `script`.
    Played play(const std::string& command, const std::string& script, const std::string& doc = kDoc) {
        testing_support::writeHostFile(dir.path() / "script", script);
        testing_support::writeHostFile(dir.path() / "record", "");
        testing_support::writeHostFile(dir.path() / "boxes", "");
        Played p;
        p.run = lumen({doc, command});
        p.record = testing_support::readHostFile(dir.path() / "record");
        p.boxes = testing_support::readHostFile(dir.path() / "boxes");
        return p;
    }
    std::map<std::string, std::string> data(const std::string& doc = kDoc) {
        std::map<std::string, std::string> out;
        std::istringstream in(lumen({doc, "data"}).output);
        for (std::string line; std::getline(in, line);)
            if (auto eq = line.find('='); eq != std::string::npos)
                out[line.substr(0, eq)] = line.substr(eq + 1);
        return out;
    }
    std::string descriptor() { return machine.readFile(kDescriptor); }
    std::wstring pref(const std::wstring& name) {
        win::RegKey key;
        std::wstring v;
        if (key.open(win::RegRoot::currentUser, L"Software\\Orvex\\Lumen 9\\KITE Settings") == 0)
            key.queryString(name, v);
        return v;
    }
    static void setPref(const std::wstring& subKey, const std::wstring& name, const std::wstring& value) {
        win::RegKey key;
        ASSERT_EQ(key.create(win::RegRoot::currentUser, L"Software\\Orvex\\Lumen 9\\KITE Settings" +
                                                            (subKey.empty() ? L"" : L"\\" + subKey)),
                  0);
        key.setString(name, value);
    }
};

}  // namespace vireo_tests
