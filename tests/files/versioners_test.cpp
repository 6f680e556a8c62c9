#include <gtest/gtest.h>

#include <stdexcept>

#include "mendwell/files/versioners.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/file.h"
#include "platform/resources/resources.h"
#include "platform/text/text.h"
#include "tests/support/logfile.h"
#include "tests/support/testmachine.h"

namespace {

using namespace mw::versioning;
using namespace std::string_literals;
using testing_support::TestMachine;

// Fails on one file name only, so that the chain's other answers stay as they are for every other test.
class ThrowingVersioner : public VersionerABC {
  public:
    bool getVersion(const std::wstring& path, FileVersion&, int&) override {
        if (path.ends_with(L"throws.bin")) throw std::runtime_error("versioner failed");
        return false;
    }
};
const Versioner<ThrowingVersioner> throwingRegistrar;

std::string u16be(std::uint16_t v) {
    return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
}

// An ICC profile header of `size` bytes created 2024-07-15 13:45:59.
std::string profileHeader(std::size_t size) {
    std::string h(24, 'p');
    for (std::uint16_t v : {2024, 7, 15, 13, 45, 59}) h += u16be(v);
    h.resize(size, 'x');
    return h;
}

// An ICU data header: the tag at 12 and the eight version bytes at 16.
std::string icuHeader(std::string_view tag, std::size_t size) {
    std::string h(12, '\0');
    h += tag;
    h.resize(16, '\0');
    if (h.size() < 24) h += std::string{6, 1, 0, 0, 2, 3, 0, 0};
    h.resize(size, '\0');
    return h;
}

std::string commonDataHeader() {
    std::string h(12, '\0');
    h += "C\0m\0n\0D\0"s;
    h.resize(64, '\0');
    // The format version bytes share 16 and 18 with the tag.
    h[17] = 2, h[19] = 4, h[22] = 9, h[23] = 1;
    return h;
}

struct VersionRow {
    const wchar_t* path;
    std::string content;
    int status;
    int kind;
    FileVersion version;
};

int versionOf(const std::wstring& path, FileVersion& version, int& kind) {
    return getFileVersion(win::toUtf8(path).c_str(), &version, &kind);
}

TEST(GetFileVersion, EachVersionerOnItsKindOfFile) {
    TestMachine machine;
    const std::string pfb = "\x80\x01\x10\x00\x00\x00%!PS-AdobeFont-1.0\n/version (1.2) readonly def\n"s;
    const std::string otf = "OTTO\0\0name 5.1.2;ORVX;Tandem\n"s;
    const VersionRow rows[] = {
        {L"C:\\f\\x.pfb", pfb, 0, kindPFBFont, {1, 2, 0, 0}},
        {L"C:\\f\\X.PFB", pfb, 0, kindPFBFont, {1, 2, 0, 0}},
        {L"C:\\f\\x.pfa", pfb, 3, kindNone, {}},
        {L"C:\\f\\a.txt", "##Orvex File Version: 3.1\n", 0, kindUnicodeMap, {3, 1, 0, 0}},
        // The last byte read is not looked at: "3.12" at the very end reads as 3.1.
        {L"C:\\f\\b.txt", "##Orvex File Version: 3.12", 0, kindUnicodeMap, {3, 1, 0, 0}},
        // The greedy ".+" leaves one digit to the first group.
        {L"C:\\f\\s.jsx", "// @@@BUILDINFO@@@ v12.3.4.5\n", 0, kindJSX, {2, 3, 4, 5}},
        // The first versioner in the list that recognises a file decides.
        {L"C:\\f\\both.txt",
         "begincmap\n/CMapVersion 2.1 def\n##Orvex File Version: 3.1\n",
         0,
         kindCMap,
         {2, 1, 0, 0}},
        {L"C:\\f\\nomark.txt", "/CMapVersion 2.1 def\n", 3, kindNone, {}},
        {L"C:\\f\\Font.OTF", otf, 0, kindOTFFont, {5, 1, 2, 0}},
        {L"C:\\f\\Font.ttf", otf, 3, kindNone, {}},
        {L"C:\\f\\fonts.db",
         "Orvex Tandem Font Database\nversion=4.2.1.7\n",
         0,
         kindFontDatabase,
         {4, 2, 1, 7}},
        {L"C:\\f\\p.ICM", profileHeader(128), 0, kindColorProfile, {2024, 7, 15, 13 * 60 + 45 + 1}},
        // A profile by its own extension only: a folder holding "icc" or "csf" in its name makes none.
        {L"C:\\f\\look.Csf", profileHeader(36), 0, kindColorProfile, {2024, 7, 15, 826}},
        {L"C:\\f\\old.pf", profileHeader(36), 0, kindColorProfile, {2024, 7, 15, 826}},
        {L"C:\\f\\short.icc", profileHeader(35), 3, kindNone, {}},
        {L"C:\\icc\\notes.txt", profileHeader(36), 3, kindNone, {}},
        {L"C:\\Plugins\\Piccolo\\zlib1.dll", profileHeader(64), 3, kindNone, {}},
        {L"C:\\f\\x.icc.txt", profileHeader(64), 3, kindNone, {}},
        {L"C:\\f\\sheet.mpf", profileHeader(64), 3, kindNone, {}},
        {L"C:\\mycsf\\x.pfb", profileHeader(40) + pfb, 0, kindPFBFont, {1, 2, 0, 0}},
        {L"C:\\f\\conv.cnv", icuHeader("cnvt", 25), 0, kindICU, {6100, 2300, 0, 0}},
        {L"C:\\f\\conv24.cnv", icuHeader("cnvt", 24), 3, kindNone, {}},
        {L"C:\\f\\common.dat",
         commonDataHeader(),
         0,
         kindICU,
         {1000 * 'n' + 100 * 2 + 10 * 'D' + 4, 91, 0, 0}},
        {L"C:\\f\\empty.txt", "", 3, kindNone, {}},
        // Each versioner sees only its own length of the head, however much was read for all.
        {L"C:\\f\\late.jsx", std::string(1100, ' ') + "// @@@BUILDINFO@@@ v12.3.4.5\n", 3, kindNone, {}},
        {L"C:\\f\\late.txt", "begincmap\n" + std::string(5000, ' ') + "/CMapVersion 2.1 def\n", 0, kindCMap,
         {2, 1, 0, 0}},
    };
    for (const VersionRow& row : rows) {
        SCOPED_TRACE(win::toUtf8(row.path));
        machine.writeFile(row.path, row.content);
        FileVersion v;
        int kind = kindNone;
        ASSERT_EQ(versionOf(row.path, v, kind), row.status);
        EXPECT_EQ(kind, row.kind);
        if (row.status != 0) continue;
        EXPECT_EQ(v.major, row.version.major);
        EXPECT_EQ(v.minor, row.version.minor);
        EXPECT_EQ(v.build, row.version.build);
        EXPECT_EQ(v.revision, row.version.revision);
    }
}

TEST(GetFileVersion, FilesItCannotUse) {
    TestMachine machine;
    FileVersion v;
    int kind = kindNone;
    EXPECT_EQ(getFileVersion(nullptr, &v, &kind), versionMissingArgument);
    EXPECT_EQ(getFileVersion("C:\\x", nullptr, &kind), versionMissingArgument);
    EXPECT_EQ(getFileVersion("C:\\x", &v, nullptr), versionMissingArgument);
    EXPECT_EQ(getFileVersion("", &v, &kind), versionCannotOpen);
    EXPECT_EQ(getFileVersion("C:\\f\\missing.txt", &v, &kind), versionCannotOpen);

    // The file must open exclusively: any other handle on it, even a reading one, refuses it.
    machine.writeFile(L"C:\\f\\a.txt", "##Orvex File Version: 3.1\n");
    {
        win::File reader;
        ASSERT_TRUE(reader.open(L"C:\\f\\a.txt", win::access::read, win::share::read,
                                win::Disposition::openExisting));
        EXPECT_EQ(getFileVersion("C:\\f\\a.txt", &v, &kind), versionCannotOpen);
    }
    EXPECT_EQ(getFileVersion("C:\\f\\a.txt", &v, &kind), versionRecognised);

    machine.writeFile(L"C:\\f\\throws.bin", "plain");
    EXPECT_EQ(getFileVersion("C:\\f\\throws.bin", &v, &kind), versionError);
}

TEST(CompareVersionNumbers, UnknownPartsLeaveTheAnswerUnwritten) {
    struct Row {
        FileVersion a, b;
        int status, answer;
    };
    const Row rows[] = {
        {{1, 2, 3, 4}, {1, 2, 3, 4}, numbersCompared, 0},
        {{2, 0, 0, 0}, {10, 0, 0, 0}, numbersCompared, -1},
        {{1, 2, 3, 5}, {1, 2, 3, 4}, numbersCompared, 1},
        {{0x80000000u, 0, 0, 0}, {1, 0, 0, 0}, numbersCompared, 1},
        {{1, 2, kUnknownPart, 0}, {1, 2, 3, 4}, numbersUnknown, 7},
        {{1, 2, 3, 4}, {}, numbersUnknown, 7},
    };
    for (const Row& row : rows) {
        int answer = 7;
        EXPECT_EQ(compareVersionNumbers(row.a, row.b, answer), row.status);
        EXPECT_EQ(answer, row.answer);
    }
}

TEST(ParseVersionText, FourDottedNumbers) {
    struct Row {
        const wchar_t* text;
        FileVersion v;
    };
    const Row rows[] = {
        {L"3.1.4.159", {3, 1, 4, 159}},
        {L"10.2", {10, 2, 0, 0}},
        {L"", {0, 0, 0, 0}},
        {L"1.2.3.4.5", {1, 2, 3, 4}},
        {L"1.x.3", {1, 0, 3, 0}},
        // Only 31 characters are read: the "3" at 32 is not.
        {L"0000000000000000000000000001.2.3", {1, 2, 0, 0}},
        {L"99999999999.1", {kUnknownPart, 1, 0, 0}},
    };
    for (const Row& row : rows) {
        const FileVersion v = parseVersionText(row.text);
        EXPECT_EQ(v.major, row.v.major) << win::toUtf8(row.text);
        EXPECT_EQ(v.minor, row.v.minor) << win::toUtf8(row.text);
        EXPECT_EQ(v.build, row.v.build) << win::toUtf8(row.text);
        EXPECT_EQ(v.revision, row.v.revision) << win::toUtf8(row.text);
    }
}

// Files carrying a version resource the way our own programs do (a resource table after the bytes).
class VersionResourceTest : public ::testing::Test {
  protected:
    explicit VersionResourceTest(std::uint16_t userLanguage = 0x0409) : machine_(profile(userLanguage)) {
        win::createDirectory(L"C:\\captured");
        mw::PatchLog::instance().open(kLog, false, mw::logFormatText);
        mw::PatchLog::instance().setLevel(2);
    }
    ~VersionResourceTest() override { mw::PatchLog::instance().close(); }

