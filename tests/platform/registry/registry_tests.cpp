#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <thread>

#include "platform/machine/store.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;
using win::RegKey;
using win::RegRoot;
namespace regtype = win::regtype;

constexpr win::LONG kMissing = 2;
constexpr win::LONG kDenied = 5;
constexpr win::LONG kNoMoreItems = 259;

std::vector<std::uint8_t> bytes(std::initializer_list<int> list) {
    std::vector<std::uint8_t> out;
    for (int b : list) out.push_back(static_cast<std::uint8_t>(b));
    return out;
}

TEST(Registry, KeysAndValuesAreFoundInAnyCaseAndKeepTheirCase) {
    TestMachine machine;
    RegKey key;
    bool created = false;
    ASSERT_EQ(key.create(RegRoot::localMachine, L"Software\\Orvex\\Lumen 9", &created), 0);
    EXPECT_TRUE(created);
    EXPECT_EQ(key.name(), L"HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvex\\Lumen 9");
    ASSERT_EQ(key.setString(L"InstallDir", L"C:\\Program Files\\Lumen"), 0);

    RegKey again;
    ASSERT_EQ(again.create(RegRoot::localMachine, L"SOFTWARE\\ORVEX\\lumen 9", &created), 0);
    EXPECT_FALSE(created);
    std::wstring text;
    ASSERT_EQ(again.queryString(L"INSTALLDIR", text), 0);
    EXPECT_EQ(text, L"C:\\Program Files\\Lumen");

    // Writing under another case replaces the data but keeps the first spelling of the name.
    ASSERT_EQ(again.setString(L"installdir", L"D:\\Lumen"), 0);
    std::wstring name;
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(key.enumValue(0, name, type, data), 0);
    EXPECT_EQ(name, L"InstallDir");
    EXPECT_EQ(win::regDataString(data), L"D:\\Lumen");
    EXPECT_EQ(key.enumValue(1, name, type, data), kNoMoreItems);

    RegKey orvex;
    // RegOpenKeyEx and RegCreateKeyEx refuse a subkey path with a leading backslash: ERROR_BAD_PATHNAME.
    EXPECT_EQ(orvex.open(RegRoot::localMachine, L"\\software\\orvex"), 161);
    EXPECT_EQ(orvex.create(key, L"\\sub"), 161);
    EXPECT_EQ(key.deleteTree(L"\\sub"), 161);
    ASSERT_EQ(orvex.open(RegRoot::localMachine, L"software\\orvex\\"), 0);
    ASSERT_EQ(orvex.enumKey(0, name), 0);
    EXPECT_EQ(name, L"Lumen 9");
    EXPECT_EQ(orvex.enumKey(1, name), kNoMoreItems);
}

TEST(Registry, MissingKeysAndValuesAnswerTwo) {
    TestMachine machine;
    RegKey key;
    EXPECT_EQ(key.open(RegRoot::localMachine, L"Software\\Nowhere"), kMissing);
    EXPECT_FALSE(key.isOpen());
    ASSERT_EQ(key.create(RegRoot::localMachine, L"Software\\Here"), 0);
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    EXPECT_EQ(key.queryValue(L"absent", type, data), kMissing);
    EXPECT_EQ(key.deleteValue(L"absent"), kMissing);
    EXPECT_EQ(key.deleteKey(L"absent"), kMissing);
    EXPECT_EQ(key.deleteTree(L"absent"), kMissing);
    EXPECT_EQ(key.queryValue(L"", type, data), kMissing);  // default value not set
}

