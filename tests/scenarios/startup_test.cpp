// The patcher's start: one instance, administrators only, the command line, the log level and the log.
#include <regex>

#include "platform/system/mutex.h"
#include "platform/system/system.h"
#include "platform/text/text.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;

const char* const kNoAdminText =
    "You are not logged in as an administrator. Please login as an administrator and try again";

using StartupTest = ScenarioTest;

TEST_F(StartupTest, SecondInstanceReturns12AndWritesNothing) {
    const fs::path& program = patcher();
    win::NamedMutex running;
    bool alreadyExists = true;
    ASSERT_TRUE(running.create(L"Mendwell-{A4B940A7-E84E-4d5e-A076-032F00217215}", alreadyExists));
    ASSERT_FALSE(alreadyExists);
    const auto before = treeOf(machine_->root());

    for (const std::vector<std::string>& args : {std::vector<std::string>{"-SILENT"}, {}, {"-BOGUS"}}) {
        PatcherRun r = run(args, program);
        EXPECT_EQ(r.exitCode, 12);
        EXPECT_EQ(r.output, "");
    }
    EXPECT_EQ(treeOf(machine_->root()), before);

    // Once the first patcher is gone the next one runs.
    running.release();
    EXPECT_EQ(run({"-SILENT"}, program).exitCode, 5);
}

TEST_F(StartupTest, UnusableMachineIsNamedNotTakenForASecondInstance) {
    testing_support::TempDir elsewhere;
    const fs::path missing = elsewhere.path() / "no-machine";
    PatcherRun r = run({"-SILENT"}, patcher(), {{"MENDWELL_MACHINE", missing.string()}});
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_TRUE(contains(r.output, missing.string())) << r.output;

    // A lock folder that cannot hold the instance lock is the same case, not a second patcher.
    fs::remove_all(machine_->root() / "locks");
    testing_support::writeHostFile(machine_->root() / "locks", "a file, not a folder");
    r = run({"-SILENT"});
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_TRUE(contains(r.output, "single-instance lock cannot be created")) << r.output;
    fs::remove(machine_->root() / "locks");

    testing_support::writeHostFile(machine_->root() / "store.db", "not a database");
    r = run({"-SILENT"});
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_TRUE(contains(r.output, "store.db")) << r.output;
    EXPECT_EQ(logBytes(), "");
}

using NotAdministrator = NonAdministratorTest;

TEST_F(NotAdministrator, Returns13WithTheMessageInEveryMode) {
    const fs::path& program = patcher();
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-SILENT"}, {}, {"-LOGLEVEL=3"}, {"/silent"}, {"-UNKNOWN"}}) {
        PatcherRun r = run(args, program);
        EXPECT_EQ(r.exitCode, 13) << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(contains(r.output, kNoAdminText)) << r.output;
        EXPECT_TRUE(contains(r.output, "Orvex Software Update")) << r.output;
    }
    // Refused before the log exists; the work folder holds only the dictionaries read for the message.
    EXPECT_EQ(logBytes(), "");
    for (const fs::path& folder : workFolders())
        for (const std::string& entry : treeOf(folder))
            EXPECT_EQ(entry.rfind("TVRLocalizedStrings", 0), 0u) << entry;
}

TEST_F(NotAdministrator, ScriptedDisplayRecordsTheMessageBox) {
    testing_support::TempDir dir;
    const fs::path script = dir.path() / "ui-script";
    testing_support::writeHostFile(script, "");
    PatcherRun r = run({"-SILENT"}, patcher(), {{"MENDWELL_UI_SCRIPT", script.string()}});
    EXPECT_EQ(r.exitCode, 13);
    const std::string recorded = testing_support::readHostFile(script);
    EXPECT_TRUE(contains(recorded, kNoAdminText)) << recorded;
    EXPECT_TRUE(contains(recorded, "Orvex Software Update")) << recorded;
}

class GermanNonAdministrator : public ScenarioTest {
  protected:
    static win::MachineProfile german() {
        win::MachineProfile p;
        p.administrator = false;
        p.userLanguage = 0x0407;
        return p;
    }
    GermanNonAdministrator() : ScenarioTest(german()) {}
};

TEST_F(GermanNonAdministrator, MessageBoxSpeaksTheUsersLanguage) {
    testing_support::TempDir dir;
    const fs::path script = dir.path() / "ui-script";
    testing_support::writeHostFile(script, "");
    PatcherRun r = run({}, patcher(), {{"MENDWELL_UI_SCRIPT", script.string()}});
    EXPECT_EQ(r.exitCode, 13);
    const std::string recorded = testing_support::readHostFile(script);
    EXPECT_TRUE(contains(recorded,
                         "caption=<Orvex Software-Aktualisierung> text=<Sie sind nicht als Administrator "
                         "angemeldet. Melden Sie sich als Administrator an und versuchen Sie es erneut.>"))
        << recorded;
}

using CommandLineTest = ScenarioTest;

