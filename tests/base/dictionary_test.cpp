// The string dictionary: its text and binary forms, the escape passes, the language table and lookups.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "mendwell/base/dictionary_escapes.h"
#include "mendwell/base/dictionary_reader.h"
#include "mendwell/base/localized_strings.h"
#include "platform/text/text.h"
#include "tests/support/testmachine.h"

namespace {

using glossa::DictionaryReader;

std::string utf16le(std::wstring_view text) {
    return std::string("\xFF\xFE", 2) + win::toUtf16le(text);
}

std::wstring valueOf(const DictionaryReader& d, const char* key) {
    const std::wstring* v = d.find(key);
    return v ? *v : L"<missing>";
}

TEST(LanguageTable, IdentifiersPickTheirLocaleElseEnglish) {
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"0c0a", L"es_ES"}, {L"080a", L"en_US"}, {L"4009", L"en_US"}, {L"3801", L"ar_AE"},
        {L"0404", L"zh_TW"}, {L"0C0A", L"en_US"},  // the comparison is exact: upper-case digits miss
        {L"", L"en_US"},
    };
    for (const auto& [id, folder] : rows) EXPECT_EQ(mw::localeFolder(id), folder) << id;
}

TEST(LanguageTable, UserLanguageThenSystemThenEnglish) {
    const std::tuple<std::uint16_t, std::uint16_t, const wchar_t*> rows[] = {
        {0x0c0a, 0x0407, L"0c0a"}, {0, 0x0407, L"0407"}, {0, 0, L"0409"}};
    for (const auto& [user, system, expected] : rows) {
        win::MachineProfile profile;
        profile.userLanguage = user;
        profile.systemLanguage = system;
        testing_support::TestMachine machine(profile);
        EXPECT_EQ(mw::userLanguageId(), expected);
    }
}

TEST(DictionaryEscapes, BothPassesOnValues) {
    const std::pair<const wchar_t*, const wchar_t*> rows[] = {
        {L"Line^none", L"Line\none"},
        {L"100\\%", L"100\\%"},  // a backslash before a percent sign stays, with it
        {L"^Qquoted^Q \\\"too\\\"", L"\"quoted\" \"too\""},
        {L"^[a^] ^{b^} ^C^R^T^D^B^#^!^I^S",
         L"\u201Ca\u201D \u2018b\u2019 \u00A9\u00AE\u2122\u00B0\u2022\u2318\u00AC\u2206\u2211"},
        {L"a\\tb\\rc\\bd", L"a\tb\rc\bd"},
        {L"^x and \\q stay", L"^x and \\q stay"},
        {L"ends with ^", L"ends with ^"},
        {L"#{U+00A9} #{a9} #{u+2122}", L"\u00A9 \u00A9 \u2122"},
        {L"a#{newline}b #{Copyright}", L"a\r\nb \u00A9"},
        {L"# #x #{ #{nosuch} #{12345} #{0} #{U+D800}", L"# #x #{ #{nosuch} #{12345} #{0} #{U+D800}"},
    };
    for (const auto& [in, out] : rows) EXPECT_EQ(glossa::unescapeValue(in), out) << win::toUtf8(in);
}

TEST(DictionaryReader, TextLinesByTheQuoteAndDollarRules) {
    DictionaryReader d;
    d.read(
        utf16le(L"\"$$$/tvr/alert/ok=Ok\"\r\n"
                L"\r\n"
                L"  \"$$$/tvr/a=first\" ignored after the quote\r\n"
                L"\"$$$/tvr/a=second\"\r\n"  // the later definition wins
                L"$$$/tvr/bare=no quotes at all\r\n"
                L"\"$$$/tvr/open=runs to the end\r\n"
                L"\"$$$/tvr/q=say \\\"hi\\\" = twice\"\r\n"
                L"\"$$/tvr/two=skipped\"\r\n"
                L"\"$/tvr/one=skipped\"\r\n"
                L"\"plain=key from the first character\"\r\n"
                L"\"$$$/tvr/nokey\"\r\n"
                L"\"$$$/tvr/last=no line end\""));
    EXPECT_FALSE(d.clean());
    EXPECT_EQ(valueOf(d, "/tvr/alert/ok"), L"Ok");
    EXPECT_EQ(valueOf(d, "/tvr/a"), L"second");
    EXPECT_EQ(valueOf(d, "/tvr/bare"), L"no quotes at all");
    EXPECT_EQ(valueOf(d, "/tvr/open"), L"runs to the end");
    EXPECT_EQ(valueOf(d, "/tvr/q"), L"say \"hi\" = twice");
    EXPECT_EQ(d.find("/tvr/two"), nullptr);
    EXPECT_EQ(d.find("$$/tvr/two"), nullptr);
    EXPECT_EQ(d.find("/tvr/one"), nullptr);
    EXPECT_EQ(valueOf(d, "plain"), L"key from the first character");
    EXPECT_EQ(valueOf(d, "/tvr/nokey"), L"");
    EXPECT_EQ(valueOf(d, "/tvr/last"), L"no line end");
    EXPECT_EQ(d.size(), 8u);
}