TEST(Registry, TypedValuesKeepTheirTypeAndBytes) {
    TestMachine machine;
    RegKey key;
    ASSERT_EQ(key.create(RegRoot::currentUser, L"Software\\Types"), 0);
    auto odd = bytes({0x0A, 0x1B, 0x00, 0xFF, 0x7});
    ASSERT_EQ(key.setValue(L"bin", regtype::binary, odd), 0);
    // A string type holding bytes that are not a proper string stays exactly as written.
    auto unterminated = bytes({'a', 0, 'b'});
    ASSERT_EQ(key.setValue(L"raw", regtype::dword, unterminated), 0);
    ASSERT_EQ(key.setValue(L"empty", regtype::none, {}), 0);
    ASSERT_EQ(key.setValue(L"", regtype::multiSz, win::regMultiStringData({L"one", L"twö"})), 0);
    ASSERT_EQ(key.setDword(L"n", 0xFFFFFFFF), 0);

    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    ASSERT_EQ(key.queryValue(L"bin", type, data), 0);
    EXPECT_EQ(type, regtype::binary);
    EXPECT_EQ(data, odd);
    ASSERT_EQ(key.queryValue(L"raw", type, data), 0);
    EXPECT_EQ(type, regtype::dword);
    EXPECT_EQ(data, unterminated);
    win::DWORD n = 0;
    EXPECT_EQ(key.queryDword(L"raw", n), 13);  // three bytes are no dword
    ASSERT_EQ(key.queryValue(L"empty", type, data), 0);
    EXPECT_EQ(type, regtype::none);
    EXPECT_TRUE(data.empty());
    ASSERT_EQ(key.queryValue(L"", type, data), 0);
    EXPECT_EQ(type, regtype::multiSz);
    EXPECT_EQ(win::regDataMultiString(data), (std::vector<std::wstring>{L"one", L"twö"}));
    ASSERT_EQ(key.queryDword(L"N", n), 0);
    EXPECT_EQ(n, 0xFFFFFFFFu);
    std::wstring text;
    EXPECT_EQ(key.queryString(L"n", text), 13);
}

TEST(Registry, AliasesReachTheSameKeys) {
    win::MachineProfile profile;
    profile.userName = L"Dana";
    TestMachine machine(profile);
    RegKey cr;
    ASSERT_EQ(cr.create(RegRoot::classesRoot, L".qdr"), 0);
    ASSERT_EQ(cr.setString(L"", L"Quadrel.Diff"), 0);
    RegKey lm;
    ASSERT_EQ(lm.open(RegRoot::localMachine, L"Software\\Classes\\.QDR"), 0);
    std::wstring text;
    ASSERT_EQ(lm.queryString(L"", text), 0);
    EXPECT_EQ(text, L"Quadrel.Diff");

    RegKey cu;
    ASSERT_EQ(cu.create(RegRoot::currentUser, L"Software\\Orvex"), 0);
    EXPECT_EQ(cu.name(), L"HKEY_USERS\\Dana\\Software\\Orvex");
    ASSERT_EQ(cu.setDword(L"Seen", 1), 0);
    RegKey users;
    ASSERT_EQ(users.open(RegRoot::users, L"dana\\software\\orvex"), 0);
    win::DWORD n = 0;
    EXPECT_EQ(users.queryDword(L"seen", n), 0);

    RegKey cc;
    ASSERT_EQ(cc.create(RegRoot::currentConfig, L"Display"), 0);
    RegKey viaLm;
    EXPECT_EQ(
        viaLm.open(RegRoot::localMachine, L"System\\CurrentControlSet\\Hardware Profiles\\Current\\Display"),
        0);

    // An alias whose key was deleted through the real hive is there again on next use.
    ASSERT_EQ(lm.open(RegRoot::localMachine, L"Software"), 0);
    ASSERT_EQ(lm.deleteTree(L"Classes"), 0);
    ASSERT_EQ(cr.open(RegRoot::classesRoot, L""), 0);
    EXPECT_EQ(cr.enumKey(0, text), kNoMoreItems);
}

