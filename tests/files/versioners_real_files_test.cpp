// The versioners on real files that this machine's Debian packages ship (build.sh installs them). Each
// expected value is read here from the file's bytes, without the code under test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <regex>

#include "mendwell/files/versioners.h"
#include "platform/text/text.h"
#include "tests/support/testmachine.h"

namespace {

namespace fs = std::filesystem;
using namespace mw::versioning;
using testing_support::readHostFile;
using testing_support::TestMachine;

struct Expected {
    int status = versionNotRecognised;
    int kind = kindNone;
    unsigned v[4] = {0, 0, 0, 0};
};

// Copies a host file onto the machine under `folder` and asks the chain about it.
class RealFiles : public ::testing::Test {
  protected:
    std::wstring place(const fs::path& host, const std::wstring& folder) {
        EXPECT_TRUE(fs::exists(host)) << host << " is missing: ./build.sh installs its package";
        const std::wstring path = folder + L"\\" + win::fromUtf8(host.filename().string());
        machine_.writeFile(path, readHostFile(host));
        return path;
    }

    void expectVersion(const std::wstring& path, const Expected& e) {
        SCOPED_TRACE(win::toUtf8(path));
        FileVersion v;
        int kind = kindNone;
        ASSERT_EQ(getFileVersion(win::toUtf8(path).c_str(), &v, &kind), e.status);
        if (e.status != versionRecognised) return;
        EXPECT_EQ(kind, e.kind);
        EXPECT_EQ(v.major, e.v[0]);
        EXPECT_EQ(v.minor, e.v[1]);
        EXPECT_EQ(v.build, e.v[2]);
        EXPECT_EQ(v.revision, e.v[3]);
    }

    TestMachine machine_;
};

// Up to four dotted decimal numbers at the start of `text`.
int dotted(const char* text, unsigned v[4]) {
    return std::sscanf(text, "%u.%u.%u.%u", &v[0], &v[1], &v[2], &v[3]);
}

TEST_F(RealFiles, PopplerCMaps) {
    // Every seventh of the 250 files, in name order, keeps the test quick and spans every family.
    std::vector<fs::path> files;
    for (const auto& file : fs::recursive_directory_iterator("/usr/share/poppler/cMap"))
        if (file.is_regular_file()) files.push_back(file.path());
    std::sort(files.begin(), files.end());
    int recognised = 0;
    for (std::size_t i = 0; i < files.size(); i += 7) {
        const std::string head = readHostFile(files[i]).substr(0, 8191);
        Expected e;
        const auto marker = head.find("begincmap");
        const auto line = head.find("/CMapVersion ");
        if (marker != std::string::npos && line != std::string::npos &&
            dotted(head.c_str() + line + 13, e.v) >= 2) {
            e.status = versionRecognised;
            e.kind = kindCMap;
            ++recognised;
        }
        expectVersion(place(files[i], L"C:\\Data\\cmap"), e);
    }
    EXPECT_GT(recognised, 25);
}

// The sample trees' CMap opens with a plain PostScript line (our samples carry no one else's names) and
// is still read as a CMap of its release's version.
TEST_F(RealFiles, SampleTreeCMaps) {
    const fs::path trees = testing_support::sourceDir() / "docs" / "examples" / "sample-trees";
    for (const auto& [release, minor] : {std::pair{"old", 0u}, std::pair{"new", 1u}}) {
        const fs::path file = trees / release / "Resource" / "CMap" / "Lumen-H";
        const std::string text = readHostFile(file);
        EXPECT_EQ(text.substr(0, text.find('\n')), "%!PS") << file;
        expectVersion(place(file, L"C:\\Data\\" + win::fromUtf8(release)),
                      Expected{versionRecognised, kindCMap, {1, minor, 0, 0}});
    }
}

TEST_F(RealFiles, IccProfilesCarryTheirCreationTime) {
    int profiles = 0;
    for (const auto& file : fs::directory_iterator("/usr/share/color/icc")) {
        const std::string name = file.path().filename().string();
        const std::string head = readHostFile(file.path()).substr(0, 36);
        ASSERT_EQ(head.size(), 36u) << name;
        auto be16 = [&](int at) {
            return static_cast<unsigned>(static_cast<unsigned char>(head[at])) << 8 |
                   static_cast<unsigned char>(head[at + 1]);
        };
        Expected e{versionRecognised,
                   kindColorProfile,
                   {be16(24), be16(26), be16(28), be16(30) * 60 + be16(32) + (be16(34) + 1) / 60}};
        // Named as a profile: recognised anywhere. Any other file (the .ti3 measurement data) never, not
        // even in a folder whose name says "icc".
        const bool profileName = std::regex_search(name, std::regex(R"(\.(icc|icm)$)", std::regex::icase));
        profiles += profileName;
        for (const wchar_t* folder : {L"C:\\Data\\profiles", L"C:\\Data\\icc"})
            expectVersion(place(file.path(), folder), profileName ? e : Expected{});
    }
    EXPECT_GE(profiles, 10);
}

TEST_F(RealFiles, Type1FontsInPfbForm) {
    int fonts = 0;
    for (const auto& file : fs::directory_iterator("/usr/share/fonts/X11/Type1")) {
        if (file.path().extension() != ".pfb") continue;
        const std::string head = readHostFile(file.path()).substr(0, 4095);
        const auto at = head.find("/version (");
        ASSERT_NE(at, std::string::npos) << file.path();
        Expected e;
        // t1-cyrillic's "(1.06)" is read; xfonts-scalable's "(2.0-1.0)" is no dotted number.
        const auto close = head.find(')', at);
        const std::string text = head.substr(at + 10, close - at - 10);
        if (text.find_first_not_of("0123456789.") == std::string::npos && dotted(text.c_str(), e.v) >= 2) {
            e.status = versionRecognised;
            e.kind = kindPFBFont;
            ++fonts;
        }
        expectVersion(place(file.path(), L"C:\\Data\\fonts"), e);
    }
    EXPECT_GE(fonts, 30);
}

// The fixed file version and FileDescription, found in the raw bytes: the VS_FIXEDFILEINFO signature
// and the UTF-16 value after the "FileDescription" key.
struct PeFacts {
    std::wstring version;
    std::wstring description;
};
PeFacts peFacts(const std::string& bytes) {
    PeFacts facts;
    const char signature[] = {'\xBD', '\x04', '\xEF', '\xFE'};
    const auto at = bytes.find(std::string(signature, 4));
    if (at == std::string::npos) return facts;
    std::uint32_t ms = 0, ls = 0;
    std::memcpy(&ms, bytes.data() + at + 8, 4);
    std::memcpy(&ls, bytes.data() + at + 12, 4);
    facts.version = std::to_wstring(ms >> 16) + L"." + std::to_wstring(ms & 0xFFFF) + L"." +
                    std::to_wstring(ls >> 16) + L"." + std::to_wstring(ls & 0xFFFF);
    const std::string key = win::toUtf16le(L"FileDescription") + std::string(2, '\0');
    auto value = bytes.find(key);
    if (value == std::string::npos) return facts;
    value += key.size();
    while (value < bytes.size() && bytes[value] == '\0') ++value;  // padding to the value
    if ((value - bytes.find(key)) % 2) --value;
    for (; value + 1 < bytes.size() && (bytes[value] || bytes[value + 1]); value += 2)
        facts.description.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[value]) |
                                                         static_cast<unsigned char>(bytes[value + 1]) << 8));
    return facts;
}

