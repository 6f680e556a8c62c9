#include "platform/text/format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Format, WidthsAndFlags) {
    EXPECT_EQ(win::format(L"%010ld%010ld", 1234L, 56L), L"00000012340000000056");
    EXPECT_EQ(win::format(L"%03u", 7u), L"007");
    EXPECT_EQ(win::format(L"[%-10s]", L"left"), L"[left      ]");
    EXPECT_EQ(win::format(L"[%10s]", L"right"), L"[     right]");
    EXPECT_EQ(win::format(L"%.3s", L"abcdef"), L"abc");
    EXPECT_EQ(win::format(L"%+d % d %d", 5, 5, -5), L"+5  5 -5");
    EXPECT_EQ(win::format(L"%05d", -42), L"-0042");
    EXPECT_EQ(win::format(L"%-5d|", 42), L"42   |");
    EXPECT_EQ(win::format(L"%#x %#X %x %X", 255u, 255u, 0xABCu, 0xABCu), L"0xff 0XFF abc ABC");
    EXPECT_EQ(win::format(L"%08X", 0xBEEFu), L"0000BEEF");
    EXPECT_EQ(win::format(L"%.5d", 42), L"00042");
    EXPECT_EQ(win::format(L"%c%c", L'o', L'k'), L"ok");
    EXPECT_EQ(win::format(L"100%% done: %s", L"x"), L"100% done: x");
    EXPECT_EQ(win::format(L"%i", 12), L"12");
}

TEST(Format, LengthModifiersAndThirtyTwoBitTruncation) {
    const long long big = 0x100000005LL;
    EXPECT_EQ(win::format(L"%d", big), L"5");  // a 32-bit program sees the low half
    EXPECT_EQ(win::format(L"%lld %I64d", big, big), L"4294967301 4294967301");
    EXPECT_EQ(win::format(L"%u", -1), L"4294967295");
    EXPECT_EQ(win::format(L"%llu", static_cast<unsigned long long>(-1)), L"18446744073709551615");
    EXPECT_EQ(win::format(L"%x", -1LL), L"ffffffff");
    EXPECT_EQ(win::format(L"%d", 0xFFFFFFFFu), L"-1");
    EXPECT_EQ(win::format(L"%hd", 65535), L"-1");
    EXPECT_EQ(win::format(L"%ls", L"wide"), L"wide");
}

TEST(Format, MismatchesAndMissingArgumentsAreHarmless) {
    EXPECT_EQ(win::format(L"%d", L"text"), L"text");
    EXPECT_EQ(win::format(L"%s", 42), L"42");
    EXPECT_EQ(win::format(L"%s", -7LL), L"-7");
    EXPECT_EQ(win::format(L"a %s b %d c"), L"a  b  c");
    EXPECT_EQ(win::format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
    EXPECT_EQ(win::format(L"tail %"), L"tail %");
    EXPECT_EQ(win::format(L"%q %d", 3), L"%q 3");
    // An absurd width is clamped, not allocated.
    EXPECT_LE(win::format(L"%999999999d", 1).size(), 5000u);
}

}  // namespace
