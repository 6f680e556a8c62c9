// The installed-product database stand-in, called through its exports as the patcher calls them.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "outside/tally/tally_api.h"
#include "platform/system/library.h"
#include "platform/system/system.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::binDir;
using testing_support::readHostFile;
using testing_support::runProgram;
using testing_support::TestMachine;

constexpr const wchar_t* kDb = L"C:\\ProgramData\\Orvex\\Tally\\tally.db";

// A machine with the built library copied into it and loaded from there, as the patcher does.
class TallyLibrary : public ::testing::Test {
  protected:
    void SetUp() override {
        machine.writeFile(L"C:\\lib\\orvex_tally.dll", readHostFile(binDir() / "orvex_tally.so"));
        ASSERT_TRUE(lib.load(L"C:\\lib\\orvex_tally.dll"));
        open = lib.function<TallyOpenSessionFn>("tallyOpenSession");
        commit = lib.function<TallySessionCommitFn>("tallySessionCommit");
        close = lib.function<TallyCloseSessionFn>("tallyCloseSession");
        data = lib.function<TallyGetPayloadDataFn>("tallyGetPayloadData");
        payload = lib.function<TallyGetPayloadFn>("tallyGetPayload");
        collections = lib.function<TallyGetPayloadCollectionsFn>("tallyGetPayloadCollections");
        collection = lib.function<TallyGetCollectionFn>("tallyGetCollection");
        addProduct = lib.function<TallyAddProductFn>("tallyAddProduct");
        setValue = lib.function<TallySetValueFn>("tallySetValue");
        removeProduct = lib.function<TallyRemoveProductFn>("tallyRemoveProduct");
        ASSERT_TRUE(open && commit && close && data && payload && collections && collection && addProduct &&
                    setValue && removeProduct);
        win::setEnv(L"ORVEX_TALLY_BUSY_MS", L"100");
    }
    void TearDown() override { win::unsetEnv(L"ORVEX_TALLY_BUSY_MS"); }

    void addSample() {
        ASSERT_EQ(addProduct("LTX4", "C:\\Program Files\\Orvex\\Lumen TX4\\", "en_US", "{GUID-1}", "9.0.1",
                             "COLL-7", 1700000000, 1700000500),
                  TALLY_OK);
    }

    // Every query on a session that could not be opened must fail cleanly.
    void expectEveryQueryFails(TallyHandle h) {
        const char* text = "stale";
        EXPECT_NE(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "INSTALLDIR", &text), TALLY_OK);
        EXPECT_EQ(text, nullptr);
        TallyPayloadRecord rec{};
        EXPECT_NE(payload(h, "LTX4", &rec), TALLY_OK);
        EXPECT_EQ(rec.version, nullptr);
        const char* const* list = nullptr;
        EXPECT_NE(collections(h, TALLY_RELATION_OWNING_COLLECTIONS, "LTX4", &list), TALLY_OK);
        EXPECT_EQ(list, nullptr);
        TallyCollectionRecord c{};
        EXPECT_NE(collection(h, "COLL-7", &c), TALLY_OK);
        EXPECT_NE(commit(h), TALLY_OK);
        EXPECT_NE(close(h), TALLY_OK);
    }

    std::filesystem::path dbHost() const { return machine.host(kDb); }

    TestMachine machine;
    win::Library lib;
    TallyOpenSessionFn open = nullptr;
    TallySessionCommitFn commit = nullptr;
    TallyCloseSessionFn close = nullptr;
    TallyGetPayloadDataFn data = nullptr;
    TallyGetPayloadFn payload = nullptr;
    TallyGetPayloadCollectionsFn collections = nullptr;
    TallyGetCollectionFn collection = nullptr;
    TallyAddProductFn addProduct = nullptr;
    TallySetValueFn setValue = nullptr;
    TallyRemoveProductFn removeProduct = nullptr;
};

