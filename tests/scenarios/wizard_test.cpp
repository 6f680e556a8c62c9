// The wizard of a user's run, played by scripts: every page, cancel, failure and rollback. With
// QT_QPA_PLATFORM=offscreen (as the test preset sets it) the pages are drawn by Qt and the scripts'
// "shot" steps save them under build/<preset>/artefacts/wizard/.
#include <filesystem>
#include <map>
#include <sstream>

#include "mendwell/records/patch_history.h"
#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;

struct WizardRun {
    int exitCode = -1;
    std::vector<std::string> record;  // the dialog's changes and actions, in order
    std::string all;                  // the same, one line each
    // Index of the first record line containing `part` at or after `from`; npos when none.
    std::size_t find(const std::string& part, std::size_t from = 0) const {
        for (std::size_t i = from; i < record.size(); ++i)
            if (record[i].find(part) != std::string::npos) return i;
        return std::string::npos;
    }
};

fs::path shots() {
    const fs::path dir = testing_support::buildDir() / "artefacts" / "wizard";
    fs::create_directories(dir);
    return dir;
}

class WizardTest : public ScenarioTest {
  protected:
    WizardRun runWizard(std::string script, const fs::path& program = patcher(),
                        std::map<std::string, std::string> environment = {}) {
        std::string::size_type at;
        while ((at = script.find("{shots}")) != std::string::npos) script.replace(at, 7, shots().string());
        testing_support::TempDir dir;
        testing_support::writeHostFile(dir.path() / "script", script);
        environment.insert({{"MENDWELL_DIALOG_SCRIPT", (dir.path() / "script").string()},
                            {"MENDWELL_DIALOG_RECORD", (dir.path() / "record").string()},
                            {"LSAN_OPTIONS", "suppressions=" + (testing_support::sourceDir() /
                                                                 "tests/lsan_qt.supp").string()}});
        PatcherRun r = run({}, program, environment);
        WizardRun w;
        w.exitCode = r.exitCode;
        if (r.exitCode == 1) ADD_FAILURE() << r.output;  // a sanitizer's report
        w.all = fs::exists(dir.path() / "record") ? testing_support::readHostFile(dir.path() / "record") : "";
        std::istringstream lines(w.all);
        for (std::string line; std::getline(lines, line);) w.record.push_back(line);
        return w;
    }
    std::wstring product(const wchar_t* name) const { return std::wstring(kInstallDir) + L"\\" + name; }
};

std::string fileEntry(int object, const std::string& name) {
    return "<File><Operation>add</Operation><ObjectName>" + std::to_string(object) +
           "</ObjectName><DestinationPath dir=\"[INSTALLDIR]\\\" defName=\"" + name + "\"/></File>";
}

// Eight added files: long enough for a cancel to land while the files are being written.
PatchFolder eightFiles() {
    PatchFolder p;
    p.manifest = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Manifest><FileSet>";
    for (int i = 1; i <= 8; ++i) {
        p.manifest += fileEntry(i, "f" + std::to_string(i) + ".txt");
        p.payload[std::to_string(i)] = std::string(200000, static_cast<char>('a' + i));
    }
    p.manifest += "</FileSet></Manifest>";
    return p;
}

TEST_F(WizardTest, PatchRunsFromWelcomeToSuccessAndRecordsHistory) {
    registerProduct("9.0");
    const fs::path& program = patcherFor(eightFiles());
    WizardRun w = runWizard(
        "shot {shots}/1-welcome.png\nclick 1\nawait visible 205\nshot {shots}/2-installing.png\n"
        "await text 1 Finish\nshot {shots}/5-success.png\nclick 1\n",
        program);
    EXPECT_EQ(w.exitCode, 0) << w.all << logText();
    for (const char* line :
         {"caption <Orvex Software Update>",
          "text -1 <There is a new patch available for your software. Click Next to update Lumen "
          "TX4 with this patch.>",
          "text 204 <Installing the patch...>", "show 205 1", "text 206 <Extracting resources...>",
          "text 206 <Patching:>", "text 204 <Installation was Successful.>",
          "text -1 <Lumen TX4 has been updated with the patch. Click Finish to exit.>", "text 1 <Finish>",
          "end 1"})
        EXPECT_NE(w.find(line), std::string::npos) << line << "\n" << w.all;
    EXPECT_EQ(w.find("Warning: the patch history"), std::string::npos) << w.all;
    EXPECT_TRUE(contains(logText(), "Updater has successfully updated the application.")) << logText();
    EXPECT_TRUE(machine_->exists(product(L"f8.txt")));
    EXPECT_TRUE(machine_->exists(mw::PatchHistoryFile::pathFor(win::fromUtf8(kProductCode))));
}

