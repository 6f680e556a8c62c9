// A silent run of an overwrite manifest over a product of real-looking names, against `cp -r` of the
// same bytes in the same run, and the patcher's peak memory; then the check alone (-SILENT -CHECK) and a
// run whose last entry fails, so that it rolls the others back (rollback = that run less the clean
// one). Usage:
//   bench_engine BIN_DIR [ENTRIES...]        (default 3000 30000; about 22 KB per file)
// MW_BENCH_WRAP="strace -f -c -o FILE" runs the patcher under that command (the clean run comes last).
// BIN_DIR holds Mendwell, mendwell-build, machine, tally and orvex_tally.so of a release build.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

namespace fs = std::filesystem;
extern char** environ;

namespace {

constexpr const char* kCode = "{5A7C1E2B-0D3F-4C58-9E61-7B2A4D8F9C10}";
constexpr std::size_t kFileSize = 22 * 1024;

struct Outcome {
    int status = -1;
    double seconds = 0;
    long peakKb = 0;      // ru_maxrss: the library and program pages it touched included
    long peakAnonKb = 0;  // RssAnon sampled from /proc: heap and other private memory
    double cpuSeconds = 0;  // user and system, what a loaded machine does not stretch
};

long rssAnonKb(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("RssAnon:", 0) == 0) return std::atol(line.c_str() + 8);
    }
    return 0;
}

Outcome runProgram(const std::vector<std::string>& args, bool quiet = true) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    Outcome out;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) return out;
    int status = 0;
    rusage usage{};
    // Sampled every 5 ms until the program ends (a wrapper's own memory is what is sampled then).
    while (wait4(pid, &status, WNOHANG, &usage) == 0) {
        out.peakAnonKb = std::max(out.peakAnonKb, rssAnonKb(pid));
        usleep(5000);
    }
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    out.peakKb = usage.ru_maxrss;
    out.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    posix_spawn_file_actions_destroy(&actions);
    return out;
}

void write(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Product-relative Windows names: one folder of 1000 files, the rest spread over nested folders.
std::vector<std::string> productNames(int entries) {
    static const char* const folders[] = {"bin",
                                          "Plug-ins\\Effects",
                                          "Plug-ins\\Filters",
                                          "Presets\\Brushes",
                                          "Presets\\Swatches",
                                          "Required\\Fonts",
                                          "Locales\\en_US",
                                          "Locales\\de_DE",
                                          "Help\\Topics",
                                          "Scripts\\Startup"};
    std::vector<std::string> names;
    for (int i = 0; i < entries; ++i) {
        if (i < 1000) {
            names.push_back("Required\\Components\\component_" + std::to_string(i) + ".dll");
        } else {
            names.push_back(std::string(folders[i % 10]) + "\\resource_" + std::to_string(i) + ".dat");
        }
    }
    return names;
}

std::string randomBytes(std::mt19937_64& rng) {
    std::string bytes(kFileSize, '\0');
    for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(&bytes[i], &v, 8);
    }
    return bytes;
}

std::string hostName(std::string windows) {
    for (char& c : windows) {
        if (c == '\\') c = '/';
    }
    return windows;
}