TEST(Registry, RootNames) {
    RegRoot root;
    ASSERT_TRUE(win::parseRegRoot(L"hkey_local_machine", root));
    EXPECT_EQ(root, RegRoot::localMachine);
    ASSERT_TRUE(win::parseRegRoot(L"HKUSERS", root));
    EXPECT_EQ(root, RegRoot::users);
    ASSERT_TRUE(win::parseRegRoot(L"hkcc", root));
    EXPECT_EQ(root, RegRoot::currentConfig);
    EXPECT_FALSE(win::parseRegRoot(L"HKEY_LOCAL", root));
    EXPECT_EQ(win::regRootName(RegRoot::classesRoot), L"HKEY_CLASSES_ROOT");
}

TEST(Registry, DeletingKeys) {
    TestMachine machine;
    RegKey a;
    ASSERT_EQ(a.create(RegRoot::localMachine, L"Software\\A"), 0);
    RegKey c;
    ASSERT_EQ(c.create(RegRoot::localMachine, L"Software\\A\\B\\C"), 0);
    ASSERT_EQ(c.setString(L"v", L"x"), 0);

    EXPECT_EQ(a.deleteKey(L"B"), kDenied);  // has a subkey
    ASSERT_EQ(a.deleteTree(L"B"), 0);
    RegKey gone;
    EXPECT_EQ(gone.open(RegRoot::localMachine, L"Software\\A\\B"), kMissing);
    EXPECT_EQ(a.deleteTree(L"B"), kMissing);
    // The handle to a deleted key reports it instead of writing into nothing.
    EXPECT_EQ(c.setString(L"v", L"y"), 1018);

    ASSERT_EQ(c.create(RegRoot::localMachine, L"Software\\A\\Leaf"), 0);
    EXPECT_EQ(a.deleteKey(L"leaf"), 0);
    EXPECT_EQ(a.deleteKey(L"leaf"), kMissing);

    // Without a subkey, the tree deletion empties the key and keeps it.
    ASSERT_EQ(c.create(RegRoot::localMachine, L"Software\\A\\X\\Y"), 0);
    ASSERT_EQ(a.setDword(L"kept?", 1), 0);
    ASSERT_EQ(a.deleteTree(L""), 0);
    std::wstring name;
    EXPECT_EQ(a.enumKey(0, name), kNoMoreItems);
    win::DWORD type;
    std::vector<std::uint8_t> data;
    EXPECT_EQ(a.enumValue(0, name, type, data), kNoMoreItems);
    RegKey still;
    EXPECT_EQ(still.open(RegRoot::localMachine, L"Software\\A"), 0);

    RegKey hklm;
    ASSERT_EQ(hklm.open(RegRoot::localMachine, L""), 0);
    EXPECT_EQ(hklm.deleteKey(L""), kDenied);  // a hive itself cannot go
}

TEST(Registry, AHandleToADeletedKeyNeverReachesAKeyMadeAfterIt) {
    TestMachine machine;
    RegKey old;
    ASSERT_EQ(old.create(RegRoot::localMachine, L"Software\\Old"), 0);
    RegKey software;
    ASSERT_EQ(software.open(RegRoot::localMachine, L"Software"), 0);
    ASSERT_EQ(software.deleteKey(L"Old"), 0);
    RegKey fresh;
    ASSERT_EQ(fresh.create(RegRoot::localMachine, L"Software\\Fresh"), 0);

    EXPECT_EQ(old.setDword(L"v", 1), 1018);
    win::DWORD v = 0;
    EXPECT_EQ(fresh.queryDword(L"v", v), kMissing);
}

