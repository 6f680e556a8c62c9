// bench_signature PATCHER [ROUNDS]: a patcher's check of its own signature (map the file, hash the
// program and every resource, verify Ed25519) against `cat PATCHER > /dev/null`, alternating in one run.
// Prints the median wall and CPU time of each (cat's CPU includes the shell that starts it) and the ratios.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "mendwell/files/patcher_signature.h"
#include "platform/resources/mapped_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

// CPU seconds (user and system) of this process, or of its finished children.
double cpu(int who) {
    rusage u{};
    getrusage(who, &u);
    auto sec = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return sec(u.ru_utime) + sec(u.ru_stime);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_signature PATCHER [ROUNDS]\n");
        return 2;
    }
    const std::filesystem::path file = argv[1];
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    const std::string cat = "cat '" + file.string() + "' > /dev/null";
    std::vector<double> check, read, checkCpu, readCpu;
    mw::PatcherSignatureCheck::Status status = mw::PatcherSignatureCheck::notSigned;
    std::size_t regions = 0;
    // One untimed pass of each: both then read from the page cache.
    for (int i = -1; i < rounds; ++i) {
        auto start = Clock::now();
        double cpuStart = cpu(RUSAGE_CHILDREN);
        if (std::system(cat.c_str()) != 0) return 1;
        const double catSeconds = seconds(start);
        const double catCpu = cpu(RUSAGE_CHILDREN) - cpuStart;
        start = Clock::now();
        cpuStart = cpu(RUSAGE_SELF);
        win::rsrc::MappedFile mapped;
        if (!mapped.open(file)) return 1;
        const mw::PatcherSignatureCheck c = mw::checkPatcherFile(mapped.bytes());
        mapped.close();
        const double checkSeconds = seconds(start);
        const double checkCpuSeconds = cpu(RUSAGE_SELF) - cpuStart;
        status = c.status;
        regions = c.proven.size();
        if (i < 0) continue;
        read.push_back(catSeconds);
        check.push_back(checkSeconds);
        readCpu.push_back(catCpu);
        checkCpu.push_back(checkCpuSeconds);
    }
    const double size = static_cast<double>(std::filesystem::file_size(file)) / (1024.0 * 1024.0);
    std::printf("file %.1f MiB, %s, %zu regions proven\n", size,
                status == mw::PatcherSignatureCheck::holds ? "signature holds" : "signature does NOT hold",
                regions);
    std::printf("                 wall s  MiB/s  cpu s (medians of %d)\n", rounds);
    std::printf("cat > /dev/null  %6.3f  %5.0f  %5.3f\n", median(read), size / median(read), median(readCpu));
    std::printf("signature check  %6.3f  %5.0f  %5.3f\n", median(check), size / median(check),
                median(checkCpu));
    std::printf("check / cat      %6.2f         %5.2f\n", median(check) / median(read),
                median(checkCpu) / median(readCpu));
    return status == mw::PatcherSignatureCheck::holds ? 0 : 1;
}
