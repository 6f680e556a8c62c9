// The "exe" method on real executables: two builds of one small program whose source changed a little,
// compiled here for x86-64 ELF (g++) and for 32- and 64-bit Windows (MinGW-w64). A missing compiler skips
// its row and says so: a skipped row has not been checked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>

#include "outside/quadrel/exe_filter.h"
#include "platform/process/process.h"
#include "tests/patchtool/quadrel_support.h"
#include "tests/support/testmachine.h"

namespace {

namespace fs = std::filesystem;
using namespace quadrel_test;

// NEWER adds a function near the top, changes a constant and a string: the layout after it shifts.
const char* const kProgram = R"(#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>
#ifdef NEWER
static int checksum(const std::string& s) { int h = 7; for (char c : s) h = h * 33 + c; return h; }
#endif
struct Shape { virtual ~Shape() = default; virtual double area() const = 0; virtual const char* name() const = 0; };
struct Square : Shape {
    double side; explicit Square(double s) : side(s) {}
    double area() const override { return side * side; } const char* name() const override { return "square"; } };
struct Circle : Shape {
    double r; explicit Circle(double x) : r(x) {}
    double area() const override { return 3.14159 * r * r; } const char* name() const override { return "circle"; } };
static std::map<std::string, int> countWords(const std::string& text) {
    std::map<std::string, int> out; std::string word;
    for (char c : text + " ") { if (c == ' ') { if (!word.empty()) ++out[word]; word.clear(); } else word += c; }
    return out; }
static std::vector<int> primes(int limit) {
    std::vector<bool> sieve(limit + 1, true); std::vector<int> out;
    for (int i = 2; i <= limit; ++i) { if (!sieve[i]) continue; out.push_back(i);
        for (int j = i * 2; j <= limit; j += i) sieve[j] = false; }
    return out; }
int main(int argc, char** argv) {
    std::vector<Shape*> shapes = {new Square(2), new Circle(1.5), new Square(argc)};
    std::sort(shapes.begin(), shapes.end(), [](Shape* a, Shape* b) { return a->area() < b->area(); });
    for (Shape* s : shapes) { std::printf("%s %.2f\n", s->name(), s->area()); delete s; }
    const std::string text = argc > 1 ? argv[1] : "the quick brown fox jumps over the lazy dog the end";
    for (const auto& [w, n] : countWords(text)) std::printf("%s: %d\n", w.c_str(), n);
#ifdef NEWER
    const int limit = 120; std::printf("checksum %d\n", checksum(text));
#else
    const int limit = 100;
#endif
    std::printf("%zu primes below %d\n", primes(limit).size(), limit);
    return 0; }
)";

struct Pair {
    std::string old, neu;
};

// The two builds with `compiler`, kept in the build folder between runs (named after the source, so
// test programs running at once never write the same file); empty when it is not installed.
Pair build(const std::string& compiler) {
    const fs::path dir = testing_support::buildDir() / "exe-pairs";
    fs::create_directories(dir);
    const std::string stem = compiler + "-" + std::to_string(std::hash<std::string>{}(kProgram));
    Pair p;
    for (const bool newer : {false, true}) {
        const fs::path out = dir / (stem + (newer ? ".new" : ".old"));
        if (!fs::exists(out)) {
            testing_support::TempDir work;
            const fs::path source = work.path() / "program.cpp", built = work.path() / "program.exe";
            testing_support::writeHostFile(source, kProgram);
            std::vector<std::string> args = {compiler, "-std=c++17", "-O2", "-s", "-static-libgcc",
                                             "-static-libstdc++", source.string(), "-o", built.string()};
            if (newer) args.push_back("-DNEWER");
            const auto r = testing_support::runProgram("/usr/bin/env", args);
            if (r.exitCode != 0 || !fs::exists(built)) return {};
            const fs::path part = out.string() + "." + std::to_string(::getpid());
            fs::copy_file(built, part, fs::copy_options::overwrite_existing);
            fs::rename(part, out);
        }
        (newer ? p.neu : p.old) = testing_support::readHostFile(out);
    }
    return p;
}

std::string make(const std::string& old, const std::string& neu, quadrel::Request request,
                 quadrel::Method* method = nullptr) {
    testing_support::TempDir dir;
    quadrel::MakeReport report;
    std::string error;
    EXPECT_TRUE(quadrel::makeDifference(bytes(old), bytes(neu), "prog.exe", request, dir.path() / "d", report, error))
        << error;
    if (method != nullptr) *method = report.method;
    return testing_support::readHostFile(dir.path() / "d");
}

struct Row {
    const char* compiler;
    const char* what;
};
const Row kRows[] = {
    {"g++", "ELF x86-64"},
    {"i686-w64-mingw32-g++", "PE i386"},
    {"x86_64-w64-mingw32-g++", "PE x86-64"},
};

// Rewriting must come back byte for byte for any bytes: the images, their layouts damaged or cut short,
// and code with random bytes written over it (so that operands take every form).
void expectRoundTrip(const std::string& image, const std::string& what) {
    std::string back;
    ASSERT_TRUE(quadrel::decodeExe(bytes(quadrel::encodeExe(bytes(image))), image.size(), back)) << what;
    EXPECT_TRUE(back == image) << what;
}