TEST(DictionaryReader, ThreeEncodings) {
    const std::wstring text = L"\"$$$/tvr/k=\u0414\u043E\u0431\u0440\u0435 \U0001F600\"\r\n";
    std::string be = "\xFE\xFF";
    const std::string le = win::toUtf16le(text);
    for (std::size_t i = 0; i + 1 < le.size(); i += 2) be += std::string{le[i + 1], le[i]};
    const std::string files[] = {utf16le(text), be, "\xEF\xBB\xBF" + win::toUtf8(text), win::toUtf8(text)};
    for (const auto& bytes : files) {
        DictionaryReader d;
        d.read(bytes);
        EXPECT_TRUE(d.clean());
        EXPECT_EQ(valueOf(d, "/tvr/k"), L"\u0414\u043E\u0431\u0440\u0435 \U0001F600");
    }
}

TEST(DictionaryReader, BinaryFormRoundTripsAndSurvivesDamage) {
    const std::vector<glossa::DictionaryEntry> entries = {
        {"/tvr/alert/ok", L"Ok"}, {"/tvr/heading/caption", L"Orvex Software Update"}, {"/tvr/x", L"^n kept"}};
    const std::string bytes = glossa::compileDictionary(entries, 3);
    DictionaryReader d;
    ASSERT_TRUE(d.read(bytes));
    EXPECT_TRUE(d.clean());
    EXPECT_EQ(d.size(), 3u);
    EXPECT_EQ(valueOf(d, "/tvr/heading/caption"), L"Orvex Software Update");
    EXPECT_EQ(valueOf(d, "/tvr/x"), L"^n kept");  // compiled values are final

    // Every cut of the file reads without running past its end.
    for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        DictionaryReader damaged;
        damaged.read(bytes.substr(0, cut));
        EXPECT_LE(damaged.size(), 3u);
        if (cut >= glossa::kBinaryMagic.size()) {
            EXPECT_FALSE(damaged.clean()) << cut;
        }
    }
}

TEST(LookupString, KeysDefaultsAndMissingFiles) {
    testing_support::TestMachine machine;
    machine.writeFile(L"C:\\d\\TVR.vdct", utf16le(L"\"$$$/tvr/heading/caption=Orvex Software Update\"\r\n"));
    const std::wstring path = L"C:\\d\\TVR.vdct";
    EXPECT_EQ(mw::lookupString(L"$$$/tvr/heading/caption", path), L"Orvex Software Update");
    EXPECT_EQ(mw::lookupString(L"$$$/tvr/heading/missing", path), L"");
    EXPECT_EQ(mw::lookupString(L"$$$/tvr/heading/missing=Use ^Qthis^Q", path), L"Use \"this\"");
    EXPECT_EQ(mw::lookupString(L"$$$/tvr/heading/caption=Unused", path), L"Orvex Software Update");
    EXPECT_EQ(mw::lookupString(L"$$$/tvr/heading/caption", L"C:\\d\\none.vdct"), L"");
    EXPECT_EQ(mw::lookupString(L"$$$/tvr/heading/caption", L""), L"");
}

TEST(DictionaryPath, NoArchiveGivesNoPathAndEmptyLookups) {
    // The test program carries no dictionaries; a relative "\TVRLocalization\..." path would read
    // whatever lies there on the current drive.
    testing_support::TestMachine machine;
    machine.writeFile(L"C:\\TVRLocalization\\en_US\\TVR.vdct",
                      utf16le(L"\"$$$/tvr/heading/caption=stray\"\r\n"));
    EXPECT_EQ(mw::dictionaryPath(), L"");
    EXPECT_EQ(mw::lookupString(L"$$$/tvr/heading/caption"), L"");
}

}  // namespace
