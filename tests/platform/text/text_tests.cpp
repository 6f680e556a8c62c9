#include "platform/text/text.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/win.h"

namespace {

TEST(Text, Utf8AndUtf16RoundTripIncludingAstralCharacters) {
    const std::wstring text = L"Grüße Ωμέγα Привет 日本 \U0001F600 end";
    EXPECT_EQ(win::fromUtf8(win::toUtf8(text)), text);
    EXPECT_EQ(win::fromUtf16le(win::toUtf16le(text)), text);
    EXPECT_EQ(win::toUtf8(L"\u00e9"), "\xC3\xA9");
}

TEST(Text, Utf16UsesSurrogatePairsAboveBmp) {
    const std::string bytes = win::toUtf16le(L"\U0001F600");
    ASSERT_EQ(bytes, std::string("\x3D\xD8\x00\xDE", 4));
    EXPECT_EQ(win::fromUtf16le(bytes), L"\U0001F600");
    // A lone high surrogate and a trailing odd byte: replaced and ignored, never a crash.
    EXPECT_EQ(win::fromUtf16le(std::string("\x3D\xD8"
                                           "A\x00"
                                           "\x41",
                                           5)),
              L"\uFFFDA");
}

TEST(Text, InvalidUtf8BecomesReplacementCharacters) {
    EXPECT_EQ(win::fromUtf8("a\xFF"
                            "b"),
              L"a\uFFFDb");
    EXPECT_EQ(win::fromUtf8("\xC3"), L"\uFFFD");  // truncated sequence
    EXPECT_EQ(win::fromUtf8("\xE0\x80\xAF"
                            "x")
                  .back(),
              L'x');  // overlong form rejected
    EXPECT_NE(win::fromUtf8("\xE0\x80\xAF"), L"/");
    EXPECT_EQ(win::fromUtf8("\xED\xA0\x80"), L"\uFFFD");  // encoded surrogate
}

TEST(Text, CodePageSamples) {
    std::string out;
    ASSERT_TRUE(win::toCodePage(L"caf\u00e9 \u20ac", 1252, out));
    EXPECT_EQ(out, "caf\xE9 \x80");
    ASSERT_TRUE(win::toCodePage(L"\u65e5\u672c\uff71", 932, out));
    EXPECT_EQ(out, "\x93\xfa\x96\x7b\xb1");
    std::wstring back;
    ASSERT_TRUE(win::fromCodePage("\x93\xfa\x96\x7b\xb1", 932, back));
    EXPECT_EQ(back, L"\u65e5\u672c\uff71");
    ASSERT_TRUE(win::fromCodePage("\x80\xE9", 1252, back));
    EXPECT_EQ(back, L"\u20ac\u00e9");
    ASSERT_TRUE(win::toCodePage(L"\u041f\u0440\u0438", 866, out));
    EXPECT_EQ(out, "\x8F\xE0\xA8");
}

TEST(Text, CodePageUnmappableAndInvalidInput) {
    std::string out;
    ASSERT_TRUE(win::toCodePage(L"a\u65e5b", 1252, out));
    EXPECT_EQ(out, "a?b");
    std::wstring back;
    // A lead byte with nothing after it.
    ASSERT_TRUE(win::fromCodePage("x\x93", 932, back));
    EXPECT_EQ(back, L"x\uFFFD");
    win::setLastError(0);
    EXPECT_FALSE(win::toCodePage(L"x", 12345, out));
    EXPECT_EQ(win::lastError(), win::err::invalidParameter);
    ASSERT_TRUE(win::toCodePage(L"\u00e9", 65001, out));
    EXPECT_EQ(out, "\xC3\xA9");
}

TEST(Text, FixedBufferCutsAtCharacterBoundaryAndTerminates) {
    char buffer[1024];
    std::memset(buffer, 'Z', sizeof buffer);
    // 1023 ASCII bytes fit; the 2-byte character after them does not.
    const std::wstring text = std::wstring(1022, L'a') + L"\u00e9\u00e9";
    const std::size_t n = win::toUtf8(text, buffer, sizeof buffer);
    EXPECT_EQ(n, 1022u);
    EXPECT_EQ(buffer[1022], '\0');
    EXPECT_EQ(buffer[1023], 'Z');

    // Double-byte code page: a cut never splits a character.
    const std::wstring japanese(600, L'\u65e5');
    const std::size_t m = win::toCodePage(japanese, 932, buffer, sizeof buffer);
    EXPECT_EQ(m, 1022u);
    EXPECT_EQ(buffer[m], '\0');
    std::wstring back;
    ASSERT_TRUE(win::fromCodePage(std::string(buffer, m), 932, back));
    EXPECT_EQ(back, std::wstring(511, L'\u65e5'));

    char tiny[1] = {'Z'};
    EXPECT_EQ(win::toUtf8(L"abc", tiny, 1), 0u);
    EXPECT_EQ(tiny[0], '\0');
    EXPECT_EQ(win::toUtf8(L"abc", nullptr, 0), 0u);
}

TEST(Text, CaseMappingForLatinGreekCyrillic) {
    EXPECT_EQ(win::toUpper(L"patch.exe \u00e9\u03b1\u0434"), L"PATCH.EXE \u00c9\u0391\u0414");
    EXPECT_EQ(win::toLower(L"PATCH \u00c9\u0391\u0414"), L"patch \u00e9\u03b1\u0434");
    EXPECT_TRUE(win::iequals(L"Patch.EXE", L"patch.exe"));
    EXPECT_TRUE(win::iequals(L"\u00c9t\u00c9", L"\u00e9t\u00e9"));
    EXPECT_FALSE(win::iequals(L"patch.exe", L"patch.ex"));
    EXPECT_FALSE(win::iequals(L"a", L"b"));
}

}  // namespace
