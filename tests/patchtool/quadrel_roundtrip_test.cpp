// The difference methods on made-up pairs: every pair comes back byte for byte with each method, and
// damaged difference files are refused.
#include <gtest/gtest.h>

#include "tests/patchtool/quadrel_support.h"
#include "tests/support/testmachine.h"

namespace {

using namespace quadrel_test;
using quadrel::Request;

std::string make(const std::string& old, const std::string& neu, Request request, std::uint64_t chunk = 0,
                 std::uint64_t threshold = quadrel::kChunkThreshold, quadrel::Method* method = nullptr) {
    testing_support::TempDir dir;
    const auto out = dir.path() / "d.QDR";
    quadrel::MakeReport report;
    std::string error;
    EXPECT_TRUE(quadrel::makeDifference(bytes(old), bytes(neu), "f.bin", request, out, report, error,
                                        chunk == 0 ? quadrel::kDefaultChunk : chunk, threshold))
        << error;
    if (method != nullptr) *method = report.method;
    return testing_support::readHostFile(out);
}

TEST(QuadrelRoundTrip, EveryPairWithEveryMethod) {
    const std::string code = randomBytes(200000, 1);
    const std::string text = [] {
        std::string t;
        for (int i = 0; i < 3000; ++i) t += "line " + std::to_string(i * 7 % 1000) + " of the old text\n";
        return t;
    }();
    struct Row {
        const char* what;
        std::string old, neu;
    } rows[] = {
        {"native code with moved bytes", code, edited(code, 2)},
        {"text", text, text.substr(0, 20000) + "a new paragraph\n" + text.substr(21000)},
        {"empty old", "", randomBytes(5000, 3)},
        {"empty new", randomBytes(5000, 4), ""},
        {"both empty", "", ""},
        {"unchanged", code, code},
    };
    for (const Row& r : rows) {
        for (Request m : {Request::zstd, Request::match, Request::exe, Request::automatic}) {
            std::string result;
            EXPECT_EQ(applyInMemory(make(r.old, r.neu, m), r.old, result), quadrel::Outcome::ok)
                << r.what << " method " << int(m);
            EXPECT_TRUE(result == r.neu) << r.what << " method " << int(m);
        }
    }
}

TEST(QuadrelRoundTrip, AutoKeepsTheSmallerAndChunksApplyInOrder) {
    const std::string old = randomBytes(300000, 5);
    const std::string neu = edited(old, 6);
    const auto zstdSize = make(old, neu, Request::zstd).size();
    const auto matchSize = make(old, neu, Request::match).size();
    quadrel::Method method{};
    const std::string best = make(old, neu, Request::automatic, 0, quadrel::kChunkThreshold, &method);
    EXPECT_EQ(best.size(), std::min(zstdSize, matchSize));
    EXPECT_EQ(method, matchSize < zstdSize ? quadrel::Method::match : quadrel::Method::zstd);

    // Chunked as above 2 GiB, with small chunks: a grown and a shrunk file.
    for (const std::string& n : {neu + randomBytes(100000, 7), neu.substr(0, 150000)}) {
        for (Request m : {Request::automatic, Request::exe}) {
            const std::string diff = make(old, n, m, 64 * 1024, 1);
            quadrel::MemoryReader reader(bytes(diff));
            quadrel::Header h;
            ASSERT_TRUE(quadrel::parseHeader(reader, h));
            EXPECT_GT(h.chunks.size(), 2u);
            std::string result;
            EXPECT_EQ(applyInMemory(diff, old, result), quadrel::Outcome::ok) << int(m);
            EXPECT_TRUE(result == n) << int(m);
        }
    }
}

TEST(QuadrelRoundTrip, DamagedDifferencesAreRefused) {
    const std::string old = randomBytes(100000, 8);
    const std::string neu = edited(old, 9);
    for (Request m : {Request::zstd, Request::match, Request::exe}) {
        const std::string diff = make(old, neu, m);
        std::vector<std::string> damaged = {diff.substr(0, diff.size() - 1), diff.substr(0, 40), diff + "x", ""};
        // Every header byte, then a few in the data (no frame checksum there: the new MD5 catches them).
        quadrel::MemoryReader reader(bytes(diff));
        quadrel::Header h;
        ASSERT_TRUE(quadrel::parseHeader(reader, h));
        std::vector<std::size_t> positions = {diff.size() / 2, diff.size() - 5};
        for (std::size_t at = 0; at < h.dataOffset; ++at) positions.push_back(at);
        for (std::size_t at : positions) {
            std::string flipped = diff;
            flipped[at] = static_cast<char>(flipped[at] ^ 0x10);
            damaged.push_back(flipped);
        }
        for (const std::string& d : damaged) {
            std::string result;
            EXPECT_NE(applyInMemory(d, old, result), quadrel::Outcome::ok) << "size " << d.size();
        }
    }
}

// Files of the first format (made by qdiff before the compact header; tests/patchtool/data) still apply,
// and a small difference's compact header is about half the old one's 125 bytes.
TEST(QuadrelRoundTrip, FirstFormatFilesStillApplyAndSmallHeadersAreCompact) {
    std::string old(3000, '\0');
    for (std::size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>((i * 31) ^ (i >> 3));
    std::string neu = old;
    neu[100] = 'X';
    neu[1500] = 'Y';
    neu.insert(2000, "a block put in by the new version");
    // The "exe" one (qdiff at 525f857, --method exe): a small ELF image with 16 code bytes made NOPs.
    const std::string elf =
        testing_support::readHostFile(testing_support::sourceDir() / "tests/fuzz/corpus/exe_filter/elf64-small");
    std::string elfNew = elf;
    elfNew.replace(0x300, 16, 16, '\x90');
    const struct {
        const char* file;
        quadrel::Method method;
        const std::string &old, &neu;
    } rows[] = {
        {"format1-zstd.qdr", quadrel::Method::zstd, old, neu},
        {"format1-match.qdr", quadrel::Method::match, old, neu},
        {"format1-exe.qdr", quadrel::Method::exe, elf, elfNew},
    };
    for (const auto& row : rows) {
        const std::string diff =
            testing_support::readHostFile(testing_support::sourceDir() / "tests/patchtool/data" / row.file);
        quadrel::MemoryReader reader(bytes(diff));
        quadrel::Header h;
        ASSERT_TRUE(quadrel::parseHeader(reader, h)) << row.file;
        EXPECT_EQ(h.version, quadrel::kFirstFormatVersion);
        EXPECT_EQ(h.method, row.method) << row.file;
        EXPECT_EQ(h.name, "old.bin");
        std::string result;
        EXPECT_EQ(applyInMemory(diff, row.old, result), quadrel::Outcome::ok) << row.file;
        EXPECT_TRUE(result == row.neu) << row.file;
    }
    for (Request m : {Request::zstd, Request::match, Request::exe}) {
        const std::string diff = make(old, neu, m);
        quadrel::MemoryReader reader(bytes(diff));
        quadrel::Header h;
        ASSERT_TRUE(quadrel::parseHeader(reader, h));
        EXPECT_EQ(h.version, quadrel::kFormatVersion);
        EXPECT_LE(h.dataOffset, 7 + 2 + 2 + 32 + 1 + 5 + 1 + 2 * 2 + 4u) << int(m);  // name "f.bin"
    }
}

TEST(QuadrelRoundTrip, NamesThatCouldLeaveTheFolderAreRefused) {
    for (const char* bad : {"", "..", "a\\b", "a/b", "C:x", "x.", "x ", "a\nb", "CON", "nul.txt", "Com1 .log",
                            "lpt9", "aux.tar.gz", "CONOUT$"})
        EXPECT_FALSE(quadrel::isSafeName(bad)) << bad;
    for (const char* good :
         {"quadw32.dll", "12", "libssl.so.3", "a b.txt", "console.txt", "com10", "LPT0", "nul_"})
        EXPECT_TRUE(quadrel::isSafeName(good));
}

}  // namespace