// A history that cannot be written once the product is patched: the final page says so below its text.
TEST_F(WizardTest, AHistoryThatCannotBeWrittenLateIsShownOnTheFinalPage) {
    registerProduct("9.0");
    WizardRun w =
        runWizard("click 1\nawait text -1 Warning\nshot {shots}/5-success-no-history.png\nclick 1\n",
                  patcherFor(historyFolderTakenLate()));
    EXPECT_EQ(w.exitCode, 0) << w.all << logText();
    EXPECT_NE(w.find("text -1 <Lumen TX4 has been updated with the patch. Click Finish to exit.\\r\\n\\r\\n"
                     "Warning: the patch history could not be written; the patch may be offered again.>"),
              std::string::npos)
        << w.all;
    EXPECT_TRUE(contains(logText(), "could not be written.")) << logText();
}

TEST_F(WizardTest, CancelOnTheWelcomePageAsksAndNoKeepsThePage) {
    registerProduct("9.0");
    WizardRun w = runWizard("answer no\nclick 2\nanswer yes\nclick 2\n");
    EXPECT_EQ(w.exitCode, 2) << w.all;
    const std::size_t no = w.find("text=<Do you really want to cancel the update?> answer=7");
    const std::size_t yes = w.find("text=<Do you really want to cancel the update?> answer=6");
    ASSERT_NE(no, std::string::npos) << w.all;
    ASSERT_NE(yes, std::string::npos) << w.all;
    EXPECT_LT(no, yes);
    for (std::size_t i = no + 1; i < yes; ++i)
        EXPECT_EQ(w.record[i].find("text 204"), std::string::npos) << w.record[i];
    EXPECT_NE(w.find("end 2", yes), std::string::npos);
    EXPECT_FALSE(machine_->exists(product(L"readme.txt")));
}

// A Japanese user's wizard speaks Japanese; its welcome page is the ja_JP picture of docs/wizard.
TEST_F(WizardTest, AJapaneseUsersWizardSpeaksJapanese) {
    win::MachineProfile japanese;
    japanese.userLanguage = 0x0411;
    japanese.ansiCodePage = 932;
    japanese.oemCodePage = 932;
    machine_ = std::make_unique<testing_support::TestMachine>(japanese);
    registerProduct("9.0");
    WizardRun w = runWizard("shot {shots}/ja_JP-1-welcome.png\nclick 1\nawait text 1 完了\nclick 1\n",
                            patcherFor(eightFiles()));
    EXPECT_EQ(w.exitCode, 0) << w.all << logText();
    for (const char* line : {"caption <Orvex ソフトウェア アップデート>", "text 204 <ようこそ>",
                             "text 1 <次へ>", "text 204 <インストールが完了しました。>", "end 1"})
        EXPECT_NE(w.find(line), std::string::npos) << line << "\n" << w.all;
}