void benchOne(const fs::path& bin, int entries) {
    const fs::path root = fs::temp_directory_path() / ("mendwell-bench-engine-" + std::to_string(getpid()));
    fs::remove_all(root);
    const fs::path machine = root / "machine";
    const fs::path patch = root / "patch";
    setenv("MENDWELL_MACHINE", machine.c_str(), 1);
    unsetenv("MENDWELL_FAULT");
    // Made for tests: the rollback row makes the last entry fail.
    runProgram({(bin / "machine").string(), "create", machine.string(), "--test"});
    const std::string installDir = "C:\\Program Files\\Orvex\\Lumen TX4";
    runProgram({(bin / "tally").string(), "add", kCode, "--installdir", installDir, "--version", "9.0",
                "--language", "en_US"});
    const fs::path product = machine / "drive_c" / "Program Files" / "Orvex" / "Lumen TX4";

    std::mt19937_64 rng(entries);
    std::string manifest = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Manifest>\n<FileSet>\n";
    const std::vector<std::string> names = productNames(entries);
    for (int i = 0; i < entries; ++i) {
        const std::string& name = names[static_cast<std::size_t>(i)];
        write(product / hostName(name), randomBytes(rng));
        write(patch / "payload" / std::to_string(i + 1), randomBytes(rng));
        const std::size_t slash = name.rfind('\\');
        const std::string dir = slash == std::string::npos ? "" : "\\" + name.substr(0, slash);
        manifest += "<File><Operation>overwrite</Operation><ObjectName>" + std::to_string(i + 1) +
                    "</ObjectName><DestinationPath dir=\"[INSTALLDIR]" + dir + "\" defName=\"" +
                    name.substr(slash + 1) + "\"/></File>\n";
    }
    manifest += "</FileSet>\n</Manifest>\n";
    write(patch / "manifest.xml", manifest);
    write(patch / "config.xml",
          std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<PatcherConfig><Name>Lumen "
                      "TX4</Name><PatcherID>{0F5D3A61-2B7C-4E84-A1D9-3C6B8E2F7A45}</PatcherID>"
                      "<BuildNumber>1</BuildNumber><ComboPatch>false</ComboPatch><ProductData>"
                      "<OrvexCode><GUID>") +
              kCode +
              "</GUID></OrvexCode><OldVersion>9.0</OldVersion><NewVersion>9.0.3</"
              "NewVersion></ProductData></PatcherConfig>\n");
    // The patch tool and its engine go into every patcher; stand-ins do when this build has none (an
    // overwrite manifest never runs them).
    const fs::path tools = root / "bin";
    fs::create_directories(tools);
    for (const char* name : {"Mendwell", "orvex_tally.so", "patch", "quadw32.so"}) {
        if (fs::exists(bin / name)) {
            fs::create_symlink(bin / name, tools / name);
        } else {
            write(tools / name, "stand-in");
        }
    }
    const fs::path patcher = root / "Patcher";
    const Outcome built = runProgram({(bin / "mendwell-build").string(), "assemble", patch.string(), "-o",
                                      patcher.string(), "--bin", tools.string()});
    if (built.status != 0) {
        std::cerr << "assemble failed\n";
        std::exit(1);
    }
    const Outcome copy = runProgram({"/bin/cp", "-r", product.string(), (root / "copy").string()});
    // MW_BENCH_WRAP puts a command in front of the patcher (e.g. "strace -f -c -o FILE") for counting.
    std::vector<std::string> command;
    if (const char* wrap = std::getenv("MW_BENCH_WRAP")) {
        std::string word;
        for (const char* c = wrap;; ++c) {
            if (*c == ' ' || *c == '\0') {
                if (!word.empty()) command.push_back(word);
                word.clear();
                if (*c == '\0') break;
            } else {
                word += *c;
            }
        }
        if (!command.empty() && command[0].find('/') == std::string::npos)
            command[0] = "/usr/bin/" + command[0];
    }
    command.push_back(patcher.string());
    command.push_back("-SILENT");
    auto row = [&](const char* what, const Outcome& o, double against) {
        std::printf("%-28s %7d %10.2f %10.2f %8.2f %10ld %10ld %8.2f  rc=%d\n", what, entries, o.seconds, against,
                    o.seconds / against, o.peakKb / 1024, o.peakAnonKb / 1024, o.cpuSeconds, o.status);
        std::fflush(stdout);
    };
    // The check changes nothing; the failed run leaves the product as it was: all three start alike.
    // MW_BENCH_RUN_ONLY=1 leaves out the check and the rollback (for the long runs).
    const bool runOnly = std::getenv("MW_BENCH_RUN_ONLY") != nullptr;
    Outcome check;
    Outcome failed;
    if (!runOnly) {
        command.push_back("-CHECK");
        check = runProgram(command);
        command.pop_back();
        setenv("MENDWELL_FAULT", ("fail:" + std::to_string(entries)).c_str(), 1);
        failed = runProgram(command);
        unsetenv("MENDWELL_FAULT");
    }
    const Outcome run = runProgram(command);
    row("silent overwrite run", run, copy.seconds);
    if (!runOnly) {
        row("-SILENT -CHECK", check, copy.seconds);
        Outcome rollback = failed;
        rollback.seconds = failed.seconds - run.seconds;
        rollback.cpuSeconds = failed.cpuSeconds - run.cpuSeconds;
        row("rollback (vs run)", rollback, run.seconds);
    }
    fs::remove_all(root);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: bench_engine BIN_DIR [ENTRIES...]\n";
        return 2;
    }
    const fs::path bin = fs::absolute(argv[1]);
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {3000, 30000};
    std::printf("%-28s %7s %10s %10s %8s %10s %10s %8s\n", "what", "entries", "s", "against s", "ratio",
                "peak MB", "anon MB", "cpu s");
    for (int n : sizes) benchOne(bin, n);
    return 0;
}