TEST(ExeMethod, RealBuildsComeBackSmallerThanWithTheOtherMethods) {
    std::vector<std::string> skipped;
    for (const Row& row : kRows) {
        const Pair p = build(row.compiler);
        if (p.old.empty()) {
            skipped.push_back(row.compiler);
            continue;
        }
        ASSERT_NE(p.old, p.neu) << row.what;
        // The layout was understood: the image is rewritten, not carried as it is.
        const std::string form = quadrel::encodeExe(bytes(p.neu));
        EXPECT_TRUE(form != quadrel::encodeExeRaw(bytes(p.neu))) << row.what;

        quadrel::Method method{};
        const std::string exe = make(p.old, p.neu, quadrel::Request::exe);
        const std::string best = make(p.old, p.neu, quadrel::Request::automatic, &method);
        const std::size_t match = make(p.old, p.neu, quadrel::Request::match).size();
        const std::size_t zstd = make(p.old, p.neu, quadrel::Request::zstd).size();
        EXPECT_LE(exe.size() * 10, std::min(match, zstd) * 8) << row.what << ": exe " << exe.size() << ", match "
                                                             << match << ", zstd " << zstd;
        EXPECT_EQ(method, quadrel::Method::exe) << row.what;
        EXPECT_EQ(best.size(), exe.size()) << row.what;
        std::string result;
        EXPECT_EQ(applyInMemory(exe, p.old, result), quadrel::Outcome::ok) << row.what;
        EXPECT_TRUE(result == p.neu) << row.what;

        std::mt19937 rng(7);
        std::vector<std::pair<std::string, std::string>> variants = {
            {"truncated to its headers", p.neu.substr(0, 700)},
            {"cut in the middle", p.neu.substr(0, p.neu.size() / 2)},
        };
        for (int i = 0; i < 6; ++i) {
            std::string v = p.neu;
            for (int k = 0; k < 2000; ++k) v[1024 + rng() % (v.size() - 1024)] = static_cast<char>(rng());
            variants.emplace_back("random bytes over it, seed " + std::to_string(i), v);
        }
        std::string header = p.neu;  // a section table pointing far outside the file
        header[0x3c] = static_cast<char>(0xf0);
        variants.emplace_back("entry of the headers moved", header);
        for (const auto& [what, image] : variants) expectRoundTrip(image, std::string(row.what) + ", " + what);
    }
    if (skipped.size() == std::size(kRows)) GTEST_SKIP() << "no compiler here: exe pairs NOT checked";
    for (const std::string& c : skipped) ADD_FAILURE() << c << " is not installed: that pair was NOT checked";
}

// Damaged "exe" differences through the patch tool: refused with result 4, the old file untouched.
TEST(ExeMethod, DamagedDifferencesLeaveTheTargetUntouched) {
    const Pair p = build("x86_64-w64-mingw32-g++");
    if (p.old.empty()) GTEST_SKIP() << "x86_64-w64-mingw32-g++ is not installed: NOT checked";
    testing_support::TestMachine machine;
    fs::create_directories(machine.host(L"C:\\Q"));
    fs::copy_file(testing_support::binDir() / "patch", machine.host(L"C:\\Q") / "patch.exe");
    fs::copy_file(testing_support::binDir() / "quadw32.dll", machine.host(L"C:\\Q") / "quadw32.dll");
    const std::string diff = make(p.old, p.neu, quadrel::Request::exe);
    std::vector<std::string> damaged = {diff.substr(0, diff.size() - 1), diff.substr(0, diff.size() / 2)};
    quadrel::MemoryReader reader(bytes(diff));
    quadrel::Header h;
    ASSERT_TRUE(quadrel::parseHeader(reader, h));
    // The header, the inner method, the rewritten size, the streams.
    const std::size_t data = h.dataOffset;
    for (std::size_t at : {std::size_t{6}, data, data + 1, data + 8, data + 20, diff.size() / 2, diff.size() - 1}) {
        std::string flipped = diff;
        flipped[at] = static_cast<char>(flipped[at] ^ 0x04);
        damaged.push_back(flipped);
    }
    for (std::size_t i = 0; i <= damaged.size(); ++i) {
        const bool whole = i == damaged.size();
        machine.writeFile(L"C:\\W\\prog.exe", p.old);
        machine.writeFile(L"C:\\W\\d.QDR", whole ? diff : damaged[i]);
        win::ChildProcess child;
        win::ChildOptions options;
        options.captureOutput = true;
        ASSERT_TRUE(child.start(L"C:\\Q\\patch.exe \"C:\\W\" \"C:\\W\\d.QDR\"", options) && child.wait());
        win::DWORD code = 0;
        child.exitCode(code);
        EXPECT_EQ(code, whole ? 0u : 4u) << "case " << i << "\n" << child.output();
        EXPECT_TRUE(machine.readFile(L"C:\\W\\prog.exe") == (whole ? p.neu : p.old)) << "case " << i;
        EXPECT_FALSE(machine.exists(L"C:\\W\\prog.exe.qdnew")) << "case " << i;
    }
}

}  // namespace
