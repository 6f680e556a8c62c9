#include "tools/mendwell-build/difference_jobs.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>

extern char** environ;

namespace mwbuild {
namespace fs = std::filesystem;

namespace {

// A zip entry's fixed local and central header sizes (no extra fields, no data descriptor).
constexpr std::uintmax_t kLocalHeader = 30;
constexpr std::uintmax_t kCentralHeader = 46;

// qdiff OLD NEW OUT --name NAME; false when it could not make the difference.
bool runQdiff(const fs::path& qdiff, const DifferenceJob& job) {
    std::vector<std::string> args = {qdiff.string(), job.oldFile.string(), job.newFile.string(),
                                     job.out.string(), "--name", job.name};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A difference is kept only when it costs less in the archive than the new file (a tie goes to the
// whole file: it needs no patch tool run).
void runJob(const fs::path& qdiff, DifferenceJob& job) {
    std::error_code ec;
    const std::string entry = job.out.filename().string();
    job.patched = runQdiff(qdiff, job) && archiveCost(job.out, entry) < archiveCost(job.newFile, entry);
    job.size = job.patched ? fs::file_size(job.out, ec) : 0;
    if (!job.patched) fs::remove(job.out, ec);
}

}  // namespace

std::uintmax_t deflatedSize(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    z_stream z{};
    // Level 9, raw deflate, default window and memory: what the payload archive's writer uses.
    if (!in || deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return 0;
    std::vector<char> input(1 << 16);
    std::vector<Bytef> output(1 << 16);
    std::uintmax_t total = 0;
    int flush = Z_NO_FLUSH;
    do {
        in.read(input.data(), static_cast<std::streamsize>(input.size()));
        z.next_in = reinterpret_cast<Bytef*>(input.data());
        z.avail_in = static_cast<uInt>(in.gcount());
        flush = in ? Z_NO_FLUSH : Z_FINISH;
        do {
            z.next_out = output.data();
            z.avail_out = static_cast<uInt>(output.size());
            deflate(&z, flush);
            total += output.size() - z.avail_out;
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return in.bad() ? 0 : total;
}

std::uintmax_t archiveCost(const fs::path& file, const std::string& entryName) {
    return kLocalHeader + kCentralHeader + 2 * entryName.size() + deflatedSize(file);
}

void runDifferenceJobs(const fs::path& qdiff, std::vector<DifferenceJob>& jobs, unsigned workers, bool progress,
                       std::ostream& out) {
    if (jobs.empty()) return;
    if (workers == 0) workers = std::max(1u, std::thread::hardware_concurrency());
    workers = std::min<unsigned>(workers, static_cast<unsigned>(jobs.size()));
    // Largest first, so that one big file does not run alone at the end.
    std::vector<std::size_t> order(jobs.size());
    std::uintmax_t totalBytes = 0;
    std::vector<std::uintmax_t> sizes(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::error_code ec;
        order[i] = i;
        sizes[i] = fs::file_size(jobs[i].newFile, ec);
        totalBytes += sizes[i];
    }
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });

    std::atomic<std::size_t> next{0};
    std::mutex lock;
    std::size_t done = 0;
    std::uintmax_t doneBytes = 0;
    auto show = [&] {
        char line[128];
        std::snprintf(line, sizeof line, "\r  differences: %zu of %zu files, %.1f of %.1f MB", done, jobs.size(),
                      static_cast<double>(doneBytes) / 1e6, static_cast<double>(totalBytes) / 1e6);
        out << line << std::flush;
    };
    if (progress) show();
    auto work = [&] {
        for (std::size_t at; (at = next.fetch_add(1)) < order.size();) {
            runJob(qdiff, jobs[order[at]]);
            const std::lock_guard<std::mutex> hold(lock);
            ++done;
            doneBytes += sizes[order[at]];
            if (progress) show();
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i) threads.emplace_back(work);
    work();
    for (std::thread& t : threads) t.join();
    if (progress) out << "\n";
}

}  // namespace mwbuild
