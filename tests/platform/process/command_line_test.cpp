#include <gtest/gtest.h>

#include "platform/process/process.h"

namespace {

using Args = std::vector<std::wstring>;

TEST(CommandLine, SplitsByWindowsRules) {
    EXPECT_EQ(win::splitCommandLine(L"a.exe one \"two three\"  four"),
              (Args{L"a.exe", L"one", L"two three", L"four"}));
    // Backslashes are literal unless they precede a quote.
    EXPECT_EQ(win::splitCommandLine(L"a.exe C:\\x\\y\\ \\\\server"),
              (Args{L"a.exe", L"C:\\x\\y\\", L"\\\\server"}));
    EXPECT_EQ(win::splitCommandLine(L"a.exe a\\\\\\\"b \"c\\\\\" d"),
              (Args{L"a.exe", L"a\\\"b", L"c\\", L"d"}));
    EXPECT_EQ(win::splitCommandLine(L"a.exe \"\" x"), (Args{L"a.exe", L"", L"x"}));
    EXPECT_EQ(win::splitCommandLine(L"a.exe ab\"c d\"e"), (Args{L"a.exe", L"abc de"}));
    EXPECT_EQ(win::splitCommandLine(L"a.exe\targ\t"), (Args{L"a.exe", L"arg"}));
}

TEST(CommandLine, ProgramNameIsReadWithoutEscapes) {
    // The program part ends at the closing quote; backslashes in it are never escapes.
    EXPECT_EQ(win::splitCommandLine(L"\"C:\\Program Files\\x.exe\" -SILENT"),
              (Args{L"C:\\Program Files\\x.exe", L"-SILENT"}));
    EXPECT_EQ(win::splitCommandLine(L"C:\\Program Files\\x.exe a"),
              (Args{L"C:\\Program", L"Files\\x.exe", L"a"}));
    EXPECT_EQ(win::splitCommandLine(L"\"C:\\dir\\\" a"), (Args{L"C:\\dir\\", L"a"}));
}

TEST(CommandLine, QuotingRoundTrips) {
    const Args nasty = {L"plain",           L"",     L"two words",  L"tab\there",
                        L"quote\"inside",   L"\"",   L"trailing\\", L"C:\\Program Files\\",
                        L"back\\\\\"slash", L"\\\\", L"a\\b c",     L"ünïcödé €"};
    std::wstring line = L"prog.exe";
    for (const auto& a : nasty) line += L" " + win::quoteArgument(a);
    Args expected{L"prog.exe"};
    expected.insert(expected.end(), nasty.begin(), nasty.end());
    EXPECT_EQ(win::splitCommandLine(line), expected);
    EXPECT_EQ(win::quoteArgument(L"simple"), L"simple");
    EXPECT_EQ(win::quoteArgument(L"C:\\a b\\"), L"\"C:\\a b\\\\\"");
}

}  // namespace
