#include "outside/tally/store.h"

#include <sqlite3.h>

#include <filesystem>

#include "outside/tally/tally_api.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/machine/machine.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace mw::tally {

namespace {

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS payloads(id TEXT PRIMARY KEY, version TEXT);"
    "CREATE TABLE IF NOT EXISTS properties(payload TEXT NOT NULL, category INTEGER NOT NULL, name TEXT NOT "
    "NULL, value TEXT NOT NULL, PRIMARY KEY(payload, category, name));"
    "CREATE TABLE IF NOT EXISTS collections(id TEXT PRIMARY KEY, tsInstalled INTEGER NOT NULL DEFAULT 0, "
    "tsModified INTEGER NOT NULL DEFAULT 0);"
    "CREATE TABLE IF NOT EXISTS members(collection TEXT NOT NULL, payload TEXT NOT NULL, "
    "PRIMARY KEY(collection, payload));";

// A prepared statement that finalises itself.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr); }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return rc_ == SQLITE_OK; }
    Statement& bind(int index, const std::string& text) {
        sqlite3_bind_text(stmt_, index, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int index, std::int64_t value) {
        sqlite3_bind_int64(stmt_, index, value);
        return *this;
    }
    int step() { return sqlite3_step(stmt_); }
    std::string text(int column) const {
        const unsigned char* t = sqlite3_column_text(stmt_, column);
        return t ? reinterpret_cast<const char*>(t) : "";
    }
    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_ERROR;
};

bool exec(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

// Runs one change statement; false with the database's message.
bool run(sqlite3* db, Statement& st, std::string& error) {
    if (!st.ok() || st.step() != SQLITE_DONE) {
        error = sqlite3_errmsg(db);
        return false;
    }
    return true;
}

// Creates every missing folder of a Windows path's parent chain.
void createParents(const std::wstring& file) {
    std::wstring parent = win::parentPart(file);
    if (parent.size() <= 3 || win::isDirectory(parent)) return;
    createParents(parent);
    win::createDirectory(parent);
}

// Writes happen in one transaction so a failed registration leaves nothing half done.
class Transaction {
  public:
    explicit Transaction(sqlite3* db) : db_(db) {}
    ~Transaction() {
        if (open_) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool begin(std::string& error) { return open_ = exec(db_, "BEGIN IMMEDIATE", error); }
    bool commit(std::string& error) {
        if (!exec(db_, "COMMIT", error)) return false;
        open_ = false;
        return true;
    }

  private:
    sqlite3* db_;
    bool open_ = false;
};

// Naming a collection moves the product into it: time stamps given with it then land on that
// collection, and it is the one the patcher is answered with. A collection left without members goes.
bool ensureCollection(sqlite3* db, const std::string& payload, const std::string& collection,
                      std::string& error) {
    Statement leave(db, "DELETE FROM members WHERE payload = ? AND collection <> ?");
    leave.bind(1, payload).bind(2, collection);
    if (!run(db, leave, error)) return false;
    Statement c(db, "INSERT OR IGNORE INTO collections(id) VALUES(?)");
    c.bind(1, collection);
    if (!run(db, c, error)) return false;
    Statement m(db, "INSERT OR IGNORE INTO members(collection, payload) VALUES(?, ?)");
    m.bind(1, collection).bind(2, payload);
    if (!run(db, m, error)) return false;
    Statement orphans(db, "DELETE FROM collections WHERE id NOT IN (SELECT collection FROM members)");
    return run(db, orphans, error);
}

std::string firstCollection(sqlite3* db, const std::string& payload) {
    Statement st(db, "SELECT collection FROM members WHERE payload = ? ORDER BY rowid LIMIT 1");
    st.bind(1, payload);
    return st.ok() && st.step() == SQLITE_ROW ? st.text(0) : std::string();
}

bool setTimestamp(sqlite3* db, const std::string& payload, const char* column, std::int64_t value,
                  std::string& error) {
    std::string collection = firstCollection(db, payload);
    if (collection.empty()) {
        error = "product " + payload + " belongs to no collection; give one first";
        return false;
    }
    std::string sql = std::string("UPDATE collections SET ") + column + " = ? WHERE id = ?";
    Statement st(db, sql.c_str());
    st.bind(1, value).bind(2, collection);
    return run(db, st, error);
}

bool setProperty(sqlite3* db, const std::string& payload, const std::string& name, const std::string& value,
                 std::string& error) {
    Statement st(db,
                 "INSERT INTO properties(payload, category, name, value) VALUES(?, ?, ?, ?) "
                 "ON CONFLICT(payload, category, name) DO UPDATE SET value = excluded.value");
    st.bind(1, payload).bind(2, std::int64_t{TALLY_CATEGORY_PROPERTIES}).bind(3, name).bind(4, value);
    return run(db, st, error);
}

bool payloadExists(sqlite3* db, const std::string& payload) {
    Statement st(db, "SELECT 1 FROM payloads WHERE id = ?");
    st.bind(1, payload);
    return st.ok() && st.step() == SQLITE_ROW;
}

bool parseInteger(const std::string& text, std::int64_t& out) {
    if (text.empty()) return false;
    std::size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    std::int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9' || v > (INT64_MAX - 9) / 10) return false;
        v = v * 10 + (text[i] - '0');
    }
    out = text[0] == '-' ? -v : v;
    return true;
}

}  // namespace

std::wstring databaseWindowsPath() {
    std::wstring shared;
    if (!win::shellFolder(win::csidl::commonAppData, shared)) shared = L"C:\\ProgramData";
    return shared + L"\\Orvex\\Tally\\tally.db";
}

int busyTimeoutMs() {
    if (auto v = win::getEnv(L"ORVEX_TALLY_BUSY_MS")) {
        std::int64_t ms = 0;
        if (parseInteger(win::toUtf8(*v), ms) && ms >= 0 && ms <= 600000) return static_cast<int>(ms);
    }
    return 5000;
}

Database::~Database() {
    close();
}

void Database::close() {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
}

int Database::openForReading(std::string& error) {
    return open(false, error);
}
int Database::openForWriting(std::string& error) {
    return open(true, error);
}

int Database::open(bool write, std::string& error) {
    close();
    if (!win::Machine::current().ok()) {
        error = win::Machine::current().error();
        return TALLY_E_DATABASE;
    }
    std::wstring path = databaseWindowsPath();
    if (write) createParents(path);
    std::filesystem::path host;
    if (!win::hostPath(path, host)) {
        error = "the database path " + win::toUtf8(path) + " cannot be mapped on this machine";
        return TALLY_E_DATABASE;
    }
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_FULLMUTEX | (write ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(host.string().c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        error = "cannot open " + host.string() + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
        close();
        return TALLY_E_DATABASE;
    }
    sqlite3_busy_timeout(db_, busyTimeoutMs());
    // A file that is not a database, or one held locked by another process, fails here and never later
    // halfway through a query.
    if (write && (!exec(db_, "PRAGMA journal_mode=WAL", error) || !exec(db_, kSchema, error))) {
        error = host.string() + ": " + error;
        close();
        return TALLY_E_DATABASE;
    }
    Statement probe(db_, "SELECT count(*) FROM payloads");
    if (!probe.ok() || probe.step() != SQLITE_ROW) {
        error = host.string() + ": " + sqlite3_errmsg(db_);
        close();
        return TALLY_E_DATABASE;
    }
    return TALLY_OK;
}

int addProduct(const ProductFields& f, std::string& error) {
    if (f.payloadId.empty()) {
        error = "a product code is required";
        return TALLY_E_ARGUMENT;
    }
    Database db;
    if (int rc = db.openForWriting(error)) return rc;
    sqlite3* h = db.handle();
    Transaction tx(h);
    if (!tx.begin(error)) return TALLY_E_DATABASE;
    Statement p(h,
                "INSERT INTO payloads(id, version) VALUES(?, ?) "
                "ON CONFLICT(id) DO UPDATE SET version = coalesce(excluded.version, version)");
    p.bind(1, f.payloadId);
    if (f.version) p.bind(2, *f.version);
    if (!run(h, p, error)) return TALLY_E_DATABASE;
    const std::pair<const char*, const std::optional<std::string>*> props[] = {
        {"INSTALLDIR", &f.installDir},
        {"installLanguage", &f.installLanguage},
        {"ProductCode", &f.productCode}};
    for (const auto& [name, value] : props) {
        if (*value && !setProperty(h, f.payloadId, name, **value, error)) return TALLY_E_DATABASE;
    }
    if (f.collectionId && !f.collectionId->empty() &&
        !ensureCollection(h, f.payloadId, *f.collectionId, error))
        return TALLY_E_DATABASE;
    if (f.tsInstalled && !setTimestamp(h, f.payloadId, "tsInstalled", *f.tsInstalled, error))
        return TALLY_E_ARGUMENT;
    if (f.tsModified && !setTimestamp(h, f.payloadId, "tsModified", *f.tsModified, error))
        return TALLY_E_ARGUMENT;
    return tx.commit(error) ? TALLY_OK : TALLY_E_DATABASE;
}

int setValue(const std::string& payloadId, const std::string& name, const std::string& value,
             std::string& error) {
    if (payloadId.empty() || name.empty()) {
        error = "a product code and a value name are required";
        return TALLY_E_ARGUMENT;
    }
    Database db;
    if (int rc = db.openForWriting(error)) return rc;
    sqlite3* h = db.handle();
    Transaction tx(h);
    if (!tx.begin(error)) return TALLY_E_DATABASE;
    if (!payloadExists(h, payloadId)) {
        error = "no product " + payloadId + " is registered";
        return TALLY_E_NOT_FOUND;
    }
    bool ok = false;
    if (name == "version") {
        Statement st(h, "UPDATE payloads SET version = ? WHERE id = ?");
        st.bind(1, value).bind(2, payloadId);
        ok = run(h, st, error);
    } else if (name == "collection") {
        ok = ensureCollection(h, payloadId, value, error);
    } else if (name == "tsInstalled" || name == "tsModified") {
        std::int64_t n = 0;
        if (!parseInteger(value, n)) {
            error = name + " must be a decimal number, not \"" + value + "\"";
            return TALLY_E_ARGUMENT;
        }
        ok = setTimestamp(h, payloadId, name.c_str(), n, error);
    } else {
        ok = setProperty(h, payloadId, name, value, error);
    }
    if (!ok) return TALLY_E_ARGUMENT;
    return tx.commit(error) ? TALLY_OK : TALLY_E_DATABASE;
}

int removeProduct(const std::string& payloadId, std::string& error) {
    Database db;
    if (int rc = db.openForWriting(error)) return rc;
    sqlite3* h = db.handle();
    Transaction tx(h);
    if (!tx.begin(error)) return TALLY_E_DATABASE;
    if (!payloadExists(h, payloadId)) {
        error = "no product " + payloadId + " is registered";
        return TALLY_E_NOT_FOUND;
    }
    for (const char* sql : {"DELETE FROM properties WHERE payload = ?",
                            "DELETE FROM members WHERE payload = ?", "DELETE FROM payloads WHERE id = ?"}) {
        Statement st(h, sql);
        st.bind(1, payloadId);
        if (!run(h, st, error)) return TALLY_E_DATABASE;
    }
    // A collection without members is of no use to anyone.
    Statement orphans(h, "DELETE FROM collections WHERE id NOT IN (SELECT collection FROM members)");
    if (!run(h, orphans, error)) return TALLY_E_DATABASE;
    return tx.commit(error) ? TALLY_OK : TALLY_E_DATABASE;
}

int listProducts(std::vector<Product>& out, std::string& error) {
    out.clear();
    Database db;
    if (int rc = db.openForReading(error)) return rc;
    sqlite3* h = db.handle();
    Statement st(h, "SELECT id, coalesce(version, '') FROM payloads ORDER BY id");
    while (st.ok() && st.step() == SQLITE_ROW) out.push_back(Product{st.text(0), st.text(1), {}, "", 0, 0});
    for (Product& p : out) {
        Statement props(h, "SELECT name, value FROM properties WHERE payload = ? ORDER BY name");
        props.bind(1, p.payloadId);
        while (props.ok() && props.step() == SQLITE_ROW)
            p.properties.emplace_back(props.text(0), props.text(1));
        p.collectionId = firstCollection(h, p.payloadId);
        Statement c(h, "SELECT tsInstalled, tsModified FROM collections WHERE id = ?");
        c.bind(1, p.collectionId);
        if (c.ok() && c.step() == SQLITE_ROW) {
            p.tsInstalled = c.integer(0);
            p.tsModified = c.integer(1);
        }
    }
    return TALLY_OK;
}

}  // namespace mw::tally
