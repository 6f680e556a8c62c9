// Payload extraction, side by side with Info-ZIP unzip: builds an archive shaped like the shipped payload
// (about 65 MB in 3000 deflated entries named by number: text, already-compressed data and real
// binaries from this machine), then extracts it with TVRZipExtractor and with `unzip -o -q` into fresh
// folders, alternating which goes first, and reports the medians and the extractor's peak anonymous
// memory (sampled from /proc while it runs in its own process). Each run also inflates the archive
// without writing anything (`--inflate`), the floor an extraction can reach.
//
//   bench_payload [runs=5]
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "mendwell/base/zip_extractor.h"
#include "platform/machine/machine.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Rng {
    std::uint64_t s = 0x9E3779B97F4A7C15ULL;
    std::uint64_t next() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return s;
    }
    std::size_t below(std::size_t n) { return static_cast<std::size_t>(next() % n); }
};

std::string textData(Rng& rng, std::size_t size) {
    static const char* words[] = {"patch",    "install",  "registry", "value", "folder",  "Orvex",
                                  "Lumen",    "file",     "version",  "4.0.1", "copy",    "backup",
                                  "<Entry>",  "</Entry>", "ERROR",    "INFO",  "service", "manifest",
                                  "checksum", "0x1F3A",   "=",        ";",     "\n",      "\t"};
    std::string out;
    out.reserve(size + 16);
    while (out.size() < size) {
        out += words[rng.below(sizeof words / sizeof words[0])];
        out += ' ';
        if (rng.below(5) == 0) out += std::to_string(rng.below(100000));
    }
    out.resize(size);
    return out;
}

std::string randomData(Rng& rng, std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t v = rng.next();
        std::memcpy(out.data() + i, &v, std::min<std::size_t>(8, size - i));
    }
    return out;
}

