// The `tally` tool: what installers and tests use to register products.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/testmachine.h"

namespace {

using testing_support::binDir;
using testing_support::runProgram;
using testing_support::TestMachine;

testing_support::RunResult tally(const std::vector<std::string>& args) {
    return runProgram(binDir() / "tally", args);
}

bool has(const std::string& text, const std::string& what) {
    return text.find(what) != std::string::npos;
}

TEST(TallyTool, HelpAndWrongArguments) {
    TestMachine machine;
    auto help = tally({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(has(help.output, "Usage: tally")) << help.output;
    EXPECT_TRUE(has(help.output, "--installdir")) << help.output;

    for (const auto& args :
         std::vector<std::vector<std::string>>{{},
                                               {"frobnicate"},
                                               {"add"},
                                               {"add", "X", "--version"},
                                               {"add", "X", "--colour", "red"},
                                               {"add", "X", "--collection", "C", "--installed", "yesterday"},
                                               {"set", "X", "version"},
                                               {"remove"}}) {
        auto r = tally(args);
        EXPECT_EQ(r.exitCode, 2) << r.output;
        EXPECT_TRUE(has(r.output, "tally --help")) << r.output;
    }
}

TEST(TallyTool, AddSetListRemove) {
    TestMachine machine;
    auto empty = tally({"list"});
    EXPECT_EQ(empty.exitCode, 1) << "no database yet: " << empty.output;

    auto add = tally({"add", "LTX4", "--installdir", "C:\\Program Files\\Orvex\\Lumen TX4", "--language",
                      "en_US", "--product-code", "{G}", "--version", "9.0.1", "--collection", "C7",
                      "--installed", "1700000000", "--modified", "1700000001"});
    ASSERT_EQ(add.exitCode, 0) << add.output;
    ASSERT_EQ(tally({"set", "LTX4", "version", "9.0.3"}).exitCode, 0);

    auto list = tally({"list"});
    ASSERT_EQ(list.exitCode, 0) << list.output;
    EXPECT_TRUE(has(list.output, "LTX4\n  version: 9.0.3\n")) << list.output;
    EXPECT_TRUE(has(list.output, "INSTALLDIR: C:\\Program Files\\Orvex\\Lumen TX4\n")) << list.output;
    EXPECT_TRUE(has(list.output, "installLanguage: en_US")) << list.output;
    EXPECT_TRUE(has(list.output, "collection: C7 (tsInstalled 1700000000, tsModified 1700000001)"))
        << list.output;

    auto unknown = tally({"set", "OTHER", "version", "1"});
    EXPECT_EQ(unknown.exitCode, 1);
    EXPECT_TRUE(has(unknown.output, "no product OTHER")) << unknown.output;

    ASSERT_EQ(tally({"remove", "LTX4"}).exitCode, 0);
    EXPECT_TRUE(has(tally({"list"}).output, "no products registered"));
    EXPECT_EQ(tally({"remove", "LTX4"}).exitCode, 1);
}

TEST(TallyTool, TimestampsNeedACollection) {
    TestMachine machine;
    auto r = tally({"add", "LTX4", "--installed", "5"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(has(r.output, "no collection")) << r.output;
    EXPECT_FALSE(has(tally({"list"}).output, "LTX4"));  // nothing half registered
}

TEST(TallyTool, DamagedDatabaseIsReportedWithItsPath) {
    TestMachine machine;
    machine.writeFile(L"C:\\ProgramData\\Orvex\\Tally\\tally.db",
                      "this is not a database at all, not even close.");
    for (const auto& args : std::vector<std::vector<std::string>>{{"list"}, {"add", "X"}, {"remove", "X"}}) {
        auto r = tally(args);
        EXPECT_EQ(r.exitCode, 1) << r.output;
        EXPECT_TRUE(has(r.output, "tally.db")) << r.output;
    }
}

}  // namespace
