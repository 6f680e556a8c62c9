// The process list and the running-applications check, on programs started under chosen names.
#include <gtest/gtest.h>

#include <algorithm>

#include "mendwell/base/patch_state.h"
#include "mendwell/records/running_apps.h"
#include "platform/text/text.h"
#include "tests/records/records_fixture.h"

namespace {

using records_test::RecordsTest;

// A program running under the executable path given, started and stopped through `machine process`.
class RunningProgram {
  public:
    explicit RunningProgram(std::vector<std::string> options) {
        options.insert(options.begin(), {"process", "start"});
        auto run = testing_support::runProgram(testing_support::binDir() / "machine", options);
        EXPECT_EQ(run.exitCode, 0) << run.output;
        pid_ = run.exitCode == 0 ? run.output.substr(0, run.output.find('\n')) : "";
    }
    ~RunningProgram() {
        if (!pid_.empty())
            testing_support::runProgram(testing_support::binDir() / "machine", {"process", "stop", pid_});
    }

  private:
    std::string pid_;
};

class RunningApps : public RecordsTest {
  protected:
    RunningApps()
        : lumen_(
              {"C:\\Program Files\\Orvex\\Lumen TX4\\LumenRA.exe", "--description", "Lumen TX4 Authoring"}),
          helper_({"C:\\Program Files\\Orvex\\Lumen TX4\\LumenRAHelper.exe"}),
          panel_({"C:\\Windows\\System32\\rundll32.exe", "--module", "TandemTX4.cpl", "--description",
                  "Windows host process (Rundll32)"}),
          otherHost_({"C:\\Tools\\rundll32.exe"}) {}

    RunningProgram lumen_, helper_, panel_, otherHost_;
};

bool listed(const std::vector<mw::RunningProcess>& list, const std::wstring& file,
            const std::wstring& shown) {
    return std::any_of(list.begin(), list.end(), [&](const mw::RunningProcess& p) {
        return p.fileName == file && p.displayName == shown;
    });
}

// One set of programs serves both the list and the patterns: starting them is what costs.
TEST_F(RunningApps, ListedByDescriptionAndFoundByPatternsOnce) {
    const auto list = mw::listProcesses();
    EXPECT_TRUE(listed(list, L"LumenRA.exe", L"Lumen TX4 Authoring"));
    EXPECT_TRUE(listed(list, L"LumenRAHelper.exe", L"LumenRAHelper.exe"));  // no description: its name
    EXPECT_TRUE(listed(list, L"TandemTX4.cpl", L"Orvex Tandem TX4 Preferences"));
    // Both hosts are listed under their file name, whatever their description says.
    EXPECT_GE(std::count_if(list.begin(), list.end(),
                            [](const mw::RunningProcess& p) {
                                return p.fileName == L"rundll32.exe" && p.displayName == L"rundll32.exe";
                            }),
              2);
    EXPECT_FALSE(listed(list, L"rundll32.exe", L"Windows host process (Rundll32)"));

    struct Row {
        std::vector<std::wstring> patterns;
        std::vector<std::wstring> names;  // sorted
    };
    const Row rows[] = {
        {{L"umenRA"}, {L"Lumen TX4 Authoring", L"LumenRAHelper.exe"}},  // anywhere in the name
        {{L"^umenRA"}, {}},                                             // "^": at the start only
        {{L"^LumenRA\\.exe$"}, {L"Lumen TX4 Authoring"}},
        {{L"lumenra"}, {}},  // letter case counts
        {{L"LumenRA\\.exe", L"^LumenRA"}, {L"Lumen TX4 Authoring", L"LumenRAHelper.exe"}},  // each once
        {{L"TandemTX4\\.cpl"}, {L"Orvex Tandem TX4 Preferences"}},
        {{L"(unclosed", L"^LumenRAH"}, {L"LumenRAHelper.exe"}},  // a broken pattern is skipped
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(win::toUtf8(row.patterns.front()));
        mw::patchGlobals().validationReason = mw::reasonNone;
        auto names = mw::findRunningApplications(row.patterns);
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, row.names);
        EXPECT_EQ(mw::patchGlobals().validationReason,
                  row.names.empty() ? mw::reasonNone : mw::reasonAppsRunning);
    }
    EXPECT_TRUE(logged(L"ERROR", L"Applications in Use /n\r\nLumen TX4 Authoring"));
    EXPECT_TRUE(logged(L"INFO", L"No applications found in use. Patch will progress."));
    EXPECT_EQ(messages(L"INFO").front(),
              L"Patcher is looking for running applications specified in config.xml file");
}

}  // namespace
