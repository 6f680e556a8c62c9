#include "platform/registry/connection.h"

#include <unistd.h>

#include <map>

#include "platform/machine/machine.h"
#include "platform/machine/store.h"
#include "platform/text/text.h"

namespace win::storedb {

namespace {

// Long enough for another process's transaction of many rows; a writer never holds the lock longer.
constexpr int kBusyTimeoutMs = 15000;

struct Connection {
    std::recursive_mutex mutex;
    sqlite3* db = nullptr;
    pid_t pid = 0;
    std::uint64_t generation = ~std::uint64_t{0};
    DWORD status = 0;
    std::string message;
    std::map<const char*, sqlite3_stmt*> statements;

    void closeDb() {
        // A child of fork() must not touch the parent's connection (SQLite would release the parent's
        // locks and could checkpoint under it): it is abandoned there and a new one is opened.
        if (db && pid == getpid()) {
            for (auto& [sql, stmt] : statements) sqlite3_finalize(stmt);
            sqlite3_close(db);
        }
        statements.clear();
        db = nullptr;
    }

    void ensure() {
        std::uint64_t current = Machine::generation();
        if (current == generation && pid == getpid() && (db || status)) return;
        closeDb();
        generation = current;
        pid = getpid();
        status = 0;
        message.clear();
        Machine& machine = Machine::current();
        if (!machine.ok()) {
            status = err::accessDenied;
            message = machine.error();
            return;
        }
        std::filesystem::path file = machine.storePath();
        if (!store::check(file, message)) {
            status = kRegistryCorrupt;
            return;
        }
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) !=
            SQLITE_OK) {
            message = file.string() + ": cannot open the machine store (" +
                      (db ? sqlite3_errmsg(db) : "out of memory") + ")";
            if (db) sqlite3_close(db);
            db = nullptr;
            status = kRegistryCorrupt;
            return;
        }
        sqlite3_busy_timeout(db, kBusyTimeoutMs);
        // WAL with NORMAL sync: a crashed process never leaves a torn transaction behind.
        sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
    }
};

Connection& connection() {
    // Never destroyed: other static objects may still use the registry while the process ends.
    static Connection* c = new Connection;
    return *c;
}

}  // namespace

Statement::~Statement() {
    if (stmt_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
}

Statement& Statement::bind(int index, std::int64_t value) {
    if (stmt_) sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    if (stmt_) sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindBlob(int index, std::span<const std::uint8_t> data) {
    // A zero-length blob, not NULL: an empty value is still a value.
    static const std::uint8_t empty = 0;
    const void* p = data.empty() ? &empty : data.data();
    if (stmt_) sqlite3_bind_blob(stmt_, index, p, static_cast<int>(data.size()), SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::bindNull(int index) {
    if (stmt_) sqlite3_bind_null(stmt_, index);
    return *this;
}

int Statement::step() {
    return stmt_ ? sqlite3_step(stmt_) : SQLITE_MISUSE;
}

std::int64_t Statement::integer(int column) const {
    return sqlite3_column_int64(stmt_, column);
}

std::string Statement::text(int column) const {
    const unsigned char* p = sqlite3_column_text(stmt_, column);
    int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

std::vector<std::uint8_t> Statement::blob(int column) const {
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_column_blob(stmt_, column));
    int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::vector<std::uint8_t>(p, p + n) : std::vector<std::uint8_t>();
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(stmt_, column) == SQLITE_NULL;
}

Session::Session() : lock_(connection().mutex) {
    Connection& c = connection();
    c.ensure();
    status_ = c.status;
}

const std::string& Session::message() const {
    return connection().message;
}

std::uint64_t Session::generation() const {
    return connection().generation;
}

Statement Session::prepare(const char* sql) {
    Connection& c = connection();
    if (status_ || !c.db) return Statement(nullptr);
    auto it = c.statements.find(sql);
    if (it != c.statements.end()) return Statement(it->second);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(c.db, sql, -1, &stmt, nullptr) != SQLITE_OK) return Statement(nullptr);
    c.statements.emplace(sql, stmt);
    return Statement(stmt);
}

bool Session::exec(const char* sql) {
    Statement s = prepare(sql);
    return s.ok() && s.step() == SQLITE_DONE;
}

Transaction::Transaction(Session& session) : session_(session) {
    begun_ = session_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    if (begun_ && !done_) session_.exec("ROLLBACK");
}

bool Transaction::commit() {
    if (!begun_ || done_) return false;
    done_ = session_.exec("COMMIT");
    return done_;
}

std::string fold(std::wstring_view name) {
    return toUtf8(toUpper(name));
}

}  // namespace win::storedb
