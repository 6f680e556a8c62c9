// Started by the update manager (qud-run): detection through the Verdicta library the patcher carries,
// the install folder the database decides, and the result file left for the manager, read back with a
// real XML parser.
#include <expat.h>

#include <cstring>

#include "mendwell/records/patch_history.h"
#include "platform/fs/file.h"
#include "platform/system/file_security.h"
#include "platform/system/system.h"
#include "platform/text/text.h"
#include "tests/scenarios/patcher_fixture.h"

namespace scenarios {
namespace {

namespace fs = std::filesystem;

const wchar_t* const kResultFile = L"C:\\QUD\\result.xml";
// The update manager's idea of the folder, deliberately not the one the database knows.
const char* const kReportedDir = "D:\\Elsewhere\\Lumen\\";
const char* const kProvisional = "Updater did not Worked";
const char* const kAlreadyApplied = "The update has already been applied to the product.";
const char* const kNotLocated = "The updater is unable to locate the product to be updated.";
// The shipped English dictionary's texts the manager reads.
const char* const kNotApplied = "The update cannot be applied to the product.";
const char* const kNotAppliedReInstall =
    "The update cannot be applied to the product. Please re-install the product and try again.";

// What the update manager reads out of the result file.
struct Result {
    bool wellFormed = false;
    std::string code, message;
};

Result parseResult(const std::string& bytes) {
    struct State {
        Result r;
        std::string element;
    } st;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &st);
    XML_SetElementHandler(
        parser,
        [](void* d, const XML_Char* name, const XML_Char**) { static_cast<State*>(d)->element = name; },
        [](void* d, const XML_Char*) { static_cast<State*>(d)->element.clear(); });
    XML_SetCharacterDataHandler(parser, [](void* d, const XML_Char* text, int len) {
        auto& s = *static_cast<State*>(d);
        if (s.element == "ReturnCode") s.r.code.append(text, static_cast<std::size_t>(len));
        if (s.element == "UserMessage") s.r.message.append(text, static_cast<std::size_t>(len));
    });
    st.r.wellFormed = XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), 1) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return st.r;
}

std::string resultXml(int code, const std::string& message) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<Verdicta version=\"5\">\r\n<ReturnCode>" +
           std::to_string(code) + "</ReturnCode>\r\n<UserMessage>" + message +
           "</UserMessage>\r\n</Verdicta>\r\n";
}

std::string configWith(const std::string& extra) {
    return configXml("<ComboPatch>false</ComboPatch>" + extra);
}

class UpdateManagerTest : public ScenarioTest {
  protected:
    explicit UpdateManagerTest(const win::MachineProfile& profile = {}) : ScenarioTest(profile) {
        fs::create_directories(machine_->host(L"C:\\QUD"));
    }

