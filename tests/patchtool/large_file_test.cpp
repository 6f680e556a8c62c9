// A generated pair above 2 GiB, cut into chunks, with both methods. Minutes of work and gigabytes of
// disk, so it runs only when MENDWELL_LARGE_TESTS=1 (a skip here has checked nothing).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "tests/support/testmachine.h"

namespace {

namespace fs = std::filesystem;

// Old: 2.25 GiB of pseudo-random bytes. New: the same with a changed 4 KiB every 256 MiB, 1 MiB
// inserted in the middle and the last 16 MiB dropped.
void generate(const fs::path& oldPath, const fs::path& newPath) {
    constexpr std::size_t kBlock = 1 << 20, kBlocks = 2304;
    std::FILE* o = std::fopen(oldPath.c_str(), "wb");
    std::FILE* n = std::fopen(newPath.c_str(), "wb");
    std::vector<std::uint64_t> block(kBlock / 8);
    std::uint64_t x = 88172645463325252ull;
    for (std::size_t b = 0; b < kBlocks; ++b) {
        for (auto& v : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            v = x;
        }
        std::fwrite(block.data(), 1, kBlock, o);
        if (b >= kBlocks - 16) continue;
        if (b % 256 == 100) block[7] ^= 0xffff;
        if (b == kBlocks / 2) {
            std::vector<char> inserted(kBlock, 'i');
            std::fwrite(inserted.data(), 1, kBlock, n);
        }
        std::fwrite(block.data(), 1, kBlock, n);
    }
    std::fclose(o);
    std::fclose(n);
}

bool sameFiles(const fs::path& a, const fs::path& b) {
    if (fs::file_size(a) != fs::file_size(b)) return false;
    std::FILE* fa = std::fopen(a.c_str(), "rb");
    std::FILE* fb = std::fopen(b.c_str(), "rb");
    std::vector<char> ba(1 << 20), bb(1 << 20);
    bool same = true;
    for (std::size_t n; same && (n = std::fread(ba.data(), 1, ba.size(), fa)) > 0;)
        same = std::fread(bb.data(), 1, n, fb) == n && std::equal(ba.begin(), ba.begin() + n, bb.begin());
    std::fclose(fa);
    std::fclose(fb);
    return same;
}

TEST(LargeFile, AboveTwoGiBWithBothMethods) {
    const char* gate = std::getenv("MENDWELL_LARGE_TESTS");
    if (gate == nullptr || std::string(gate) != "1") GTEST_SKIP() << "set MENDWELL_LARGE_TESTS=1 to run (not checked)";
    testing_support::TempDir dir;
    const fs::path oldPath = dir.path() / "old", newPath = dir.path() / "new";
    generate(oldPath, newPath);
    const fs::path qdiff = testing_support::binDir() / "qdiff";
    for (const char* method : {"zstd", "match"}) {
        const fs::path diff = dir.path() / (std::string(method) + ".qdr"), out = dir.path() / "out";
        const auto made = testing_support::runProgram(
            qdiff, {oldPath.string(), newPath.string(), diff.string(), "--method", method});
        ASSERT_EQ(made.exitCode, 0) << made.output;
        EXPECT_LT(fs::file_size(diff), 8u << 20) << method;
        const auto applied = testing_support::runProgram(qdiff, {"--apply", oldPath.string(), diff.string(), out.string()});
        EXPECT_EQ(applied.exitCode, 0) << applied.output;
        EXPECT_TRUE(sameFiles(out, newPath)) << method;
        fs::remove(out);
        fs::remove(diff);
    }
}

}  // namespace