TEST_F(RealFiles, PeFilesReadThroughTheOsVersion) {
    const fs::path fixture = testing_support::binDir() / "fixtures" / "versioned.dll";
    // The fixture's version as its resource script states it.
    std::smatch m;
    const std::string script = readHostFile(testing_support::sourceDir() / "tests/fixtures/versioned.rc");
    ASSERT_TRUE(std::regex_search(script, m, std::regex(R"(FILEVERSION (\d+),(\d+),(\d+),(\d+))")));
    const std::wstring fixtureVersion =
        win::fromUtf8(m.str(1) + "." + m.str(2) + "." + m.str(3) + "." + m.str(4));

    const fs::path debian[] = {"/usr/i686-w64-mingw32/lib/zlib1.dll",
                               "/usr/x86_64-w64-mingw32/lib/zlib1.dll"};
    std::vector<std::wstring> placed;
    for (const fs::path& host : {fixture, debian[0], debian[1]}) {
        const std::wstring folder = host == fixture     ? L"C:\\Data\\fixture"
                                    : host == debian[0] ? L"C:\\Data\\x86"
                                                        : L"C:\\Data\\x64";
        const std::wstring path = place(host, folder);
        placed.push_back(path);
        const PeFacts facts = peFacts(readHostFile(host));
        ASSERT_FALSE(facts.version.empty()) << host;
        if (host == fixture) {
            EXPECT_EQ(facts.version, fixtureVersion);
        }
        expectVersion(path, Expected{});  // no versioner knows a PE file
        std::wstring text;
        EXPECT_EQ(osFileVersionText(path, text), 0);
        EXPECT_EQ(text, facts.version) << host;
        ASSERT_FALSE(facts.description.empty()) << host;
        EXPECT_TRUE(fileDescription(path, text));
        EXPECT_EQ(text, facts.description);
    }
    EXPECT_EQ(compareVersions(placed[1], placed[2]), 0);  // the same zlib for both processors
}

}  // namespace