    // qud-run with the patcher carrying the library the build made; no install path when `reported`
    // is null. The patcher is built from `patch` when one is given, else from `config`.
    PatcherRun runFromUpdateManager(const char* reported = kReportedDir,
                                    const std::string& config = configXml(),
                                    std::map<std::string, std::string> environment = {},
                                    const PatchFolder* patch = nullptr) {
        std::vector<std::string> args{"--report", win::toUtf8(kResultFile)};
        if (reported) args.insert(args.end(), {"--install-path", reported});
        args.push_back("--");
        const fs::path library = testing_support::binDir() / "Verdicta.so";
        args.push_back(
            (patch ? patcherWithResultLibrary(library, *patch) : patcherWithResultLibrary(library, config))
                .string());
        environment["QT_QPA_PLATFORM"] = "offscreen";
        auto r = testing_support::runProgram(testing_support::binDir() / "qud-run", args, environment);
        return {r.exitCode, r.output};
    }
    std::string resultFile() const {
        const fs::path host = machine_->host(kResultFile);
        return fs::exists(host) ? testing_support::readHostFile(host) : std::string("(no result file)");
    }
    // The result the manager reads: a well-formed file holding `code` and `message`, open to everyone,
    // and shown by qud-run after the patcher's exit code.
    void expectResult(const PatcherRun& run, int code, const std::string& message) {
        const Result r = parseResult(resultFile());
        EXPECT_TRUE(r.wellFormed) << resultFile();
        EXPECT_EQ(r.code, std::to_string(code)) << resultFile();
        EXPECT_EQ(r.message, message) << resultFile();
        win::FileDacl dacl = win::FileDacl::inherited;
        EXPECT_TRUE(win::getFileDacl(kResultFile, dacl));
        EXPECT_EQ(dacl, win::FileDacl::null);
        EXPECT_TRUE(contains(run.output, "exit code " + std::to_string(run.exitCode) + "\n")) << run.output;
        EXPECT_TRUE(contains(run.output, resultFile())) << run.output;
    }
    void expectDetected(const std::string& log) {
        for (const std::string& line : {
                 record("INFO", "Checkin if its intiated via QUD..."),
                 record("INFO",
                        "Mendwell found that this is the only instance running. Patch will progress."),
                 record("INFO", "The patcher investigating if it is initiated via QUD."),
                 record("INFO", "Patcher has successfully extracted the QUD library from the EXE resource."),
                 record("INFO", "Patcher has successfully loaded the QUD library."),
                 record("INFO", "QUD has successfully detected the product."),
                 // Reported without its trailing backslash.
                 record("INFO",
                        "QUD has detected the product and InstallDir is found to be: D:\\Elsewhere\\Lumen"),
                 record("INFO", "Successfully unloaded the QUD library."),
                 record("INFO", "Patcher is initiated via QUD."),
                 record("INFO",
                        "Mendwell found that you are logged in as an administrator. Patch will progress."),
                 record("INFO", "INSTALLDIR: D:\\Elsewhere\\Lumen"),
             }) {
            EXPECT_TRUE(contains(log, line)) << line << log;
        }
        EXPECT_FALSE(contains(log, "user will be presented the UI now"));
        // Detection builds the library path once and loads from it.
        const auto from = log.find("The patcher investigating if it is initiated via QUD.");
        const auto to = log.find("Patcher has successfully loaded the QUD library.");
        ASSERT_LT(from, to);
        const std::string detection = log.substr(from, to - from);
        EXPECT_EQ(detection.find("Verdicta library path: "), detection.rfind("Verdicta library path: "))
            << detection;
        // Built once for detection and once by the mode; the loads after that do not log it again.
        std::size_t built = 0;
        for (auto at = log.find("Verdicta library path: "); at != std::string::npos;
             at = log.find("Verdicta library path: ", at + 1))
            ++built;
        EXPECT_EQ(built, 2u) << log;
    }
};

// Not located (nothing registered, or the registered folder missing, with or without a space
// requirement): the database's (empty) folder replaces the reported one and the product is reported as
// not located with code 4; the process ends with 5, as in the silent mode.
TEST_F(UpdateManagerTest, ProductNotLocatedReturns5) {
    for (const bool registered : {false, true}) {
        SCOPED_TRACE(registered ? "folder missing" : "not registered");
        machine_ = std::make_unique<testing_support::TestMachine>();
        fs::create_directories(machine_->host(L"C:\\QUD"));
        if (registered) {
            registerProduct("9.0");
            fs::remove_all(machine_->host(kInstallDir));
        }
        PatcherRun r = runFromUpdateManager(
            kReportedDir, registered
                              ? configWith("<PrePatchValidation><SpaceRequirement><Target>20480</Target>"
                                           "</SpaceRequirement></PrePatchValidation>")
                              : configXml());
        EXPECT_EQ(r.exitCode, 5) << r.output;
        const std::string log = logText();
        expectDetected(log);
        EXPECT_TRUE(contains(log, record("INFO",
                                         "InstallDir returned from QUD is different than obtained from TALLY "
                                         "dB, InstallDir from TALLY takes precedence and is found to be: ")))
            << log;
        EXPECT_TRUE(contains(log, record("INFO", "Patcher fails to locate the application."))) << log;
        EXPECT_FALSE(contains(log, "cannot patch this version")) << log;
        EXPECT_EQ(resultFile(), resultXml(4, kNotLocated));
        expectResult(r, 4, kNotLocated);
    }
}

