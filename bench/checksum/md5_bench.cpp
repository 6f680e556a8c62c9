// md5Text side by side with `openssl md5`: a 512 MB file on a fresh machine, hashed alternately by the
// patcher's checksum (through the platform's files) and by the OpenSSL command line tool, several
// times each after one warm-up read; reports medians, throughput and the ratio of ours to OpenSSL's.
//
//   bench_checksum [runs=5] [megabytes=512]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "mendwell/files/checksum.h"
#include "platform/machine/machine.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs `openssl md5 -r FILE` and returns its digest, upper-cased; empty on failure.
std::string opensslMd5(const fs::path& file) {
    const std::string command = "openssl md5 -r '" + file.string() + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return {};
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
    if (::pclose(pipe) != 0 || !read) return {};
    std::string digest(line, std::min<std::size_t>(32, std::strlen(line)));
    for (char& c : digest) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::uint64_t megabytes = argc > 2 ? std::max(1, std::atoi(argv[2])) : 512;
    const fs::path root =
        fs::temp_directory_path() / ("mw-bench-md5-" + std::to_string(std::random_device{}()));
    std::string error;
    if (!win::Machine::create(root, win::MachineProfile{}, error) || !win::Machine::select(root, error)) {
        std::cerr << "cannot make a machine: " << error << '\n';
        return 1;
    }
    const fs::path host = root / "drive_c" / "big.bin";
    {
        std::ofstream out(host, std::ios::binary);
        std::mt19937_64 rng(42);
        std::vector<std::uint64_t> block(1 << 17);
        for (std::uint64_t written = 0; written < megabytes << 20; written += block.size() * 8) {
            for (auto& v : block) v = rng();
            out.write(reinterpret_cast<const char*>(block.data()),
                      static_cast<std::streamsize>(block.size() * 8));
        }
    }
    const double mb = static_cast<double>(fs::file_size(host)) / 1e6;
    std::cout << "file: " << mb << " MB\n";

    const std::string expected = opensslMd5(host);  // also warms the page cache
    std::vector<double> ours, theirs;
    bool same = !expected.empty();
    for (int i = 0; i < runs; ++i) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool oursFirst = (i % 2 == 0);
            const bool runOurs = (turn == 0) == oursFirst;
            const auto start = Clock::now();
            const std::string digest = runOurs ? mw::md5Text(L"C:\\big.bin") : opensslMd5(host);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            same = same && digest == expected;
            (runOurs ? ours : theirs).push_back(ms);
            std::cout << "run " << i + 1 << ": " << (runOurs ? "md5Text    " : "openssl md5") << ' ' << ms
                      << " ms\n";
        }
    }
    const double oursMs = median(ours), theirsMs = median(theirs);
    std::cout << "median md5Text " << oursMs << " ms (" << mb / oursMs * 1000 << " MB/s), openssl md5 "
              << theirsMs << " ms (" << mb / theirsMs * 1000 << " MB/s)\n"
              << "throughput of md5Text / openssl md5: " << theirsMs / oursMs << " (goal >= 0.95)\n"
              << "digests " << (same ? "agree" : "DIFFER") << '\n';
    std::error_code ec;
    fs::remove_all(root, ec);
    return same ? 0 : 1;
}