TEST(Registry, DeniedKeysRefuseEveryChange) {
    TestMachine machine;
    RegKey key;
    ASSERT_EQ(key.create(RegRoot::localMachine, L"Software\\Locked\\Inner"), 0);
    RegKey held;
    ASSERT_EQ(held.open(RegRoot::localMachine, L"Software\\Locked"), 0);
    ASSERT_EQ(win::setRegKeyDenied(RegRoot::localMachine, L"Software\\Locked", true), 0);
    EXPECT_EQ(win::setRegKeyDenied(RegRoot::localMachine, L"Software\\NotThere", true), kMissing);

    RegKey other;
    EXPECT_EQ(other.open(RegRoot::localMachine, L"Software\\Locked"), kDenied);
    EXPECT_EQ(other.create(RegRoot::localMachine, L"Software\\Locked\\New"), kDenied);
    EXPECT_EQ(held.setDword(L"v", 1), kDenied);
    EXPECT_EQ(held.deleteValue(L"v"), kDenied);
    EXPECT_EQ(key.setDword(L"below", 1), kDenied);  // a key under a denied key is locked too

    RegKey software;
    ASSERT_EQ(software.open(RegRoot::localMachine, L"Software"), 0);
    EXPECT_EQ(software.deleteKey(L"Locked\\Inner"), kDenied);
    EXPECT_EQ(software.deleteTree(L"Locked"), kDenied);

    // A denied key deep inside a tree keeps the whole tree.
    ASSERT_EQ(win::setRegKeyDenied(RegRoot::localMachine, L"Software\\Locked", false), 0);
    ASSERT_EQ(win::setRegKeyDenied(RegRoot::localMachine, L"Software\\Locked\\Inner", true), 0);
    EXPECT_EQ(software.deleteTree(L"Locked"), kDenied);
    EXPECT_EQ(other.open(RegRoot::localMachine, L"Software\\Locked"), 0);
    ASSERT_EQ(win::setRegKeyDenied(RegRoot::localMachine, L"Software\\Locked\\Inner", false), 0);
    EXPECT_EQ(software.deleteTree(L"Locked"), 0);
}

TEST(Registry, HandlesOfAnotherMachineAreStale) {
    RegKey key;
    {
        TestMachine first;
        ASSERT_EQ(key.create(RegRoot::localMachine, L"Software\\First"), 0);
    }
    TestMachine second;
    EXPECT_EQ(key.setDword(L"v", 1), 6);
    RegKey fresh;
    EXPECT_EQ(fresh.open(RegRoot::localMachine, L"Software\\First"), kMissing);
}

TEST(Registry, AStoreThatIsNotADatabaseFailsEveryCall) {
    TestMachine machine;
    // Spoiled before this machine's store was first used.
    testing_support::writeHostFile(machine.root() / "store.db", std::string(4096, 'x'));
    std::string error;
    EXPECT_FALSE(win::store::check(machine.root() / "store.db", error));
    EXPECT_NE(error.find((machine.root() / "store.db").string()), std::string::npos) << error;
    EXPECT_NE(error.find("not a Mendwell machine store"), std::string::npos) << error;

    RegKey key;
    EXPECT_EQ(key.create(RegRoot::localMachine, L"Software\\X"), 1015);
    EXPECT_FALSE(key.isOpen());
    EXPECT_EQ(key.open(RegRoot::currentUser, L""), 1015);
    EXPECT_EQ(win::setRegKeyDenied(RegRoot::localMachine, L"Software", true), 1015);
}

TEST(Registry, StoreCheckNamesThePath) {
    testing_support::TempDir dir;
    std::string error;
    auto file = dir.path() / "store.db";
    EXPECT_FALSE(win::store::check(file, error));
    EXPECT_NE(error.find(file.string()), std::string::npos);
    testing_support::writeHostFile(file, "");  // an empty file opens as a database without our tables
    EXPECT_FALSE(win::store::check(file, error));
    EXPECT_NE(error.find("not a Mendwell machine store"), std::string::npos) << error;
    std::filesystem::remove(file);
    ASSERT_TRUE(win::store::initialise(file, error)) << error;
    EXPECT_TRUE(win::store::check(file, error)) << error;
    EXPECT_FALSE(win::store::initialise(file, error));  // never over an existing file

    // Someone else's database with a meta table of its own: refused, not a crash.
    auto foreign = dir.path() / "foreign.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE meta(name TEXT, value TEXT);"
                           " INSERT INTO meta VALUES ('format', NULL);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    EXPECT_FALSE(win::store::check(foreign, error));
    EXPECT_NE(error.find("not a Mendwell machine store"), std::string::npos) << error;
}