// A fitting product is patched in the database's folder, not the reported one: code 0 (the success text
// is empty without a string dictionary), process result 0 and the history written. The same patcher
// run again finds its own entry there and is refused as already updated, with that text.
TEST_F(UpdateManagerTest, SuccessRecordsHistoryAndASecondRunIsAlreadyUpdated) {
    registerProduct("9.0");
    const std::wstring dll = std::wstring(kInstallDir) + L"\\bin\\lumen.dll";
    machine_->writeFile(dll, "old library");
    PatcherRun r = runFromUpdateManager();
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    std::string log = logText();
    expectDetected(log);
    EXPECT_TRUE(contains(log, record("INFO",
                                     "InstallDir returned from QUD is different than obtained from TALLY dB, "
                                     "InstallDir from TALLY takes precedence and is found to be: C:\\Program "
                                     "Files\\Orvex\\Lumen TX4")))
        << log;
    EXPECT_TRUE(contains(log, record("INFO", "Updater has successfully updated the application."))) << log;
    expectResult(r, 0, "Lumen TX4 has been updated with the patch. Click Finish to exit.");
    EXPECT_EQ(machine_->readFile(std::wstring(kInstallDir) + L"\\readme.txt"), "Lumen TX4 9.0.3\r\n");
    EXPECT_EQ(machine_->readFile(dll), std::string(4096, 'L'));
    std::wstring common;
    win::shellFolder(win::csidl::programFilesCommon, common);
    const std::wstring history = common + L"\\Orvex\\Installers\\" + win::fromUtf8(kProductCode) + L".patch";
    ASSERT_TRUE(machine_->exists(history));
    const std::string historyText = win::toUtf8(win::fromUtf16le(machine_->readFile(history)));
    EXPECT_TRUE(contains(historyText, "<NewVersion>9.0.3</NewVersion>")) << historyText;

    r = runFromUpdateManager();
    EXPECT_EQ(r.exitCode, 6) << r.output;
    log = logText();
    EXPECT_EQ(log.find("Updater has successfully updated the application."),
              log.rfind("Updater has successfully updated the application."));
    EXPECT_TRUE(contains(log, record("ERROR", "The Product you are trying to update is already updated.")));
    expectResult(r, 4, kAlreadyApplied);
}

// A change that cannot be made (a product file held open without sharing) is found by the pre-flight:
// nothing is changed, code 4 is reported with the refusal's text and the process ends with 6.
TEST_F(UpdateManagerTest, AChangeThatCannotBeMadeIsRefusedBeforeAnyChange) {
    registerProduct("9.0");
    const std::wstring dll = std::wstring(kInstallDir) + L"\\bin\\lumen.dll";
    machine_->writeFile(dll, "old library");
    PatcherRun r;
    {
        win::File holder;
        ASSERT_TRUE(holder.open(dll, win::access::read, win::share::none, win::Disposition::openExisting));
        r = runFromUpdateManager();
    }
    EXPECT_EQ(r.exitCode, 6) << r.output;
    const std::string log = logText();
    expectDetected(log);
    EXPECT_TRUE(contains(log, "is in use by another process")) << log;
    EXPECT_FALSE(contains(log, "Overwriting file:"));
    EXPECT_FALSE(contains(log, "Rolling back"));
    expectResult(r, 4, kNotApplied);
    EXPECT_FALSE(machine_->exists(std::wstring(kInstallDir) + L"\\readme.txt"));
    EXPECT_EQ(machine_->readFile(dll), "old library");
}

// A change that fails while the patch runs: the run is rolled back, code 4 is reported and the process
// ends with 9; the history is not written.
TEST_F(UpdateManagerTest, FailingPatchIsRolledBackAndReported) {
    registerProduct("9.0");
    const std::wstring dll = std::wstring(kInstallDir) + L"\\bin\\lumen.dll";
    machine_->writeFile(dll, "old library");
    PatcherRun r = runFromUpdateManager(kReportedDir, configXml(), {{"MENDWELL_FAULT", "fail:2"}});
    EXPECT_EQ(r.exitCode, 9) << r.output;
    const std::string log = logText();
    expectDetected(log);
    EXPECT_TRUE(contains(log, record("ERROR", "Updater failed. Please try again."))) << log;
    EXPECT_FALSE(contains(log, "successfully updated"));
    EXPECT_TRUE(contains(log, "Injected fault at entry 2.")) << log;
    expectResult(r, 4, kNotAppliedReInstall);
    // Brought back: the added file is gone again, the held one untouched.
    EXPECT_FALSE(machine_->exists(std::wstring(kInstallDir) + L"\\readme.txt"));
    EXPECT_EQ(machine_->readFile(dll), "old library");
}

