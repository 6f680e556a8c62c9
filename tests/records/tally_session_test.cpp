// TallySession: loading the library, the queries' answers and their log lines, and every way the
// database can be unavailable.
#include <gtest/gtest.h>

#include "mendwell/records/tally_session.h"
#include "platform/fs/file.h"
#include "platform/resources/resources.h"
#include "tests/records/records_fixture.h"

namespace {

using records_test::RecordsTest;

class TallySessionTest : public RecordsTest {};

TEST_F(TallySessionTest, AnswersQueriesWithTheirLogLines) {
    addProduct("LTX4", "C:\\Program Files\\Orvex\\Lumen TX4\\", "9.0.1", "C7", 1700000000, 1700000500,
               "en_US\\");
    setTallyValue("LTX4", "ProductCode", "{ABC}");
    {
        mw::TallySession s;
        ASSERT_TRUE(s.isLoaded());
        EXPECT_EQ(s.queryInstallDir("LTX4"), L"C:\\Program Files\\Orvex\\Lumen TX4");  // backslash removed
        EXPECT_EQ(s.queryInstallLanguage("LTX4"), L"en_US");
        EXPECT_EQ(s.queryProductCode("LTX4"), L"{ABC}");
        EXPECT_EQ(s.queryVersion("LTX4"), L"9.0.1");
        EXPECT_EQ(s.queryCollectionId("LTX4"), L"C7");
        auto ts = s.queryTimestamps("C7");
        ASSERT_TRUE(ts.has_value());
        EXPECT_EQ(ts->tsInstalled, 1700000000);
        EXPECT_EQ(ts->tsModified, 1700000500);
    }
    std::vector<std::wstring> info = messages(L"INFO");
    const std::vector<std::wstring> expected = {
        L"Loading TALLY library.",
        L"Querying INSTALLDIR from TALLY.",
        L"Successfully loaded the function \"tallyGetPayloadData\" from TALLY library.",
        L"Querying installLanguage from TALLY.",
        L"Successfully loaded the function \"tallyGetPayloadData\" from TALLY library.",
        L"Successfully loaded the function \"tallyGetPayloadData\" from TALLY library.",
        L"Product Code obtained from TALLY: {ABC}",
        L"Successfully loaded the function \"tallyGetPayload\" from TALLY library.",
        L"Version obtained from TALLY: 9.0.1",
        L"Querying collectionID for given payloadID from TALLY.",
        L"Successfully loaded the function \"tallyGetPayloadCollections\" from TALLY library.",
        L"CollectionID obtained from TALLY: C7",
        L"Querying the tsInstalled and tsModified from TALLY.",
        L"Successfully loaded the function \"tallyGetCollection\" from TALLY library.",
        L"tsInstalled obtained from TALLY: 1700000000",
        L"tsModified obtained from TALLY: 1700000500",
    };
    EXPECT_EQ(info, expected);
    EXPECT_EQ(messages(L"CRITICALINFO"),
              (std::vector<std::wstring>{L"Successfully loaded the TALLY library.",
                                         L"Successfully unloaded the TALLY library."}));
}

TEST_F(TallySessionTest, UnknownProductGivesEmptyAnswers) {
    addProduct("LTX4", "C:\\P", "9.0.1");
    {
        mw::TallySession s;
        EXPECT_EQ(s.queryInstallDir("OTHER"), L"");
        EXPECT_EQ(s.queryInstallLanguage("LTX4"), L"");
        EXPECT_EQ(s.queryProductCode("LTX4"), L"");
        EXPECT_EQ(s.queryVersion("OTHER"), L"");
        EXPECT_EQ(s.queryCollectionId("LTX4"), L"");
        EXPECT_FALSE(s.queryTimestamps("C7").has_value());
    }
    EXPECT_TRUE(logged(L"CRITICALINFO", L"TALLY unable to return InstallDir."));
    EXPECT_TRUE(logged(L"ERROR", L"TALLY unable to return szInstallLanguage."));
    EXPECT_TRUE(logged(L"INFO", L"Unable to retrieve the productCode from TALLY."));
    EXPECT_TRUE(logged(L"INFO", L"Unable to retrieve the version from TALLY."));
    EXPECT_TRUE(logged(L"INFO", L"Unable to retrieve the collectionID from TALLY."));
    EXPECT_TRUE(logged(L"INFO", L"Unable to retrieve the tsInstalled and tsModified from TALLY."));
}

// Missing, damaged or locked: the session loads, every query answers empty with the usual lines.
void expectAllEmpty(mw::TallySession& s) {
    EXPECT_TRUE(s.isLoaded());
    EXPECT_EQ(s.queryInstallDir("LTX4"), L"");
    EXPECT_EQ(s.queryInstallLanguage("LTX4"), L"");
    EXPECT_EQ(s.queryVersion("LTX4"), L"");
    EXPECT_EQ(s.queryCollectionId("LTX4"), L"");
    EXPECT_FALSE(s.queryTimestamps("C7").has_value());
}

TEST_F(TallySessionTest, MissingOrDamagedDatabaseAnswersEmpty) {
    installTally();
    {
        mw::TallySession s;
        expectAllEmpty(s);
    }
    EXPECT_TRUE(logged(L"CRITICALINFO", L"TALLY unable to return InstallDir."));
    EXPECT_TRUE(logged(L"INFO", L"Unable to retrieve the version from TALLY."));
    EXPECT_TRUE(logged(L"CRITICALINFO", L"Successfully unloaded the TALLY library."));

    machine_->writeFile(L"C:\\ProgramData\\Orvex\\Tally\\tally.db", std::string(2048, '\x07'));
    mw::TallySession damaged;
    expectAllEmpty(damaged);
}

TEST_F(TallySessionTest, NoLibraryAnywhere) {
    // The test program carries no resources, so there is nothing to extract either.
    {
        mw::TallySession s;
        EXPECT_FALSE(s.isLoaded());
        EXPECT_EQ(s.queryInstallDir("LTX4"), L"");
        EXPECT_EQ(s.queryVersion("LTX4"), L"");
    }
    EXPECT_TRUE(logged(L"INFO", L"Extracting the TALLY library at: " + mw::TallySession::libraryPath()));
    EXPECT_TRUE(logged(L"ERROR",
                       L"Unable to load the TALLY library. VC8 runtime DLLs might not be present on your "
                       L"system. Please install VC8 runtime and try again."));
    EXPECT_EQ(messages(L"CRITICALINFO"), (std::vector<std::wstring>{L"Unable to load the TALLY library.",
                                                                    L"Unable to load the TALLY library."}));
}

TEST_F(TallySessionTest, ExtractsTheLibraryFromTheModuleResource) {
    testing_support::TempDir dir;
    const std::filesystem::path so = testing_support::binDir() / "orvex_tally.so";
    std::string bytes = testing_support::readHostFile(so);
    win::ResourceWriter writer;
    writer.add(std::wstring(L"TALLY"), 100, 0, std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    std::string error;
    ASSERT_TRUE(writer.write(so, dir.path() / "carrier", error)) << error;
    win::Module module;
    ASSERT_TRUE(module.open(dir.path() / "carrier"));

    {
        mw::TallySession s(module);
        EXPECT_TRUE(s.isLoaded());
        EXPECT_EQ(s.queryVersion("LTX4"), L"");  // no database yet, but the library answers
    }
    EXPECT_TRUE(logged(L"INFO", L"Extracting the TALLY library at: " + mw::TallySession::libraryPath()));
    EXPECT_TRUE(logged(L"CRITICALINFO", L"Successfully loaded the TALLY library."));
    std::string written;
    ASSERT_TRUE(win::readFile(mw::TallySession::libraryPath(), written));
    EXPECT_EQ(written, bytes);
}

TEST_F(TallySessionTest, IdsAreCutToTheConversionBuffer) {
    std::string id = mw::tallyId(std::wstring(2000, L'\u00e9'));
    EXPECT_LE(id.size(), 1023u);
    EXPECT_EQ(id.size() % 2, 0u);  // never half a character
    EXPECT_EQ(mw::tallyId(L"{5A7C}"), "{5A7C}");
}

}  // namespace