// Two processes writing at once: every write lands (the full-size run is in bench/platform).
TEST(Registry, TwoProcessesWritingAtOnceLoseNothing) {
    TestMachine machine;
    constexpr int kEach = 200;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            RegKey key;
            int failures = 0;
            if (key.create(RegRoot::localMachine, L"Software\\Race") != 0) _exit(3);
            for (int i = 0; i < kEach; ++i) {
                std::wstring name = L"p" + std::to_wstring(p) + L"-" + std::to_wstring(i);
                if (key.setDword(name, static_cast<win::DWORD>(i)) != 0) ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    RegKey key;
    ASSERT_EQ(key.open(RegRoot::localMachine, L"Software\\Race"), 0);
    int count = 0;
    std::wstring name;
    win::DWORD type;
    std::vector<std::uint8_t> data;
    while (key.enumValue(static_cast<win::DWORD>(count), name, type, data) == 0) ++count;
    EXPECT_EQ(count, 2 * kEach);
    win::DWORD subKeys = 1, values = 0;
    ASSERT_EQ(key.queryInfo(subKeys, values), 0);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, static_cast<win::DWORD>(2 * kEach));
}

TEST(Registry, ThreadsShareTheStore) {
    TestMachine machine;
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &failures] {
            RegKey key;
            if (key.create(RegRoot::currentUser, L"Software\\Threads\\T" + std::to_wstring(t)) != 0) {
                ++failures[static_cast<std::size_t>(t)];
                return;
            }
            for (int i = 0; i < 50; ++i) {
                win::DWORD back = 0;
                if (key.setDword(L"v" + std::to_wstring(i), static_cast<win::DWORD>(i)) != 0 ||
                    key.queryDword(L"v" + std::to_wstring(i), back) != 0 ||
                    back != static_cast<win::DWORD>(i)) {
                    ++failures[static_cast<std::size_t>(t)];
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures, std::vector<int>(4, 0));
    RegKey all;
    ASSERT_EQ(all.open(RegRoot::currentUser, L"Software\\Threads"), 0);
    win::DWORD subKeys = 0, values = 0;
    ASSERT_EQ(all.queryInfo(subKeys, values), 0);
    EXPECT_EQ(subKeys, 4u);
}

// A writer killed in the middle of its work leaves whole values and a usable store.
TEST(Registry, AKilledWriterLeavesNoTornValues) {
    TestMachine machine;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RegKey key;
        if (key.create(RegRoot::localMachine, L"Software\\Crash") != 0) _exit(3);
        std::vector<std::uint8_t> block(4096);
        for (int i = 0;; ++i) {
            std::fill(block.begin(), block.end(), static_cast<std::uint8_t>(i));
            RegKey sub;
            sub.create(key, L"K" + std::to_wstring(i));
            sub.setValue(L"data", regtype::binary, block);
        }
    }
    usleep(300 * 1000);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    RegKey key;
    ASSERT_EQ(key.open(RegRoot::localMachine, L"Software\\Crash"), 0);
    std::wstring name;
    int keys = 0;
    for (win::DWORD i = 0; key.enumKey(i, name) == 0; ++i, ++keys) {
        RegKey sub;
        ASSERT_EQ(sub.open(key, name), 0);
        win::DWORD type;
        std::vector<std::uint8_t> data;
        if (sub.queryValue(L"data", type, data) != 0) continue;  // killed between key and value
        ASSERT_EQ(data.size(), 4096u) << name;
        auto expected = static_cast<std::uint8_t>(std::stoi(name.substr(1)));
        EXPECT_EQ(std::count(data.begin(), data.end(), expected), 4096) << name;
    }
    EXPECT_GT(keys, 0);
    EXPECT_EQ(key.setDword(L"after", 1), 0);
}

}  // namespace