// A history that can no longer be written once the product is patched: the patch stands, with an
// ERROR line and a warning in the result text, silent and from the update manager alike.
TEST_F(UpdateManagerTest, AHistoryThatCannotBeWrittenLateIsAWarningInTheResult) {
    const PatchFolder patch = historyFolderTakenLate();
    const std::string warning =
        "Warning: the patch history could not be written; the patch may be offered again.";
    for (const bool silent : {true, false}) {
        SCOPED_TRACE(silent ? "silent" : "update manager");
        machine_ = std::make_unique<testing_support::TestMachine>();
        fs::create_directories(machine_->host(L"C:\\QUD"));
        registerProduct("9.0");
        const PatcherRun r = silent ? run({"-SILENT"}, patcherFor(patch))
                                    : runFromUpdateManager(kReportedDir, configXml(), {}, &patch);
        EXPECT_EQ(r.exitCode, 0) << r.output << logText();
        const std::string history = win::toUtf8(mw::PatchHistoryFile::pathFor(win::fromUtf8(kProductCode)));
        EXPECT_TRUE(contains(logText(),
                             record("ERROR", "The patch history file " + history + " could not be written.")))
            << logText();
        if (silent)
            EXPECT_TRUE(contains(r.output, "\r\n" + warning + "\r\nPatcher is successful.")) << r.output;
        else
            expectResult(r, 0,
                         "Lumen TX4 has been updated with the patch. Click Finish to exit.\r\n" + warning);
        EXPECT_EQ(machine_->readFile(std::wstring(kInstallDir) + L"\\readme.txt"), "Lumen TX4 9.0.3\r\n");
    }
}

// A patcher killed half-way leaves a run the next one rolls back first; the update manager's result
// says so after the text of the patch it then applied.
TEST_F(UpdateManagerTest, ARunThatDiedIsRolledBackFirstAndTheResultSaysSo) {
    registerProduct("9.0");
    const std::wstring dll = std::wstring(kInstallDir) + L"\\bin\\lumen.dll";
    machine_->writeFile(dll, "old library");
    ASSERT_EQ(run({"-SILENT"}, patcher(), {{"MENDWELL_FAULT", "killafter:2"}}).exitCode, 128 + 9);
    PatcherRun r = runFromUpdateManager();
    EXPECT_EQ(r.exitCode, 0) << r.output << logText();
    EXPECT_TRUE(contains(logText(), "is rolled back.")) << logText();
    expectResult(r, 0,
                 "Lumen TX4 has been updated with the patch. Click Finish to exit.\r\n"
                 "An earlier patch run that did not finish was rolled back first.");
    EXPECT_EQ(machine_->readFile(dll), std::string(4096, 'L'));
}

