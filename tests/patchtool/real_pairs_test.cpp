// Real pairs: two versions of two shared libraries and of a program from Debian packages, fetched with
// apt-get download into the build folder (never into the source tree). Without network or apt the
// test is skipped and says so: a skipped run has not checked these pairs.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/patchtool/quadrel_support.h"
#include "tests/support/testmachine.h"

namespace {

namespace fs = std::filesystem;
using namespace quadrel_test;

// Downloads the two oldest-listed versions of `package` and extracts `member` from each; empty when that
// cannot be done here.
std::vector<fs::path> pair(const std::string& package, const std::string& member) {
    const fs::path dir = testing_support::buildDir() / "real-pairs" / package;
    fs::create_directories(dir);
    const auto r = testing_support::runProgram(
        "/bin/sh", {"-c", "cd '" + dir.string() + "' && "
                          "for v in $(apt-cache madison " + package + " | awk '{print $3}' | head -2); do "
                          "  [ -d \"x-$v\" ] && continue; "
                          "  apt-get download -q " + package + "=$v >/dev/null 2>&1 && "
                          "  mkdir -p \"x-$v\" && dpkg-deb -x " + package + "_*$(echo $v | sed 's/^[0-9]*://')_*.deb \"x-$v\"; "
                          "done; ls -d x-* 2>/dev/null | head -2"});
    std::vector<fs::path> out;
    std::string line;
    for (char c : r.output) {
        if (c != '\n') {
            line += c;
            continue;
        }
        if (fs::exists(dir / line / member)) out.push_back(dir / line / member);
        line.clear();
    }
    return out;
}

TEST(RealPairs, LibraryAndProgramFromTwoPackageVersions) {
    struct Row {
        const char* package;
        const char* member;
    } rows[] = {
        {"libssl3", "usr/lib/x86_64-linux-gnu/libssl.so.3"},
        {"libssl3", "usr/lib/x86_64-linux-gnu/libcrypto.so.3"},
        {"openssl", "usr/bin/openssl"},
    };
    int checked = 0;
    for (const Row& row : rows) {
        const auto files = pair(row.package, row.member);
        if (files.size() != 2) continue;
        const std::string old = testing_support::readHostFile(files[0]);
        const std::string neu = testing_support::readHostFile(files[1]);
        ASSERT_NE(old, neu) << row.package;
        std::uint64_t sizes[3] = {};
        for (auto method : {quadrel::Request::zstd, quadrel::Request::match, quadrel::Request::exe}) {
            testing_support::TempDir dir;
            quadrel::MakeReport report;
            std::string error;
            ASSERT_TRUE(quadrel::makeDifference(bytes(old), bytes(neu), "f", method, dir.path() / "d", report, error));
            std::string result;
            EXPECT_EQ(applyInMemory(testing_support::readHostFile(dir.path() / "d"), old, result), quadrel::Outcome::ok);
            EXPECT_TRUE(result == neu) << row.package << " method " << int(method);
            EXPECT_LT(report.fileSize, neu.size() / 4) << row.package << " method " << int(method);
            sizes[static_cast<int>(method) - 1] = report.fileSize;
        }
        // Addresses rewritten to labels: at most 0.8 of the better plain method.
        EXPECT_LE(sizes[2] * 10, std::min(sizes[0], sizes[1]) * 8)
            << row.member << ": exe " << sizes[2] << ", zstd " << sizes[0] << ", match " << sizes[1];
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no two package versions could be downloaded here: real pairs NOT checked";
    EXPECT_EQ(checked, 3) << "only some real pairs could be downloaded";
}

}  // namespace