    static win::MachineProfile profile(std::uint16_t language) {
        win::MachineProfile p;
        p.userLanguage = language;
        return p;
    }

    void versioned(const std::wstring& path, std::uint16_t a, std::uint16_t b, std::uint16_t c,
                   std::uint16_t d, const std::vector<win::VersionStrings>& strings = {}) {
        machine_.writeFile(path, "MZ program bytes");
        win::ResourceWriter writer;
        const win::VersionInfo info{(std::uint32_t{a} << 16) | b, (std::uint32_t{c} << 16) | d, 0, 0};
        writer.add(win::kRtVersion, 1, 0x409, win::buildVersionInfo(info, strings));
        std::string error;
        ASSERT_TRUE(writer.write(machine_.host(path), machine_.host(path), error)) << error;
    }

    std::vector<std::wstring> infoLines() {
        mw::PatchLog::instance().flush();
        return testing_support::messagesOf(testing_support::parseTextLog(machine_.readFile(kLog)), L"INFO");
    }

    static constexpr const wchar_t* kLog = L"C:\\captured\\versions.log";
    TestMachine machine_;
};

TEST_F(VersionResourceTest, OsVersionDecidesWhenNoVersionerKnowsTheFile) {
    versioned(L"C:\\p\\v2.dll", 2, 0, 0, 0);
    versioned(L"C:\\p\\v10.dll", 10, 0, 0, 0);
    versioned(L"C:\\p\\other.dll", 10, 0, 0, 0);
    versioned(L"C:\\p\\v3.dll", 3, 0, 0, 0);
    machine_.writeFile(L"C:\\p\\bare.dll", "MZ no resources");
    struct Row {
        const wchar_t* first;
        const wchar_t* second;
        int answer;
    };
    const Row rows[] = {
        {L"C:\\p\\v2.dll", L"C:\\p\\v10.dll", 1},  // numbers, not text
        {L"C:\\p\\v10.dll", L"C:\\p\\v2.dll", -1},    {L"C:\\p\\v10.dll", L"C:\\p\\other.dll", 0},
        {L"C:\\p\\v3.dll", L"C:\\p\\bare.dll", -1},  // the second reads as 0.0.0.0
        {L"C:\\p\\bare.dll", L"C:\\p\\v3.dll", 1},   // no version: overwrite
        {L"C:\\p\\missing.dll", L"C:\\p\\v3.dll", 1},
    };
    for (const Row& row : rows) {
        int kind = 99;
        EXPECT_EQ(compareVersions(row.first, row.second, &kind), row.answer)
            << win::toUtf8(row.first) << " " << win::toUtf8(row.second);
        EXPECT_EQ(kind, kindNone);
    }
    const std::vector<std::wstring> first{
        L"OS file versioner is followed for this file.",
        L"version of the file C:\\p\\v2.dll: 2.0.0.0",
        L"version of the file C:\\p\\v10.dll: 10.0.0.0",
    };
    const auto lines = infoLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + 3), first);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        L"Version info is not available for the file. File will be blindly overwritten."),
              lines.end());
}