TEST_F(TallyLibrary, AnswersEveryQueryForARegisteredProduct) {
    addSample();
    TallyHandle h = nullptr;
    ASSERT_EQ(open(&h), TALLY_OK);
    ASSERT_NE(h, nullptr);

    const char* dir = nullptr;
    const char* lang = nullptr;
    const char* code = nullptr;
    ASSERT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "INSTALLDIR", &dir), TALLY_OK);
    ASSERT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "installLanguage", &lang), TALLY_OK);
    ASSERT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "ProductCode", &code), TALLY_OK);

    TallyPayloadRecord rec{};
    ASSERT_EQ(payload(h, "LTX4", &rec), TALLY_OK);
    const char* const* list = nullptr;
    ASSERT_EQ(collections(h, TALLY_RELATION_OWNING_COLLECTIONS, "LTX4", &list), TALLY_OK);
    TallyCollectionRecord c{};
    ASSERT_EQ(collection(h, list[0], &c), TALLY_OK);

    // Texts from earlier calls are still intact after later ones, until the session closes.
    EXPECT_STREQ(dir, "C:\\Program Files\\Orvex\\Lumen TX4\\");
    EXPECT_STREQ(lang, "en_US");
    EXPECT_STREQ(code, "{GUID-1}");
    EXPECT_STREQ(rec.version, "9.0.1");
    EXPECT_STREQ(rec.productCode, "{GUID-1}");
    EXPECT_EQ(rec.collectionCount, 1);
    EXPECT_STREQ(list[0], "COLL-7");
    EXPECT_EQ(list[1], nullptr);
    EXPECT_EQ(c.tsInstalled, 1700000000);
    EXPECT_EQ(c.tsModified, 1700000500);
    EXPECT_EQ(c.payloadCount, 1);

    EXPECT_EQ(commit(h), TALLY_OK);
    EXPECT_EQ(close(h), TALLY_OK);
}

TEST_F(TallyLibrary, UnknownNamesAndWrongArgumentsFail) {
    addSample();
    TallyHandle h = nullptr;
    ASSERT_EQ(open(&h), TALLY_OK);
    const char* text = "stale";
    EXPECT_EQ(data(h, "NOPE", TALLY_CATEGORY_PROPERTIES, "INSTALLDIR", &text), TALLY_E_NOT_FOUND);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "NoSuchValue", &text), TALLY_E_NOT_FOUND);
    EXPECT_NE(data(h, "LTX4", 4, "INSTALLDIR", &text), TALLY_OK);  // another category holds nothing
    EXPECT_EQ(data(h, nullptr, TALLY_CATEGORY_PROPERTIES, "INSTALLDIR", &text), TALLY_E_ARGUMENT);
    EXPECT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "INSTALLDIR", nullptr), TALLY_E_ARGUMENT);
    TallyPayloadRecord rec{};
    EXPECT_EQ(payload(h, "NOPE", &rec), TALLY_E_NOT_FOUND);
    const char* const* list = nullptr;
    EXPECT_EQ(collections(h, 1, "LTX4", &list), TALLY_E_ARGUMENT);
    TallyCollectionRecord c{};
    EXPECT_EQ(collection(h, "NOPE", &c), TALLY_E_NOT_FOUND);
    EXPECT_EQ(close(h), TALLY_OK);
    EXPECT_EQ(open(nullptr), TALLY_E_ARGUMENT);
}

TEST_F(TallyLibrary, ProductWithoutCollectionHasNoCollections) {
    ASSERT_EQ(addProduct("BARE", "C:\\Bare", nullptr, nullptr, "1.0", nullptr, 0, 0), TALLY_OK);
    TallyHandle h = nullptr;
    ASSERT_EQ(open(&h), TALLY_OK);
    const char* const* list = nullptr;
    EXPECT_EQ(collections(h, TALLY_RELATION_OWNING_COLLECTIONS, "BARE", &list), TALLY_E_NOT_FOUND);
    EXPECT_EQ(list, nullptr);
    const char* lang = nullptr;
    EXPECT_EQ(data(h, "BARE", TALLY_CATEGORY_PROPERTIES, "installLanguage", &lang), TALLY_E_NOT_FOUND);
    close(h);
}

TEST_F(TallyLibrary, SetAndRemoveChangeWhatLaterSessionsSee) {
    addSample();
    ASSERT_EQ(setValue("LTX4", "version", "9.0.3"), TALLY_OK);
    ASSERT_EQ(setValue("LTX4", "tsModified", "1800000000"), TALLY_OK);
    ASSERT_EQ(setValue("LTX4", "INSTALLDIR", "D:\\Elsewhere"), TALLY_OK);
    EXPECT_EQ(setValue("LTX4", "tsInstalled", "soon"), TALLY_E_ARGUMENT);
    EXPECT_EQ(setValue("NOPE", "version", "1"), TALLY_E_NOT_FOUND);

    TallyHandle h = nullptr;
    ASSERT_EQ(open(&h), TALLY_OK);
    TallyPayloadRecord rec{};
    ASSERT_EQ(payload(h, "LTX4", &rec), TALLY_OK);
    EXPECT_STREQ(rec.version, "9.0.3");
    const char* dir = nullptr;
    ASSERT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "INSTALLDIR", &dir), TALLY_OK);
    EXPECT_STREQ(dir, "D:\\Elsewhere");
    TallyCollectionRecord c{};
    ASSERT_EQ(collection(h, "COLL-7", &c), TALLY_OK);
    EXPECT_EQ(c.tsInstalled, 1700000000);
    EXPECT_EQ(c.tsModified, 1800000000);
    close(h);

    // Registering it in another collection moves it there, with the time stamps given.
    ASSERT_EQ(addProduct("LTX4", nullptr, nullptr, nullptr, nullptr, "COLL-8", 1900000000, 1900000001),
              TALLY_OK);
    ASSERT_EQ(open(&h), TALLY_OK);
    const char* const* list = nullptr;
    ASSERT_EQ(collections(h, TALLY_RELATION_OWNING_COLLECTIONS, "LTX4", &list), TALLY_OK);
    EXPECT_STREQ(list[0], "COLL-8");
    EXPECT_EQ(list[1], nullptr);
    ASSERT_EQ(collection(h, "COLL-8", &c), TALLY_OK);
    EXPECT_EQ(c.tsInstalled, 1900000000);
    EXPECT_EQ(collection(h, "COLL-7", &c), TALLY_E_NOT_FOUND);
    close(h);

    ASSERT_EQ(removeProduct("LTX4"), TALLY_OK);
    EXPECT_EQ(removeProduct("LTX4"), TALLY_E_NOT_FOUND);
    ASSERT_EQ(open(&h), TALLY_OK);
    EXPECT_EQ(payload(h, "LTX4", &rec), TALLY_E_NOT_FOUND);
    EXPECT_EQ(collection(h, "COLL-8", &c), TALLY_E_NOT_FOUND);  // its collection went with it
    close(h);
}