// A product the patch does not fit opens on the final page with its reason.
TEST_F(WizardTest, ValidationFailuresOpenOnTheFinalPage) {
    const struct {
        const char* version;  // nullptr: not registered
        bool combo;
        const char* message;
        int exitCode;
        const char* history = nullptr;  // the latest version in the product's history
    } rows[] = {
        {"9.0.4", true, "The update has already been applied to the product.", 3},
        {"9.0", false, "The update has already been applied to the product.", 3, "9.1"},
        {"8.0", false, "The update cannot be applied to the product.", 2},
        {nullptr, false, "The updater is unable to locate the product to be updated.", 2},
    };
    for (const auto& row : rows) {
        machine_ = std::make_unique<testing_support::TestMachine>();
        if (row.version) registerProduct(row.version);
        if (row.history) writeHistory(row.history);
        const fs::path& program = patcher(
            configXml(row.combo ? "<ComboPatch>true</ComboPatch>" : "<ComboPatch>false</ComboPatch>"));
        WizardRun w = runWizard(std::string(row.combo ? "shot {shots}/5-already-updated.png\n" : "") +
                                    "await text 1 Finish\nclick 1\n",
                                program);
        EXPECT_EQ(w.exitCode, row.exitCode) << w.all;
        EXPECT_NE(w.find(std::string("text -1 <") + row.message + ">"), std::string::npos) << w.all;
        EXPECT_NE(w.find("text 204 <Installation was Unsuccessful.>"), std::string::npos) << w.all;
        EXPECT_NE(w.find("show 2 0"), std::string::npos) << w.all;
        EXPECT_EQ(w.find("text 204 <Installing"), std::string::npos) << w.all;
    }
}

TEST_F(WizardTest, CancelWhileInstallingNoResumesWhereItStopped) {
    registerProduct("9.0");
    WizardRun w =
        runWizard("click 1\nawait progress 205 >= 25\nanswer no\nclick 2\nawait text 1 Finish\nclick 1\n",
                  patcherFor(eightFiles()));
    EXPECT_EQ(w.exitCode, 0) << w.all;
    EXPECT_NE(w.find("answer=7"), std::string::npos) << w.all;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, "Patch Suspended...")) << log;
    EXPECT_TRUE(contains(log, "Patch resumed...")) << log;
    for (int i = 1; i <= 8; ++i) {
        const std::string name = "f" + std::to_string(i) + ".txt";
        EXPECT_TRUE(machine_->exists(product(win::fromUtf8(name).c_str()))) << name;
        const std::string line = "Adding file: C:\\Program Files\\Orvex\\Lumen TX4\\" + name;
        const auto first = log.find(line);
        EXPECT_NE(first, std::string::npos) << line;
        EXPECT_EQ(log.find(line, first + 1), std::string::npos) << "repeated: " << line;
    }
}

TEST_F(WizardTest, CancelWhileInstallingYesRollsBack) {
    registerProduct("9.0");
    WizardRun w =
        runWizard("click 1\nawait progress 205 >= 25\nanswer yes\nclick 2\nawait text 1 Finish\nclick 1\n",
                  patcherFor(eightFiles()));
    EXPECT_EQ(w.exitCode, 2) << w.all;
    const std::size_t rollback = w.find("text 204 <Rollback...>");
    ASSERT_NE(rollback, std::string::npos) << w.all;
    EXPECT_NE(w.find("show 2 0"), std::string::npos) << w.all;
    EXPECT_NE(
        w.find(
            "text -1 <The updater is cancelled by the user. Your product is not upgraded to a new version.>"),
        std::string::npos)
        << w.all;
    for (int i = 1; i <= 8; ++i)
        EXPECT_FALSE(machine_->exists(product(win::fromUtf8("f" + std::to_string(i) + ".txt").c_str()))) << i;
    // The run stopped at the entry after the answer, not at the end of the set.
    const std::string log = logText();
    EXPECT_TRUE(contains(log, record("INFO", "Exiting patch thread, creating rollback thread..."))) << log;
    EXPECT_FALSE(contains(log, "Adding file: " + win::toUtf8(product(L"f8.txt")))) << log;
}