TEST_F(VersionResourceTest, VersionerDecidesAndReportsTheKind) {
    auto pfb = [&](const wchar_t* path, std::string_view version) {
        machine_.writeFile(path,
                           "%!PS-AdobeFont-1.0\n/version (" + std::string(version) + ") readonly def\n");
    };
    pfb(L"C:\\f\\v1_2.pfb", "1.2");
    pfb(L"C:\\f\\v1_10.pfb", "1.10");
    pfb(L"C:\\f\\again1_2.pfb", "1.2");
    machine_.writeFile(L"C:\\f\\unknown.pfb", "no version here\n");
    struct Row {
        const wchar_t* first;
        const wchar_t* second;
        int answer;
    };
    const Row rows[] = {
        {L"C:\\f\\v1_2.pfb", L"C:\\f\\v1_10.pfb", 1},
        {L"C:\\f\\v1_10.pfb", L"C:\\f\\v1_2.pfb", -1},
        {L"C:\\f\\v1_2.pfb", L"C:\\f\\again1_2.pfb", 0},
        {L"C:\\f\\v1_2.pfb", L"C:\\f\\unknown.pfb", 1},  // nothing to weigh against: replace
    };
    for (const Row& row : rows) {
        int kind = kindNone;
        EXPECT_EQ(compareVersions(row.first, row.second, &kind), row.answer) << win::toUtf8(row.second);
        EXPECT_EQ(kind, kindPFBFont);
    }
    const auto lines = infoLines();
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(std::vector<std::wstring>(lines.begin(), lines.begin() + 3),
              (std::vector<std::wstring>{L"Orvex File Versioner is followed for this file.",
                                         L"Version of the file C:\\f\\v1_2.pfb: 1.2.0.0",
                                         L"Version of the file C:\\f\\v1_10.pfb: 1.10.0.0"}));
    EXPECT_EQ(lines.back(), L"Version of the file C:\\f\\unknown.pfb: -1.-1.-1.-1");
}

