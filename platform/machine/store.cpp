#include "platform/machine/store.h"

#include <sqlite3.h>

#include <system_error>

namespace win::store {
namespace fs = std::filesystem;

namespace {

constexpr const char* kFormat = "mendwell-machine-store";
constexpr const char* kVersion = "1";

// Keys and values carry a folded (upper-case) copy of their name: lookups and ordering use it, the
// stored name keeps the case it was written with.
constexpr const char* kSchema = R"sql(
CREATE TABLE meta(name TEXT PRIMARY KEY, value TEXT NOT NULL);
CREATE TABLE reg_keys(
    id INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES reg_keys(id),
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    denied INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX reg_keys_child ON reg_keys(parent, folded);
CREATE TABLE reg_values(
    key INTEGER NOT NULL REFERENCES reg_keys(id),
    name TEXT NOT NULL,
    folded TEXT NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    PRIMARY KEY(key, folded)) WITHOUT ROWID;
CREATE TABLE services(
    folded TEXT PRIMARY KEY,
    name TEXT NOT NULL,
    display TEXT NOT NULL,
    state INTEGER NOT NULL,
    refuses_stop INTEGER NOT NULL DEFAULT 0,
    stop_pending_polls INTEGER NOT NULL DEFAULT 0,
    start_pending_polls INTEGER NOT NULL DEFAULT 0,
    start_error INTEGER NOT NULL DEFAULT 0,
    polls_left INTEGER NOT NULL DEFAULT 0,
    exit_code INTEGER NOT NULL DEFAULT 0,
    last_arguments BLOB NOT NULL DEFAULT x'',
    process_id INTEGER NOT NULL DEFAULT 0);
)sql";

// The two real hives and the keys the aliases point at (HKCR, HKCC). HKEY_USERS\<user> is made when
// first used, because the user name belongs to the profile, which may change after the store is made.
constexpr const char* kRoots = R"sql(
INSERT INTO reg_keys(id, parent, name, folded) VALUES (1, NULL, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE');
INSERT INTO reg_keys(id, parent, name, folded) VALUES (2, NULL, 'HKEY_USERS', 'HKEY_USERS');
INSERT INTO reg_keys(id, parent, name, folded) VALUES (3, 1, 'SOFTWARE', 'SOFTWARE');
INSERT INTO reg_keys(id, parent, name, folded) VALUES (4, 3, 'Classes', 'CLASSES');
INSERT INTO reg_keys(id, parent, name, folded) VALUES (5, 1, 'SYSTEM', 'SYSTEM');
INSERT INTO reg_keys(id, parent, name, folded) VALUES (6, 5, 'CurrentControlSet', 'CURRENTCONTROLSET');
INSERT INTO reg_keys(id, parent, name, folded) VALUES (7, 6, 'Hardware Profiles', 'HARDWARE PROFILES');
INSERT INTO reg_keys(id, parent, name, folded) VALUES (8, 7, 'Current', 'CURRENT');
INSERT INTO reg_keys(id, parent, name, folded) VALUES (9, 2, '.DEFAULT', '.DEFAULT');
)sql";

struct Db {
    sqlite3* db = nullptr;
    ~Db() {
        if (db) sqlite3_close(db);
    }
};

std::string prefix(const fs::path& file) {
    return file.string() + ": ";
}

}  // namespace

bool initialise(const fs::path& file, std::string& error) {
    std::error_code ec;
    if (fs::exists(file, ec)) {
        error = prefix(file) + "a file of that name already exists";
        return false;
    }
    Db d;
    if (sqlite3_open_v2(file.c_str(), &d.db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
        error = prefix(file) + "cannot create the machine store (" +
                (d.db ? sqlite3_errmsg(d.db) : "out of memory") + ")";
        return false;
    }
    std::string sql = "PRAGMA journal_mode=WAL; BEGIN;";
    sql += kSchema;
    sql += kRoots;
    sql += std::string("INSERT INTO meta VALUES ('format', '") + kFormat + "');";
    sql += std::string("INSERT INTO meta VALUES ('version', '") + kVersion + "');";
    sql += "COMMIT;";
    char* message = nullptr;
    if (sqlite3_exec(d.db, sql.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
        error =
            prefix(file) + "cannot create the machine store (" + (message ? message : "unknown error") + ")";
        sqlite3_free(message);
        return false;
    }
    return true;
}

bool check(const fs::path& file, std::string& error) {
    std::error_code ec;
    auto status = fs::status(file, ec);
    if (ec || !fs::exists(status)) {
        error = prefix(file) + "machine store is missing";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        error = prefix(file) + "not a Mendwell machine store (not a file)";
        return false;
    }
    Db d;
    // Read-write so that the WAL files can be used; fall back to read-only for a store we may only read.
    int rc = sqlite3_open_v2(file.c_str(), &d.db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(d.db);
        d.db = nullptr;
        rc = sqlite3_open_v2(file.c_str(), &d.db, SQLITE_OPEN_READONLY, nullptr);
    }
    if (rc != SQLITE_OK) {
        error = prefix(file) + "cannot open the machine store (" +
                (d.db ? sqlite3_errmsg(d.db) : "out of memory") + ")";
        return false;
    }
    sqlite3_busy_timeout(d.db, 10000);
    sqlite3_stmt* stmt = nullptr;
    rc = sqlite3_prepare_v2(d.db, "SELECT value FROM meta WHERE name = 'format'", -1, &stmt, nullptr);
    if (rc == SQLITE_NOTADB || rc == SQLITE_CORRUPT) {
        error = prefix(file) + "not a Mendwell machine store (file is not a database)";
        return false;
    }
    if (rc != SQLITE_OK) {
        std::string why = sqlite3_errmsg(d.db);
        if (why.find("no such table") != std::string::npos) {
            error = prefix(file) + "not a Mendwell machine store (no store tables)";
        } else {
            error = prefix(file) + "cannot read the machine store (" + why + ")";
        }
        return false;
    }
    rc = sqlite3_step(stmt);
    std::string format;
    if (rc == SQLITE_ROW) {
        // A foreign database may hold NULL there.
        const unsigned char* text = sqlite3_column_text(stmt, 0);
        if (text) format = reinterpret_cast<const char*>(text);
    }
    sqlite3_finalize(stmt);
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        error = prefix(file) + "cannot read the machine store (" + sqlite3_errmsg(d.db) + ")";
        return false;
    }
    if (format != kFormat) {
        error = prefix(file) + "not a Mendwell machine store (unknown format)";
        return false;
    }
    for (const char* table : {"reg_keys", "reg_values", "services"}) {
        std::string sql = std::string("SELECT 1 FROM ") + table + " LIMIT 1";
        if (sqlite3_prepare_v2(d.db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
            error = prefix(file) + "not a Mendwell machine store (table " + table + " is missing)";
            return false;
        }
        sqlite3_finalize(stmt);
    }
    // Stores made before services had a process get the column; one only readable is used as it is.
    if (sqlite3_prepare_v2(d.db, "SELECT process_id FROM services LIMIT 1", -1, &stmt, nullptr) ==
        SQLITE_OK) {
        sqlite3_finalize(stmt);
    } else {
        sqlite3_exec(d.db, "ALTER TABLE services ADD COLUMN process_id INTEGER NOT NULL DEFAULT 0", nullptr,
                     nullptr, nullptr);
    }
    return true;
}

}  // namespace win::store