// A fault of the operating system while the wizard runs (an access violation in the patch thread): the
// log names it, the run ends with 2, keeps the backups, and the next start rolls back the half-applied
// patch, the overwritten file included.
TEST_F(WizardTest, AFaultEndsTheRunWithTwoAndTheNextStartRollsItBack) {
    PatchFolder patch = eightFiles();
    patch.manifest.replace(patch.manifest.find("<Operation>add</Operation><ObjectName>1<"), 26,
                           "<Operation>overwrite</Operation>");
    registerProduct("9.0");
    machine_->writeFile(product(L"f1.txt"), "f1 of 9.0");
    WizardRun w = runWizard("click 1\nawait text 1 Finish\n", patcherFor(patch),
                            {{"MENDWELL_FAULT", "fault:4"}});
    EXPECT_EQ(w.exitCode, 2) << w.all;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, record("ERROR", "Returned error code = Exception Code = 3221225477"))) << log;
    EXPECT_TRUE(contains(log, record("INFO", "patching ends."))) << log;
    EXPECT_FALSE(contains(log, "deleting backup file")) << log;
    EXPECT_TRUE(machine_->exists(product(L"f3.txt")));
    PatcherRun again = run({"-SILENT"}, patcherFor(patch), {{"MENDWELL_FAULT", "fail:1"}});
    EXPECT_EQ(again.exitCode, 9) << logText();
    EXPECT_EQ(machine_->readFile(product(L"f1.txt")), "f1 of 9.0") << logText();
    for (int i = 2; i <= 3; ++i)
        EXPECT_FALSE(machine_->exists(product(win::fromUtf8("f" + std::to_string(i) + ".txt").c_str()))) << i;
}

// A change the pre-flight finds impossible (f5.txt held open without write sharing) ends on the final
// page with the refusal's text; nothing was changed, so nothing is rolled back.
TEST_F(WizardTest, APatchThePreflightRefusesEndsWithoutRollback) {
    PatchFolder patch = eightFiles();
    registerProduct("9.0");
    patch.manifest.replace(patch.manifest.find("<Operation>add</Operation><ObjectName>5<"), 26,
                           "<Operation>overwrite</Operation>");
    machine_->writeFile(product(L"f5.txt"), "held");
    win::File holder;
    ASSERT_TRUE(
        holder.open(product(L"f5.txt"), win::access::read, win::share::read, win::Disposition::openExisting));
    WizardRun w = runWizard("click 1\nawait text 1 Finish\nclick 1\n", patcherFor(patch));
    holder.close();
    EXPECT_EQ(w.exitCode, 9) << w.all;
    EXPECT_NE(w.find("text -1 <The update cannot be applied to the product.>"), std::string::npos) << w.all;
    EXPECT_EQ(w.find("Rollback"), std::string::npos) << w.all;
    for (int i = 1; i <= 4; ++i)
        EXPECT_FALSE(machine_->exists(product(win::fromUtf8("f" + std::to_string(i) + ".txt").c_str()))) << i;
    EXPECT_EQ(machine_->readFile(product(L"f5.txt")), "held");
    EXPECT_TRUE(contains(logText(), "is in use by another process")) << logText();
}

TEST_F(WizardTest, FailureMidPatchRollsBackToTheFinalPage) {
    PatchFolder patch = eightFiles();
    registerProduct("9.0");
    // The fifth entry fails as it runs.
    WizardRun w = runWizard(
        "click 1\nawait hidden 2\nshot {shots}/4-rollback.png\nawait text 1 Finish\n"
        "shot {shots}/5-unsuccessful.png\nclick 1\n",
        patcherFor(patch), {{"MENDWELL_FAULT", "fail:5"}});
    EXPECT_EQ(w.exitCode, 2) << w.all;
    const std::size_t rollback = w.find("text 204 <Rollback...>");
    ASSERT_NE(rollback, std::string::npos) << w.all;
    EXPECT_NE(w.find("text 206 <Rollback in progress...>", rollback), std::string::npos) << w.all;
    // The progress runs back to zero, and only then does the final page follow.
    const std::size_t zero = w.find("progress 205 0", rollback);
    const std::size_t final =
        w.find("text -1 <The update cannot be applied to the product. Please re-install", rollback);
    ASSERT_NE(zero, std::string::npos) << w.all;
    ASSERT_NE(final, std::string::npos) << w.all;
    EXPECT_LT(zero, final);
    EXPECT_EQ(w.find("answer="), std::string::npos) << w.all;  // nobody was asked
    for (int i = 1; i <= 4; ++i)
        EXPECT_FALSE(machine_->exists(product(win::fromUtf8("f" + std::to_string(i) + ".txt").c_str()))) << i;
    EXPECT_FALSE(machine_->exists(product(L"f5.txt")));
    EXPECT_FALSE(contains(logText(), "successfully updated"));
}

}  // namespace
}  // namespace scenarios