class GermanUserTest : public VersionResourceTest {
  protected:
    GermanUserTest() : VersionResourceTest(0x0407) {}
};

TEST_F(GermanUserTest, DescriptionInTheUsersLanguageElseUsEnglish) {
    const win::VersionStrings german{0x0407, 1252, {{L"FileDescription", L"Einstellungen"}}};
    const win::VersionStrings english{0x0409, 1200, {{L"FileDescription", L"Preferences"}}};
    const win::VersionStrings french{0x040C, 1252, {{L"FileDescription", L"Préférences"}}};
    versioned(L"C:\\p\\both.dll", 1, 0, 0, 0, {english, german});
    versioned(L"C:\\p\\english.dll", 1, 0, 0, 0, {french, english});
    versioned(L"C:\\p\\french.dll", 1, 0, 0, 0, {french});
    std::wstring text;
    EXPECT_TRUE(fileDescription(L"C:\\p\\both.dll", text));
    EXPECT_EQ(text, L"Einstellungen");
    EXPECT_TRUE(fileDescription(L"C:\\p\\english.dll", text));
    EXPECT_EQ(text, L"Preferences");
    EXPECT_FALSE(fileDescription(L"C:\\p\\french.dll", text));
    EXPECT_FALSE(fileDescription(L"C:\\p\\missing.dll", text));

    EXPECT_EQ(osFileVersionText(L"C:\\p\\missing.dll", text), -1);
    EXPECT_EQ(text, L"0.0.0.0");
}

}  // namespace