TEST_F(CommandLineTest, LowerCaseSilentRunsTheSilentMode) {
    PatcherRun r = run({"-silent"});
    EXPECT_EQ(r.exitCode, 5);  // no product registered
    EXPECT_TRUE(contains(r.output, "Patcher running in silent mode...")) << r.output;
    EXPECT_TRUE(contains(r.output, "Patcher is unsuccessful.\r\nReturn code: 5")) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, "command line specified: -SILENT\r\n"));
    EXPECT_TRUE(contains(log, "Initiating patch silently...\r\n"));
    EXPECT_TRUE(
        contains(log, "Patcher is passed with -SILENT option. No UI will be presented to the user.\r\n"));
    EXPECT_TRUE(contains(log, "Patcher fails to locate the application.\r\n"));
}

TEST_F(CommandLineTest, SilentWithoutTheDashGivesTheShortUsage) {
    for (const std::string arg : {"/SILENT", "SILENT"}) {
        PatcherRun r = run({arg});
        EXPECT_EQ(r.exitCode, 9) << arg;
        EXPECT_TRUE(contains(r.output, "\r\nUsage: Mendwell.exe <-Silent> \r\nSilent is case-insensitive"))
            << r.output;
        EXPECT_FALSE(contains(r.output, "<-Loglevel>")) << r.output;
        EXPECT_TRUE(contains(logText(), "Patcher is passed with a parameter \" " + arg +
                                            " \". Patcher doesnot recognise the parameter. Please refer the "
                                            "command line usage.\r\n"));
    }
    // The mode returned normally: the run closes its log.
    EXPECT_TRUE(contains(logText(), "patching ends.\r\n"));
}

TEST_F(CommandLineTest, UnknownSwitchReturns9AtOnce) {
    PatcherRun r = run({"-Repair"});
    EXPECT_EQ(r.exitCode, 9);
    EXPECT_TRUE(
        contains(r.output,
                 "\r\nUsage: Mendwell.exe <-Silent> <-Loglevel>\r\nSilent, Loglevel are case-insensitive\r\n "
                 "specify loglevel=0(error), 1(warning), 2(info, default) or 3(debug)"))
        << r.output;
    const auto lines = logLines();
    ASSERT_EQ(lines.size(), 1u) << logText();
    EXPECT_TRUE(
        contains(lines[0] + "\r\n", record("ERROR",
                                           "Patcher is passed with parameter \" -REPAIR \". Patcher "
                                           "doesnot recognise the parameter. Please refer the command "
                                           "line usage.")))
        << lines[0];
    // No clean-up ran: no backup folder was made or emptied, no closing lines.
    for (const fs::path& work : workFolders()) EXPECT_FALSE(fs::exists(work / "BackUp")) << work;
    EXPECT_FALSE(contains(logText(), "patching ends."));
}

// A run killed half-way is rolled back by the next start, but not by one whose command line is refused:
// a mistyped switch changes nothing.
TEST_F(CommandLineTest, ARefusedCommandLineDoesNotRecoverADeadRun) {
    registerProduct("9.0");
    machine_->writeFile(std::wstring(kInstallDir) + L"\\bin\\lumen.dll", "9.0 library");
    ASSERT_EQ(run({"-SILENT"}, patcher(), {{"MENDWELL_FAULT", "killafter:1"}}).exitCode, 128 + 9);
    const auto journaled = [this] {
        int n = 0;
        for (const fs::path& folder : workFolders()) n += fs::exists(folder / "RollbackManifest.xml.journal");
        return n;
    };
    ASSERT_EQ(journaled(), 1);
    for (const std::string arg : {"-Repair", "/SILENT"}) {
        EXPECT_EQ(run({arg}).exitCode, 9) << arg;
        EXPECT_EQ(journaled(), 1) << arg;
        EXPECT_TRUE(machine_->exists(std::wstring(kInstallDir) + L"\\readme.txt")) << arg;
    }
    EXPECT_FALSE(contains(logText(), "it is rolled back first.")) << logText();
    EXPECT_EQ(run({"-SILENT"}).exitCode, 0) << logText();
    EXPECT_EQ(journaled(), 0);
}

// Log levels: 3 admits the debug trace, 7 and 1 leave INFO out, no switch gives INFO but no trace.
TEST_F(CommandLineTest, LogLevelSwitch) {
    run({"-SILENT", "-LOGLEVEL=3"});
    std::string log = logText();
    EXPECT_TRUE(contains(log, record("CRITICALINFO", "new pController"))) << log;
    EXPECT_TRUE(contains(log, record("CRITICALINFO", "new lpszPrompt1")));
    EXPECT_TRUE(contains(log, record("INFO", "patching starts.")));
    std::filesystem::remove(logFile());

    run({"-SILENT"});
    log = logText();
    EXPECT_TRUE(contains(log, record("INFO", "patching starts."))) << log;
    EXPECT_FALSE(contains(log, "CRITICALINFO"));
    std::filesystem::remove(logFile());

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"/SILENT", "-LOGLEVEL=7"}, {"/SILENT", "-LOGLEVEL", "=1"}}) {
        EXPECT_EQ(run(args).exitCode, 9);
        const auto lines = logLines();
        ASSERT_EQ(lines.size(), 1u) << logText();
        std::string commandLine;
        for (const auto& a : args) commandLine += (commandLine.empty() ? "" : " ") + a;
        EXPECT_TRUE(
            contains(lines[0] + "\r\n",
                     record("ERROR", "Patcher is passed with a parameter \" " + commandLine +
                                         " \". Patcher doesnot recognise the parameter. Please refer the "
                                         "command line usage.")))
            << lines[0];
        std::filesystem::remove(logFile());
    }
}

