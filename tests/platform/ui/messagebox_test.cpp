#include <gtest/gtest.h>

#include <sstream>

#include "platform/ui/messagebox.h"
#include "tests/platform/system/env_guard.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::readHostFile;
using testing_support::TempDir;
using testing_support::writeHostFile;

std::vector<std::string> records(const std::string& script) {
    std::vector<std::string> out;
    std::istringstream in(script);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("shown messagebox ", 0) == 0) out.push_back(line);
    return out;
}

TEST(MessageBox, ScriptAnswersInOrderAndRecordsEveryBox) {
    TempDir dir;
    const auto script = dir.path() / "ui.script";
    writeHostFile(script, "# answers\nmessagebox: no\nmessagebox: 2\nmessagebox: yes\n");
    EnvGuard guard({"MENDWELL_UI_SCRIPT"});
    ::setenv("MENDWELL_UI_SCRIPT", script.c_str(), 1);

    EXPECT_EQ(win::messageBox(L"Continue?", L"Orvex Software Update", win::mb::yesNo | win::mb::iconQuestion),
              win::idbutton::no);
    EXPECT_EQ(win::messageBox(L"Line one\r\nline two", L"Caption", win::mb::okCancel), win::idbutton::cancel);
    // "yes" is no button of an OK box: the box takes its default.
    EXPECT_EQ(win::messageBox(L"Done", L"Caption", win::mb::ok), win::idbutton::ok);
    // Answers used up: the default button (here the second).
    EXPECT_EQ(win::messageBox(L"Retry?", L"C", win::mb::yesNoCancel | win::mb::defButton2),
              win::idbutton::no);

    const auto shown = records(readHostFile(script));
    ASSERT_EQ(shown.size(), 4u);
    EXPECT_EQ(shown[0],
              "shown messagebox caption=<Orvex Software Update> text=<Continue?> type=0x00000024; answer=7");
    EXPECT_EQ(shown[1],
              "shown messagebox caption=<Caption> text=<Line one\\r\\nline two> type=0x00000001; answer=2");
    EXPECT_EQ(shown[3], "shown messagebox caption=<C> text=<Retry?> type=0x00000103; answer=7");
}

TEST(MessageBox, ScriptIsSharedWithChildProcesses) {
    TempDir dir;
    const auto script = dir.path() / "ui.script";
    writeHostFile(script, "messagebox: retry\nmessagebox: ignore");  // no final line break
    EnvGuard guard({"MENDWELL_UI_SCRIPT"});
    ::setenv("MENDWELL_UI_SCRIPT", script.c_str(), 1);
    EXPECT_EQ(win::messageBox(L"first", L"x", win::mb::abortRetryIgnore), win::idbutton::retry);
    auto run = testing_support::runProgram(testing_support::binDir() / "mw_probe",
                                           {"messagebox", "second", "x", "2"});
    EXPECT_EQ(run.output, "5\n");
    EXPECT_EQ(records(readHostFile(script)).size(), 2u);
}

TEST(MessageBox, WithoutDisplayOrScriptPrintsAndTakesTheDefault) {
    auto run =
        testing_support::runProgram(testing_support::binDir() / "mw_probe",
                                    {"messagebox", "You are not logged in", "Orvex Software Update", "0x114"},
                                    {{"MENDWELL_UI_SCRIPT", ""}, {"QT_QPA_PLATFORM", "offscreen"}});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("Orvex Software Update: You are not logged in\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("7\n"), std::string::npos) << run.output;  // yes/no, second button default
}

}  // namespace
