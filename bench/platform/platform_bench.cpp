// Platform layer costs next to the host operations under them: Windows path resolution against stat(),
// registry reads against a bare SQLite point read, and two processes writing the registry at once.
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"

namespace fs = std::filesystem;

namespace {

constexpr int kOperations = 100000;
constexpr int kFiles = 1000;
constexpr int kValues = 1000;
constexpr int kWritesPerProcess = 10000;

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void row(const char* what, long count, double ms, const std::string& note = "") {
    std::printf("%-44s %8ld %10.1f %10.3f  %s\n", what, count, ms, ms * 1000.0 / static_cast<double>(count),
                note.c_str());
}

// Sink for results so the compiler keeps the work.
volatile std::size_t g_sink = 0;

int fail(const std::string& message) {
    std::fprintf(stderr, "bench_platform: %s\n", message.c_str());
    return 1;
}

}  // namespace

int main() {
    fs::path root = fs::temp_directory_path() / ("mw-bench-" + std::to_string(getpid()));
    std::string error;
    if (!win::Machine::create(root, {}, error) || !win::Machine::select(root, error)) return fail(error);
    struct Cleanup {
        fs::path root;
        ~Cleanup() {
            std::error_code ec;
            fs::remove_all(root, ec);
        }
    } cleanup{root};

    // Files: C:\Program Files\Orvex\Lumen 9\Folder<k>\File<i>.dll, looked up in another letter case.
    std::vector<std::wstring> windowsPaths;
    std::vector<std::string> hostPaths;
    for (int i = 0; i < kFiles; ++i) {
        std::string folder = "Folder" + std::to_string(i % 20);
        fs::path dir = root / "drive_c" / "Program Files" / "Orvex" / "Lumen 9" / folder;
        fs::create_directories(dir);
        fs::path file = dir / ("File" + std::to_string(i) + ".dll");
        std::ofstream(file) << "x";
        hostPaths.push_back(file.string());
        windowsPaths.push_back(win::fromUtf8("c:\\PROGRAM FILES\\orvex\\LUMEN 9\\" + folder + "\\file" +
                                             std::to_string(i) + ".DLL"));
    }

    std::printf("%-44s %8s %10s %10s\n", "operation", "count", "total ms", "us/op");

    auto start = Clock::now();
    for (int i = 0; i < kOperations; ++i) {
        fs::path out;
        if (!win::hostPath(windowsPaths[static_cast<std::size_t>(i % kFiles)], out))
            return fail("hostPath failed");
        g_sink = g_sink + out.native().size();
    }
    row("win::hostPath, existing file, other case", kOperations, millisecondsSince(start));

    start = Clock::now();
    for (int i = 0; i < kOperations; ++i) {
        struct stat st;
        if (stat(hostPaths[static_cast<std::size_t>(i % kFiles)].c_str(), &st) != 0)
            return fail("stat failed");
        g_sink = g_sink + static_cast<std::size_t>(st.st_size);
    }
    row("stat() of the host path", kOperations, millisecondsSince(start));

    // Registry values under one key, read through the layer.
    win::RegKey key;
    if (key.create(win::RegRoot::localMachine, L"Software\\Orvex\\Bench") != 0)
        return fail("create key failed");
    std::vector<std::wstring> names;
    for (int i = 0; i < kValues; ++i) {
        names.push_back(L"Value" + std::to_wstring(i));
        if (key.setString(names.back(), L"C:\\Program Files\\Orvex\\Lumen 9\\" + names.back()) != 0) {
            return fail("setValue failed");
        }
    }
    start = Clock::now();
    for (int i = 0; i < kOperations; ++i) {
        win::DWORD type = 0;
        std::vector<std::uint8_t> data;
        if (key.queryValue(names[static_cast<std::size_t>(i % kValues)], type, data) != 0)
            return fail("query failed");
        g_sink = g_sink + data.size();
    }
    row("RegKey::queryValue", kOperations, millisecondsSince(start));

    // The same read on a bare table of the same shape, prepared once.
    {
        sqlite3* db = nullptr;
        fs::path file = root / "plain.db";
        if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) return fail("sqlite open failed");
        sqlite3_exec(db,
                     "PRAGMA journal_mode=WAL;"
                     "CREATE TABLE v(key INTEGER, name TEXT, folded TEXT, type INTEGER, data BLOB,"
                     " PRIMARY KEY(key, folded)) WITHOUT ROWID; BEGIN;",
                     nullptr, nullptr, nullptr);
        sqlite3_stmt* insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO v VALUES (7, ?1, upper(?1), 1, ?2)", -1, &insert, nullptr);
        std::vector<std::string> folded;
        for (int i = 0; i < kValues; ++i) {
            std::string name = "Value" + std::to_string(i);
            std::vector<std::uint8_t> data = win::regStringData(win::fromUtf8("C:\\Program Files\\" + name));
            sqlite3_bind_text(insert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_blob(insert, 2, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
            sqlite3_step(insert);
            sqlite3_reset(insert);
            folded.push_back(win::toUtf8(win::toUpper(win::fromUtf8(name))));
        }
        sqlite3_finalize(insert);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        sqlite3_stmt* select = nullptr;
        sqlite3_prepare_v2(db, "SELECT type, data FROM v WHERE key = 7 AND folded = ?1", -1, &select,
                           nullptr);
        start = Clock::now();
        for (int i = 0; i < kOperations; ++i) {
            const std::string& f = folded[static_cast<std::size_t>(i % kValues)];
            sqlite3_bind_text(select, 1, f.data(), static_cast<int>(f.size()), SQLITE_STATIC);
            if (sqlite3_step(select) != SQLITE_ROW) return fail("plain read failed");
            g_sink = g_sink + static_cast<std::size_t>(sqlite3_column_bytes(select, 1));
            sqlite3_reset(select);
        }
        row("SQLite prepared point read (same shape)", kOperations, millisecondsSince(start));
        sqlite3_finalize(select);
        sqlite3_close(db);
    }

    // Two processes writing at once; each write is its own transaction.
    start = Clock::now();
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = fork();
        if (children[p] < 0) return fail("fork failed");
        if (children[p] == 0) {
            win::RegKey k;
            if (k.create(win::RegRoot::localMachine, L"Software\\Orvex\\Race") != 0) _exit(2);
            for (int i = 0; i < kWritesPerProcess; ++i) {
                if (k.setDword(L"p" + std::to_wstring(p) + L"-" + std::to_wstring(i),
                               static_cast<win::DWORD>(i))) {
                    _exit(1);
                }
            }
            _exit(0);
        }
    }
    bool childrenOk = true;
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        childrenOk = childrenOk && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    double ms = millisecondsSince(start);
    win::RegKey race;
    long count = 0;
    win::DWORD subKeys = 0, values = 0;
    if (race.open(win::RegRoot::localMachine, L"Software\\Orvex\\Race") == 0 &&
        race.queryInfo(subKeys, values) == 0) {
        count = values;
    }
    row("RegKey::setValue, 2 processes at once", 2L * kWritesPerProcess, ms,
        "values afterwards: " + std::to_string(count) +
            (count == 2L * kWritesPerProcess ? " (all)" : " (LOST)"));
    return childrenOk && count == 2L * kWritesPerProcess ? 0 : 1;
}