// An empty line is neither silent nor (without the QUD library carried) the update manager's: the run
// reaches the wizard, which without a display or a script closes at once, and ends with 2.
TEST_F(CommandLineTest, EmptyCommandLineFallsThroughToTheWizard) {
    registerProduct("9.0");
    PatcherRun r = run({});
    EXPECT_EQ(r.exitCode, 2);
    const std::string log = logText();
    for (const char* line :
         {"Checkin if its intiated via QUD...", "The patcher investigating if it is initiated via QUD.",
          "Failed to extract the QUD library. QUD library stuffed in the Mendwell might be corrupted, please "
          "try to "
          "build the Mendwell again.",
          "Patcher is not intiated via QUD, patcher will now try to find INSTALLDIR through data in "
          "config.xml",
          "Mendwell was not initiated via QUD or with <Silent> option, user will be presented the UI now",
          "patching ends."}) {
        EXPECT_TRUE(contains(log, line)) << line << "\n" << log;
    }
    EXPECT_FALSE(contains(log, "Initiating patch silently"));
    EXPECT_FALSE(contains(log, "Product is located and validated."));  // nobody pressed Next
    EXPECT_TRUE(contains(log, record("INFO", std::string(84, '*'))));
}

using LogFileTest = ScenarioTest;

TEST_F(LogFileTest, SecondRunAppendsWithoutASecondByteOrderMark) {
    run({"-SILENT"});
    const std::string first = logBytes();
    ASSERT_GE(first.size(), 2u);
    EXPECT_EQ(first.substr(0, 2), "\xFF\xFE");
    run({"-SILENT"});
    const std::string both = logBytes();
    ASSERT_GT(both.size(), first.size());
    EXPECT_EQ(both.substr(0, first.size()), first);
    EXPECT_EQ(both.find("\xFF\xFE", 2), std::string::npos);
}

// `Mendwell -SILENT | true`: console lines nobody reads go nowhere, and the run and its log go on.
TEST_F(LogFileTest, ClosedOutputPipeNeitherKillsTheRunNorDamagesTheLog) {
    auto r = testing_support::runProgram(patcher(), {"-SILENT"}, {{"QT_QPA_PLATFORM", "offscreen"}}, true);
    EXPECT_EQ(r.exitCode, 5) << r.output;
    EXPECT_TRUE(contains(logText(), record("INFO", "patching ends."))) << logText();
}

// A config.xml that does not read is said to be so, on standard error and in a log named "Mendwell.log".
TEST_F(LogFileTest, AConfigThatDoesNotReadIsDiagnosed) {
    PatcherRun r = run({"-SILENT"}, patcher("<PatcherConfig><Name>Lumen TX4</Name>"));
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_TRUE(contains(r.output, "Mendwell: config.xml does not read as XML: ")) << r.output;
    std::wstring appData;
    win::shellFolder(win::csidl::appData, appData);
    const fs::path log = machine_->host(appData + L"\\Orvex\\PatcherLogs\\Mendwell.log");
    ASSERT_TRUE(fs::exists(log));
    const std::string text = win::toUtf8(win::fromUtf16le(testing_support::readHostFile(log).substr(2)));
    const std::string line = record("ERROR", "config.xml does not read as XML: ");
    EXPECT_TRUE(contains(text, line.substr(0, line.size() - 2))) << text;
}

TEST_F(LogFileTest, LinesHaveTheTextLayoutAndTheRunEndsWithAsterisks) {
    run({"-SILENT"});
    const auto lines = logLines();
    ASSERT_GE(lines.size(), 3u);
    // Date, two blanks, time, three blanks, INFO, fourteen blanks, the message.
    const std::regex info(R"(\d\d/\d\d/\d\d  \d\d:\d\d:\d\d   INFO {14}patching starts\.)");
    EXPECT_TRUE(std::regex_match(lines[0], info)) << lines[0];
    EXPECT_TRUE(contains(lines[lines.size() - 2], "  patching ends.")) << lines[lines.size() - 2];
    EXPECT_TRUE(contains(lines.back(), "    " + std::string(84, '*'))) << lines.back();
    EXPECT_EQ(lines.back().substr(lines.back().size() - 85), " " + std::string(84, '*'));
    // Every line ends with CR LF in the file.
    const std::string text = logText();
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

}  // namespace
}  // namespace scenarios