TEST_F(TallyLibrary, MissingDatabaseOpensNoSession) {
    TallyHandle h = reinterpret_cast<TallyHandle>(&h);
    EXPECT_EQ(open(&h), TALLY_E_DATABASE);
    EXPECT_EQ(h, nullptr);
    expectEveryQueryFails(h);
    EXPECT_FALSE(machine.exists(kDb));  // reading never creates it
}

TEST_F(TallyLibrary, FileThatIsNotADatabaseIsRefusedEverywhere) {
    machine.writeFile(kDb, std::string(4096, 'x'));
    TallyHandle h = nullptr;
    EXPECT_EQ(open(&h), TALLY_E_DATABASE);
    EXPECT_EQ(h, nullptr);
    expectEveryQueryFails(h);
    EXPECT_EQ(addProduct("LTX4", "C:\\P", nullptr, nullptr, nullptr, nullptr, 0, 0), TALLY_E_DATABASE);
    EXPECT_EQ(machine.readFile(kDb), std::string(4096, 'x'));  // left as it was
}

TEST_F(TallyLibrary, LockedDatabaseFailsInsteadOfWaitingForever) {
    addSample();
    sqlite3* holder = nullptr;
    ASSERT_EQ(sqlite3_open(dbHost().c_str(), &holder), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(holder,
                           "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE; "
                           "UPDATE payloads SET version = 'x';",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    TallyHandle h = nullptr;
    EXPECT_EQ(open(&h), TALLY_E_DATABASE);
    EXPECT_EQ(h, nullptr);
    expectEveryQueryFails(h);
    EXPECT_EQ(setValue("LTX4", "version", "1"), TALLY_E_DATABASE);
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);

    ASSERT_EQ(open(&h), TALLY_OK);  // usable again once the lock is gone
    TallyPayloadRecord rec{};
    ASSERT_EQ(payload(h, "LTX4", &rec), TALLY_OK);
    EXPECT_STREQ(rec.version, "9.0.1");
    close(h);
}

TEST_F(TallyLibrary, ServesSeveralProcessesAtOnce) {
    addSample();
    TallyHandle h = nullptr;
    ASSERT_EQ(open(&h), TALLY_OK);
    const char* dir = nullptr;
    ASSERT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "INSTALLDIR", &dir), TALLY_OK);

    // While this process holds its session, other processes read and write the same database.
    std::atomic<int> good{0};
    std::vector<std::thread> others;
    for (int i = 0; i < 2; ++i) {
        others.emplace_back([&, i] {
            auto w =
                runProgram(binDir() / "tally", {"set", "LTX4", "Note" + std::to_string(i), "from child"});
            auto r = runProgram(binDir() / "tally", {"list"});
            if (w.exitCode == 0 && r.exitCode == 0 && r.output.find("LTX4") != std::string::npos) ++good;
        });
    }
    for (auto& t : others) t.join();
    EXPECT_EQ(good.load(), 2);

    const char* note0 = nullptr;
    const char* note1 = nullptr;
    EXPECT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "Note0", &note0), TALLY_OK);
    EXPECT_EQ(data(h, "LTX4", TALLY_CATEGORY_PROPERTIES, "Note1", &note1), TALLY_OK);
    EXPECT_STREQ(note1, "from child");
    EXPECT_STREQ(dir, "C:\\Program Files\\Orvex\\Lumen TX4\\");
    EXPECT_EQ(commit(h), TALLY_OK);
    EXPECT_EQ(close(h), TALLY_OK);
}

}  // namespace