std::vector<fs::path> binaries() {
    std::vector<fs::path> out;
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu", "/usr/bin", "/usr/lib"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(dir, ec)) {
            if (e.is_regular_file(ec) && !e.is_symlink(ec) && e.file_size(ec) > 4096 &&
                e.file_size(ec) < 400000) {
                out.push_back(e.path());
            }
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

struct ArchiveFacts {
    std::size_t entries = 0;
    std::uint64_t rawBytes = 0;
};

ArchiveFacts buildArchive(const fs::path& file) {
    ArchiveFacts facts;
    Rng rng;
    const std::vector<fs::path> bins = binaries();
    std::size_t nextBin = 0;
    zipFile zf = zipOpen64(file.c_str(), APPEND_STATUS_CREATE);
    if (!zf) throw std::runtime_error("cannot create " + file.string());
    for (int i = 1; i <= 3000; ++i) {
        std::string data;
        switch (i % 3) {
            case 0:
                data = textData(rng, 4000 + rng.below(70000));
                break;
            case 1:
                if (!bins.empty()) {
                    std::ifstream in(bins[nextBin++ % bins.size()], std::ios::binary);
                    data.assign(std::istreambuf_iterator<char>(in), {});
                    break;
                }
                [[fallthrough]];
            default:
                data = randomData(rng, 2000 + rng.below(44000));
                break;
        }
        zip_fileinfo info{};
        info.tmz_date = {0, 30, 12, 1, 5, 2010};
        const std::string name = std::to_string(i);
        zipOpenNewFileInZip64(zf, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_DEFAULT_COMPRESSION, 0);
        zipWriteInFileInZip(zf, data.data(), static_cast<unsigned>(data.size()));
        zipCloseFileInZip(zf);
        facts.rawBytes += data.size();
        ++facts.entries;
    }
    zipClose(zf, nullptr);
    return facts;
}

long statusKb(pid_t pid, const std::string& field) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

struct Run {
    double ms = 0;
    int status = -1;
    long peakAnonKb = 0;
};

// Runs a program, sampling its anonymous memory while it runs.
Run runMeasured(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Run r;
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return r;
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        r.peakAnonKb = std::max(r.peakAnonKb, statusKb(pid, "RssAnon"));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::uint64_t treeBytes(const fs::path& dir, std::size_t& files) {
    std::uint64_t total = 0;
    files = 0;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        if (e.is_regular_file()) {
            total += e.file_size();
            ++files;
        }
    }
    return total;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Child mode: extract one archive and report this process's own peak figures.
int extractMode(const char* archive, const char* destination) {
    char a[mw::kAnsiPathBuffer];
    char d[mw::kAnsiPathBuffer];
    mw::ansiPath(std::wstring(archive, archive + std::strlen(archive)), a);
    mw::ansiPath(std::wstring(destination, destination + std::strlen(destination)), d);
    mw::TVRZipExtractor zip;
    const int rc = zip.open(a) ? zip.extractAll(d, false) : 0;
    zip.close();
    std::printf("extractor: rc=%d VmHWM=%ld kB RssAnon(end)=%ld kB\n", rc, statusKb(getpid(), "VmHWM"),
                statusKb(getpid(), "RssAnon"));
    return rc == 1 ? 0 : 1;
}

// Child mode: inflate every entry of the archive into one buffer and drop the bytes: what zlib alone
// costs (minizip over stdio, CRC checked as the extractor's), the floor for any extraction.
int inflateMode(const char* archive) {
    unzFile zip = unzOpen64(archive);
    if (!zip) return 1;
    std::vector<char> buffer(20480);
    std::uint64_t total = 0;
    int rc = unzGoToFirstFile(zip);
    while (rc == UNZ_OK) {
        if (unzOpenCurrentFile(zip) != UNZ_OK) return 1;
        int n = 0;
        while ((n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()))) > 0) {
            total += static_cast<std::uint64_t>(n);
        }
        if (n < 0 || unzCloseCurrentFile(zip) != UNZ_OK) return 1;
        rc = unzGoToNextFile(zip);
    }
    unzClose(zip);
    std::printf("inflated %llu bytes\n", static_cast<unsigned long long>(total));
    return rc == UNZ_END_OF_LIST_OF_FILE ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--extract") return extractMode(argv[2], argv[3]);
    if (argc == 3 && std::string(argv[1]) == "--inflate") return inflateMode(argv[2]);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;

    const fs::path root = fs::temp_directory_path() / ("mw-bench-payload-" + std::to_string(getpid()));
    std::string error;
    if (!win::Machine::create(root, {}, error) || !win::Machine::select(root, error)) {
        std::cerr << error << "\n";
        return 1;
    }
    const fs::path bench = root / "drive_c" / "bench";
    fs::create_directories(bench);
    const fs::path archive = bench / "PatchFiles.zip";
    std::cout << "building the archive...\n";
    const ArchiveFacts facts = buildArchive(archive);
    std::cout << "archive: " << fs::file_size(archive) / 1e6 << " MB, " << facts.entries << " entries, "
              << facts.rawBytes / 1e6 << " MB unpacked\n";

    const std::string self = fs::canonical("/proc/self/exe").string();
    std::vector<double> ours;
    std::vector<double> theirs;
    std::vector<double> inflateOnly;
    long peakAnon = 0;
    for (int i = 0; i < runs; ++i) {
        const fs::path a = bench / ("ours" + std::to_string(i));
        const fs::path b = bench / ("unzip" + std::to_string(i));
        const std::string winDest = "C:\\bench\\ours" + std::to_string(i);
        Run r1;
        Run r2;
        Run r3;
        auto runOurs = [&] { r1 = runMeasured({self, "--extract", "C:\\bench\\PatchFiles.zip", winDest}); };
        auto runUnzip = [&] { r2 = runMeasured({"unzip", "-o", "-q", archive.string(), "-d", b.string()}); };
        auto runInflate = [&] { r3 = runMeasured({self, "--inflate", archive.string()}); };
        if (i % 2 == 0) {
            runOurs();
            runInflate();
            runUnzip();
        } else {
            runUnzip();
            runInflate();
            runOurs();
        }
        std::size_t fa = 0;
        std::size_t fb = 0;
        const std::uint64_t ba = treeBytes(a, fa);
        const std::uint64_t bb = treeBytes(b, fb);
        std::printf(
            "run %d: TVRZipExtractor %.0f ms (exit %d, peak RssAnon %ld kB), inflate only %.0f ms (exit %d), "
            "unzip %.0f ms (exit %d); files %zu/%zu, bytes %llu/%llu\n",
            i + 1, r1.ms, r1.status, r1.peakAnonKb, r3.ms, r3.status, r2.ms, r2.status, fa, fb,
            static_cast<unsigned long long>(ba), static_cast<unsigned long long>(bb));
        if (r1.status != 0 || r2.status != 0 || r3.status != 0 || fa != fb || ba != bb) {
            std::cerr << "extractions differ or failed\n";
            fs::remove_all(root);
            return 1;
        }
        ours.push_back(r1.ms);
        theirs.push_back(r2.ms);
        inflateOnly.push_back(r3.ms);
        peakAnon = std::max(peakAnon, r1.peakAnonKb);
        // The folders stay until the machine goes: on a disk without a journal, ext4 skips inodes freed in
        // the last seconds when it makes new ones, so removing 6000 files here would slow the next run.
    }
    std::printf("median: TVRZipExtractor %.0f ms, unzip %.0f ms, ratio %.2f; extractor peak RssAnon %ld kB\n",
                median(ours), median(theirs), median(ours) / median(theirs), peakAnon);
    std::printf("median: zlib inflate only %.0f ms; TVRZipExtractor / inflate only %.2f\n",
                median(inflateOnly), median(ours) / median(inflateOnly));
    // MW_BENCH_KEEP leaves the machine and its archive for profiling the extractor on its own.
    if (std::getenv("MW_BENCH_KEEP")) {
        std::printf("kept %s\n", root.c_str());
        return 0;
    }
    fs::remove_all(root);
    return 0;
}