// Refusals before any change: the code, text and log line by reason, the process result 6.
TEST_F(UpdateManagerTest, RefusalsBeforeAnyChangeReturn6) {
    struct Row {
        const char* name;
        const char* version;
        std::string config;
        const char* newerHistory;  // nullptr: none
        int code;
        std::string message, errorLine;
    } rows[] = {
        {"wrong version", "8.5", configXml(), nullptr, 4, kNotApplied,
         "The patcher with which you are trying to patch the product cannot patch this version of the "
         "product."},
        {"low target space", "9.0",
         configWith("<PrePatchValidation><SpaceRequirement><Target>20480</Target></SpaceRequirement>"
                    "</PrePatchValidation>"),
         nullptr, 4, "Insufficient disk space on Target volume.", "Low disk space in target directory."},
        {"history shows a newer version", "9.0", configXml(), "9.1", 4, kAlreadyApplied,
         "The Product you are trying to update is already updated."},
        {"combo patch older than the product", "9.0.4", configXml("<ComboPatch>true</ComboPatch>"), nullptr,
         4, kAlreadyApplied, "The Product you are trying to update is already updated."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        machine_ = std::make_unique<testing_support::TestMachine>([] {
            win::MachineProfile p;
            p.freeBytes[L'C'] = 1024 * 1024;  // 1 MB: short of the 20 MB asked for
            return p;
        }());
        fs::create_directories(machine_->host(L"C:\\QUD"));
        registerProduct(row.version);
        if (row.newerHistory) writeHistory(row.newerHistory);
        PatcherRun r = runFromUpdateManager(kReportedDir, row.config);
        EXPECT_EQ(r.exitCode, 6) << r.output;
        const std::string log = logText();
        expectDetected(log);
        if (!row.errorLine.empty()) {
            EXPECT_TRUE(contains(log, record("ERROR", row.errorLine))) << log;
        }
        // Refused before the patch run: nothing extracted.
        for (const fs::path& work : workFolders()) EXPECT_FALSE(fs::exists(work / "manifest.xml"));
        expectResult(r, row.code, row.message);
    }
}

// A result file that cannot be written (its folder missing) is logged with its path and the reason; the
// run itself goes on.
TEST_F(UpdateManagerTest, AnUnwritableResultFileIsLogged) {
    fs::remove_all(machine_->host(L"C:\\QUD"));
    PatcherRun r = runFromUpdateManager();
    EXPECT_EQ(r.exitCode, 5) << r.output;
    EXPECT_TRUE(contains(logText(), record("ERROR",
                                           "The result file C:\\QUD\\result.xml for the update "
                                           "manager cannot be written (error 3): The system cannot "
                                           "find the path specified.")))
        << logText();
    EXPECT_TRUE(contains(logText(), record("INFO", "Patcher fails to locate the application."))) << logText();
}

// A library answering a size no Windows path can have (0xFFFFFFFF) is not believed: not detected. The real
// library never answers so; a test double does.
TEST_F(UpdateManagerTest, HugePathSizeIsTakenAsNotDetected) {
    auto r = testing_support::runProgram(
        testing_support::binDir() / "qud-run",
        {"--report", win::toUtf8(kResultFile), "--install-path", kReportedDir, "--",
         patcherWithResultLibrary(MENDWELL_QUD_DOUBLE).string()},
        {{"QT_QPA_PLATFORM", "offscreen"}, {"QUD_DOUBLE_ANSWERED_SIZE", "4294967295"}});
    EXPECT_EQ(r.exitCode, 2) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, record("ERROR",
                                     "QUD reported an install path of 4294967295 bytes, longer than any "
                                     "Windows path; the product is taken as not detected.")))
        << log;
    EXPECT_FALSE(contains(log, "Patcher is initiated via QUD."));
}

// No install path: not the update manager's run. The wizard takes over and the provisional failure
// stays in the result file.
TEST_F(UpdateManagerTest, WithoutAnInstallPathTheWizardRuns) {
    registerProduct("9.0");
    PatcherRun r = runFromUpdateManager(nullptr);
    EXPECT_EQ(r.exitCode, 2) << r.output;
    const std::string log = logText();
    EXPECT_TRUE(contains(log, record("INFO", "Patcher has successfully loaded the QUD library."))) << log;
    EXPECT_TRUE(contains(log, record("INFO",
                                     "Patcher is not intiated via QUD, patcher will now try to find "
                                     "INSTALLDIR through data in config.xml")))
        << log;
    EXPECT_TRUE(contains(
        log,
        record(
            "INFO",
            "Mendwell was not initiated via QUD or with <Silent> option, user will be presented the UI now")))
        << log;
    EXPECT_FALSE(contains(log, "QUD has successfully detected the product."));
    EXPECT_FALSE(contains(log, "Patcher is initiated via QUD."));
    EXPECT_EQ(resultFile(), resultXml(4, kProvisional));
    expectResult(r, 4, kProvisional);
}

}  // namespace
}  // namespace scenarios
