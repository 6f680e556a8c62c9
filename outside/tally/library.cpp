// The exports of orvex_tally: read-only sessions over the product database, and registration.
#include <sqlite3.h>

#include <deque>
#include <string>
#include <vector>

#include "outside/tally/store.h"
#include "outside/tally/tally_api.h"

#define TALLY_EXPORT extern "C" __attribute__((visibility("default")))

struct TallySessionRec {
    mw::tally::Database db;
    // Everything handed out lives here until the session closes.
    std::deque<std::string> texts;
    std::deque<std::vector<const char*>> lists;

    const char* keep(std::string text) { return texts.emplace_back(std::move(text)).c_str(); }
};

namespace {

class Query {
  public:
    Query(TallySessionRec* s, const char* sql) {
        if (sqlite3_prepare_v2(s->db.handle(), sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Query() { sqlite3_finalize(stmt_); }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;
    Query& bind(int index, const char* text) {
        if (stmt_) sqlite3_bind_text(stmt_, index, text, -1, SQLITE_TRANSIENT);
        return *this;
    }
    Query& bind(int index, long long v) {
        if (stmt_) sqlite3_bind_int64(stmt_, index, v);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE, or an error (a lock held too long, a damaged file).
    int step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    std::string text(int column) const {
        const unsigned char* t = sqlite3_column_text(stmt_, column);
        return t ? reinterpret_cast<const char*>(t) : "";
    }
    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    long long integer(int column) const { return sqlite3_column_int64(stmt_, column); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

int rowResult(int rc) {
    return rc == SQLITE_DONE ? TALLY_E_NOT_FOUND : TALLY_E_DATABASE;
}

std::int32_t low32(long long v) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
}

int fieldOrNull(const char* text) {
    return text && *text ? 1 : 0;
}

}  // namespace

TALLY_EXPORT int tallyOpenSession(TallyHandle* session) {
    if (!session) return TALLY_E_ARGUMENT;
    *session = nullptr;
    auto* s = new (std::nothrow) TallySessionRec;
    if (!s) return TALLY_E_DATABASE;
    std::string error;
    if (s->db.openForReading(error) != TALLY_OK) {
        delete s;
        return TALLY_E_DATABASE;
    }
    *session = s;
    return TALLY_OK;
}

TALLY_EXPORT int tallySessionCommit(TallyHandle session) {
    if (!session) return TALLY_E_SESSION;
    // Sessions only read; any open statement transaction has already ended, so there is nothing pending.
    return sqlite3_get_autocommit(session->db.handle()) ? TALLY_OK : TALLY_E_DATABASE;
}

TALLY_EXPORT int tallyCloseSession(TallyHandle session) {
    if (!session) return TALLY_E_SESSION;
    delete session;
    return TALLY_OK;
}

TALLY_EXPORT int tallyGetPayloadData(TallyHandle session, const char* payloadId, int32_t category,
                                     const char* name, const char** value) {
    if (value) *value = nullptr;
    if (!session) return TALLY_E_SESSION;
    if (!payloadId || !name || !value) return TALLY_E_ARGUMENT;
    Query q(session, "SELECT value FROM properties WHERE payload = ? AND category = ? AND name = ?");
    q.bind(1, payloadId).bind(2, static_cast<long long>(category)).bind(3, name);
    int rc = q.step();
    if (rc != SQLITE_ROW) return rowResult(rc);
    *value = session->keep(q.text(0));
    return TALLY_OK;
}

TALLY_EXPORT int tallyGetPayload(TallyHandle session, const char* payloadId, TallyPayloadRecord* record) {
    if (!session) return TALLY_E_SESSION;
    if (!payloadId || !record) return TALLY_E_ARGUMENT;
    Query q(session,
            "SELECT p.version, (SELECT value FROM properties WHERE payload = p.id AND category = 5 AND "
            "name = 'ProductCode'), (SELECT count(*) FROM members WHERE payload = p.id) FROM payloads p "
            "WHERE p.id = ?");
    q.bind(1, payloadId);
    int rc = q.step();
    if (rc != SQLITE_ROW) return rowResult(rc);
    *record = TallyPayloadRecord{};
    record->payloadId = session->keep(payloadId);
    if (!q.isNull(1)) record->productCode = session->keep(q.text(1));
    record->collectionCount = low32(q.integer(2));
    if (!q.isNull(0)) record->version = session->keep(q.text(0));
    return TALLY_OK;
}

TALLY_EXPORT int tallyGetPayloadCollections(TallyHandle session, int32_t relation, const char* payloadId,
                                            const char* const** list) {
    if (list) *list = nullptr;
    if (!session) return TALLY_E_SESSION;
    if (!payloadId || !list || relation != TALLY_RELATION_OWNING_COLLECTIONS) return TALLY_E_ARGUMENT;
    Query q(session, "SELECT collection FROM members WHERE payload = ? ORDER BY rowid");
    q.bind(1, payloadId);
    std::vector<const char*> ids;
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) ids.push_back(session->keep(q.text(0)));
    if (rc != SQLITE_DONE) return TALLY_E_DATABASE;
    if (ids.empty()) return TALLY_E_NOT_FOUND;
    ids.push_back(nullptr);
    *list = session->lists.emplace_back(std::move(ids)).data();
    return TALLY_OK;
}

TALLY_EXPORT int tallyGetCollection(TallyHandle session, const char* collectionId,
                                    TallyCollectionRecord* record) {
    if (!session) return TALLY_E_SESSION;
    if (!collectionId || !record) return TALLY_E_ARGUMENT;
    Query q(session,
            "SELECT tsInstalled, tsModified, (SELECT count(*) FROM members WHERE collection = c.id) "
            "FROM collections c WHERE c.id = ?");
    q.bind(1, collectionId);
    int rc = q.step();
    if (rc != SQLITE_ROW) return rowResult(rc);
    record->recordSize = sizeof(TallyCollectionRecord);
    record->payloadCount = low32(q.integer(2));
    record->tsInstalled = low32(q.integer(0));
    record->tsModified = low32(q.integer(1));
    return TALLY_OK;
}

TALLY_EXPORT int tallyAddProduct(const char* payloadId, const char* installDir, const char* installLanguage,
                                 const char* productCode, const char* version, const char* collectionId,
                                 int64_t tsInstalled, int64_t tsModified) {
    if (!payloadId) return TALLY_E_ARGUMENT;
    mw::tally::ProductFields f;
    f.payloadId = payloadId;
    if (fieldOrNull(installDir)) f.installDir = installDir;
    if (fieldOrNull(installLanguage)) f.installLanguage = installLanguage;
    if (fieldOrNull(productCode)) f.productCode = productCode;
    if (fieldOrNull(version)) f.version = version;
    if (fieldOrNull(collectionId)) {
        f.collectionId = collectionId;
        f.tsInstalled = tsInstalled;
        f.tsModified = tsModified;
    }
    std::string error;
    return mw::tally::addProduct(f, error);
}

TALLY_EXPORT int tallySetValue(const char* payloadId, const char* name, const char* value) {
    if (!payloadId || !name || !value) return TALLY_E_ARGUMENT;
    std::string error;
    return mw::tally::setValue(payloadId, name, value, error);
}

TALLY_EXPORT int tallyRemoveProduct(const char* payloadId) {
    if (!payloadId) return TALLY_E_ARGUMENT;
    std::string error;
    return mw::tally::removeProduct(payloadId, error);
}
