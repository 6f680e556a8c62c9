// Only the programs that show windows link the GUI library; the tools and libraries beside the patcher
// stay small and run where no Qt is installed.
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <string>

#include "tests/support/testmachine.h"

namespace {

struct Linked {
    const char* file;  // in the build's bin folder
    bool showsWindows;
};

// `patch` and `Verdicta` are in the table by name; until their folders build them, their rows are
// skipped (the file does not exist), and the skip says so.
class GuiFree : public ::testing::TestWithParam<Linked> {};

TEST_P(GuiFree, OnlyProgramsThatShowWindowsLinkQt) {
    const Linked p = GetParam();
    const auto path = testing_support::binDir() / p.file;
    if (!std::filesystem::exists(path)) GTEST_SKIP() << p.file << " is not built yet, not checked";
    const auto result = testing_support::runProgram("/usr/bin/ldd", {path.string()});
    ASSERT_EQ(result.exitCode, 0) << p.file << ": " << result.output;
    const bool qt = result.output.find("libQt") != std::string::npos;
    EXPECT_EQ(qt, p.showsWindows) << p.file << " links:\n" << result.output;
}

INSTANTIATE_TEST_SUITE_P(Programs, GuiFree,
                         ::testing::Values(Linked{"tally", false}, Linked{"machine", false},
                                           Linked{"mendwell-build", false}, Linked{"patch", false},
                                           Linked{"Verdicta.so", false}, Linked{"Mendwell", true}),
                         [](const auto& info) {
                             std::string name;
                             for (const char* c = info.param.file; *c; ++c)
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             return name;
                         });

}  // namespace
