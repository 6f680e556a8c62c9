#include "platform/registry/registry.h"

#include <optional>

#include "platform/machine/machine.h"
#include "platform/registry/connection.h"
#include "platform/text/text.h"

namespace win {

namespace {

using storedb::Session;
using storedb::Statement;
using storedb::Transaction;

constexpr LONG kKeyDeleted = 1018;  // ERROR_KEY_DELETED: the key of an open handle was deleted
constexpr LONG kIoFailed = static_cast<LONG>(storedb::kRegistryIoFailed);
constexpr std::int64_t kLocalMachineId = 1;
constexpr std::int64_t kUsersId = 2;

std::vector<std::wstring> splitPath(std::wstring_view path) {
    std::vector<std::wstring> parts;
    std::wstring part;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

// RegOpenKeyEx and its kin refuse a subkey path that starts at a backslash (ERROR_BAD_PATHNAME).
#define MW_REG_SUBKEY(path) \
    if (!(path).empty() && (path).front() == L'\\') return static_cast<LONG>(err::badPathname);

struct KeyRef {
    std::int64_t id = 0;
    std::wstring name;  // full name, case as stored
};

// Looks up the child `name` (any case) of `parent`. 0 found, 2 missing, 5 denied (when checked).
LONG findChild(Session& s, const KeyRef& parent, std::wstring_view name, bool checkDenied, KeyRef& out) {
    Statement st = s.prepare("SELECT id, name, denied FROM reg_keys WHERE parent = ?1 AND folded = ?2");
    if (!st.ok()) return kIoFailed;
    st.bind(1, parent.id).bind(2, storedb::fold(name));
    int rc = st.step();
    if (rc == SQLITE_DONE) return static_cast<LONG>(err::fileNotFound);
    if (rc != SQLITE_ROW) return kIoFailed;
    if (checkDenied && st.integer(2) != 0) return static_cast<LONG>(err::accessDenied);
    out.id = st.integer(0);
    out.name = parent.name + L"\\" + fromUtf8(st.text(1));
    return 0;
}

// Key ids are never used twice: an open handle names its key by id, and a key made after a deletion
// must not answer to the deleted key's handles. The highest id ever given is kept in meta.
LONG insertChild(Session& s, const KeyRef& parent, std::wstring_view name, KeyRef& out) {
    {
        Statement st = s.prepare(
            "INSERT INTO reg_keys(id, parent, name, folded) VALUES (max("
            " (SELECT coalesce(max(id), 0) FROM reg_keys),"
            " coalesce((SELECT CAST(value AS INTEGER) FROM meta WHERE name = 'last_key_id'), 0)) + 1,"
            " ?1, ?2, ?3) RETURNING id");
        if (!st.ok()) return kIoFailed;
        st.bind(1, parent.id).bind(2, toUtf8(name)).bind(3, storedb::fold(name));
        if (st.step() != SQLITE_ROW) return kIoFailed;
        out.id = st.integer(0);
        if (st.step() != SQLITE_DONE) return kIoFailed;
    }
    Statement mark = s.prepare(
        "INSERT INTO meta(name, value) VALUES ('last_key_id', ?1)"
        " ON CONFLICT(name) DO UPDATE SET value = excluded.value");
    if (!mark.ok()) return kIoFailed;
    mark.bind(1, std::to_string(out.id));
    if (mark.step() != SQLITE_DONE) return kIoFailed;
    out.name = parent.name + L"\\" + std::wstring(name);
    return 0;
}

// Walks `parts` below `from`. With `create`, missing keys are made (the caller holds a transaction).
LONG walk(Session& s, KeyRef from, const std::vector<std::wstring>& parts, bool create, bool checkDenied,
          KeyRef& out, bool* created) {
    if (created) *created = false;
    for (const std::wstring& part : parts) {
        KeyRef next;
        LONG rc = findChild(s, from, part, checkDenied, next);
        if (rc == static_cast<LONG>(err::fileNotFound) && create) {
            rc = insertChild(s, from, part, next);
            if (rc == 0 && created) *created = true;
        } else if (created) {
            *created = false;
        }
        if (rc != 0) return rc;
        from = std::move(next);
    }
    out = std::move(from);
    return 0;
}

// Walks, creating what is missing in one transaction only when something is missing.
LONG walkCreating(Session& s, const KeyRef& from, const std::vector<std::wstring>& parts, bool checkDenied,
                  KeyRef& out, bool* created) {
    LONG rc = walk(s, from, parts, false, checkDenied, out, nullptr);
    if (created) *created = false;
    if (rc != static_cast<LONG>(err::fileNotFound)) return rc;
    Transaction tx(s);
    if (!tx.ok()) return kIoFailed;
    rc = walk(s, from, parts, true, checkDenied, out, created);
    if (rc != 0) return rc;
    return tx.commit() ? 0 : kIoFailed;
}

// The key a root names; the aliases are keys of the two real hives, made again if someone deleted them.
LONG rootKey(Session& s, RegRoot root, KeyRef& out) {
    KeyRef lm{kLocalMachineId, L"HKEY_LOCAL_MACHINE"};
    KeyRef users{kUsersId, L"HKEY_USERS"};
    switch (root) {
        case RegRoot::localMachine:
            out = lm;
            return 0;
        case RegRoot::users:
            out = users;
            return 0;
        case RegRoot::classesRoot:
            return walkCreating(s, lm, {L"SOFTWARE", L"Classes"}, false, out, nullptr);
        case RegRoot::currentConfig:
            return walkCreating(s, lm, {L"SYSTEM", L"CurrentControlSet", L"Hardware Profiles", L"Current"},
                                false, out, nullptr);
        case RegRoot::currentUser:
            return walkCreating(s, users, {Machine::current().profile().userName}, false, out, nullptr);
    }
    return static_cast<LONG>(err::invalidHandle);
}

struct KeyState {
    bool exists = false;
    bool denied = false;  // the key or one above it
};

LONG keyState(Session& s, std::int64_t id, KeyState& state) {
    Statement st = s.prepare(
        "WITH RECURSIVE up(id, parent, denied) AS ("
        "  SELECT id, parent, denied FROM reg_keys WHERE id = ?1"
        "  UNION ALL SELECT k.id, k.parent, k.denied FROM reg_keys k JOIN up ON k.id = up.parent)"
        " SELECT count(*), coalesce(max(denied), 0) FROM up");
    if (!st.ok()) return kIoFailed;
    st.bind(1, id);
    if (st.step() != SQLITE_ROW) return kIoFailed;
    state.exists = st.integer(0) > 0;
    state.denied = st.integer(1) != 0;
    return 0;
}

// For writes through an open handle: 1018 when its key is gone, 5 when it (or a key above) is denied.
LONG writable(Session& s, std::int64_t id) {
    KeyState state;
    LONG rc = keyState(s, id, state);
    if (rc != 0) return rc;
    if (!state.exists) return kKeyDeleted;
    if (state.denied) return static_cast<LONG>(err::accessDenied);
    return 0;
}

LONG missingOrDeleted(Session& s, std::int64_t id) {
    KeyState state;
    LONG rc = keyState(s, id, state);
    if (rc != 0) return rc;
    return state.exists ? static_cast<LONG>(err::fileNotFound) : kKeyDeleted;
}

LONG subtreeDenied(Session& s, std::int64_t id, bool& denied) {
    Statement st = s.prepare(
        "WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM reg_keys k JOIN t ON k.parent = t.id)"
        " SELECT coalesce(max(denied), 0) FROM reg_keys WHERE id IN t");
    if (!st.ok()) return kIoFailed;
    st.bind(1, id);
    if (st.step() != SQLITE_ROW) return kIoFailed;
    denied = st.integer(0) != 0;
    return 0;
}

// Removes the subtree at `id`: its values and those of every key below, and the keys themselves
// (without `id` itself when `keepTop`).
LONG removeSubtree(Session& s, std::int64_t id, bool keepTop) {
    Statement values = s.prepare(
        "DELETE FROM reg_values WHERE key IN (WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL"
        " SELECT k.id FROM reg_keys k JOIN t ON k.parent = t.id) SELECT id FROM t)");
    if (!values.ok()) return kIoFailed;
    values.bind(1, id);
    if (values.step() != SQLITE_DONE) return kIoFailed;
    Statement keys = s.prepare(
        "DELETE FROM reg_keys WHERE id IN (WITH RECURSIVE t(id) AS (SELECT ?1 UNION ALL"
        " SELECT k.id FROM reg_keys k JOIN t ON k.parent = t.id) SELECT id FROM t) AND id <> ?2");
    if (!keys.ok()) return kIoFailed;
    keys.bind(1, id).bind(2, keepTop ? id : std::int64_t{0});
    if (keys.step() != SQLITE_DONE) return kIoFailed;
    return 0;
}

// The key a deletion below an open handle acts on: the handle's key must still exist, the target must
// exist and must not be denied.
LONG deletionTarget(Session& s, const KeyRef& from, const std::vector<std::wstring>& parts, KeyRef& target) {
    KeyState self;
    LONG rc = keyState(s, from.id, self);
    if (rc != 0) return rc;
    if (!self.exists) return kKeyDeleted;
    rc = walk(s, from, parts, false, true, target, nullptr);
    if (rc != 0) return rc;
    return writable(s, target.id);
}

bool isRoot(Session& s, std::int64_t id) {
    Statement st = s.prepare("SELECT parent IS NULL FROM reg_keys WHERE id = ?1");
    st.bind(1, id);
    return st.step() == SQLITE_ROW && st.integer(0) != 0;
}

}  // namespace

struct RegKey::State {
    KeyRef key;
    std::uint64_t generation = 0;
};

bool parseRegRoot(std::wstring_view name, RegRoot& root) {
    static const struct {
        const wchar_t* name;
        RegRoot root;
    } kNames[] = {
        {L"HKLM", RegRoot::localMachine},
        {L"HKEY_LOCAL_MACHINE", RegRoot::localMachine},
        {L"HKCR", RegRoot::classesRoot},
        {L"HKEY_CLASSES_ROOT", RegRoot::classesRoot},
        {L"HKCU", RegRoot::currentUser},
        {L"HKEY_CURRENT_USER", RegRoot::currentUser},
        {L"HKU", RegRoot::users},
        {L"HKUSERS", RegRoot::users},
        {L"HKEY_USERS", RegRoot::users},
        {L"HKCC", RegRoot::currentConfig},
        {L"HKEY_CURRENT_CONFIG", RegRoot::currentConfig},
    };
    for (const auto& n : kNames) {
        if (iequals(name, n.name)) {
            root = n.root;
            return true;
        }
    }
    return false;
}

std::wstring regRootName(RegRoot root) {
    switch (root) {
        case RegRoot::classesRoot:
            return L"HKEY_CLASSES_ROOT";
        case RegRoot::currentUser:
            return L"HKEY_CURRENT_USER";
        case RegRoot::localMachine:
            return L"HKEY_LOCAL_MACHINE";
        case RegRoot::users:
            return L"HKEY_USERS";
        case RegRoot::currentConfig:
            return L"HKEY_CURRENT_CONFIG";
    }
    return L"";
}

RegKey::RegKey() = default;
RegKey::~RegKey() = default;
RegKey::RegKey(RegKey&& other) noexcept = default;
RegKey& RegKey::operator=(RegKey&& other) noexcept = default;

bool RegKey::isOpen() const {
    return state_ != nullptr;
}
void RegKey::close() {
    state_.reset();
}
std::wstring RegKey::name() const {
    return state_ ? state_->key.name : std::wstring();
}

// Every call checks these: the store is usable and the handle belongs to the current machine.
#define MW_REG_SESSION(s) \
    Session s;            \
    if (s.status()) return static_cast<LONG>(s.status());
#define MW_REG_HANDLE(s, st) \
    if (!(st) || (st)->generation != s.generation()) return static_cast<LONG>(err::invalidHandle);

LONG RegKey::open(RegRoot root, std::wstring_view subKey) {
    close();
    MW_REG_SUBKEY(subKey)
    MW_REG_SESSION(s)
    KeyRef base;
    LONG rc = rootKey(s, root, base);
    if (rc != 0) return rc;
    KeyRef out;
    rc = walk(s, base, splitPath(subKey), false, true, out, nullptr);
    if (rc != 0) return rc;
    state_ = std::make_unique<State>(State{std::move(out), s.generation()});
    return 0;
}

LONG RegKey::open(const RegKey& parent, std::wstring_view subKey) {
    MW_REG_SUBKEY(subKey)
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, parent.state_)
    KeyState ps;
    LONG rc = keyState(s, parent.state_->key.id, ps);
    if (rc != 0) return rc;
    if (!ps.exists) return kKeyDeleted;
    KeyRef out;
    rc = walk(s, parent.state_->key, splitPath(subKey), false, true, out, nullptr);
    if (rc != 0) return rc;
    auto next = std::make_unique<State>(State{std::move(out), s.generation()});
    state_ = std::move(next);  // after the parent was read: `parent` may be *this
    return 0;
}

LONG RegKey::create(RegRoot root, std::wstring_view subKey, bool* created) {
    close();
    if (created) *created = false;
    MW_REG_SUBKEY(subKey)
    MW_REG_SESSION(s)
    KeyRef base;
    LONG rc = rootKey(s, root, base);
    if (rc != 0) return rc;
    KeyRef out;
    rc = walkCreating(s, base, splitPath(subKey), true, out, created);
    if (rc != 0) return rc;
    state_ = std::make_unique<State>(State{std::move(out), s.generation()});
    return 0;
}

LONG RegKey::create(const RegKey& parent, std::wstring_view subKey, bool* created) {
    if (created) *created = false;
    MW_REG_SUBKEY(subKey)
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, parent.state_)
    std::vector<std::wstring> parts = splitPath(subKey);
    KeyRef base = parent.state_->key;
    // Creating below a key that was denied after it was opened is refused as well.
    LONG rc = parts.empty() ? 0 : writable(s, base.id);
    if (rc == 0 && parts.empty()) {
        KeyState ps;
        rc = keyState(s, base.id, ps);
        if (rc == 0 && !ps.exists) rc = kKeyDeleted;
    }
    if (rc != 0) return rc;
    KeyRef out;
    rc = walkCreating(s, base, parts, true, out, created);
    if (rc != 0) return rc;
    state_ = std::make_unique<State>(State{std::move(out), s.generation()});
    return 0;
}

LONG RegKey::setValue(std::wstring_view valueName, DWORD type, std::span<const std::uint8_t> data) {
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, state_)
    Transaction tx(s);
    if (!tx.ok()) return kIoFailed;
    LONG rc = writable(s, state_->key.id);
    if (rc != 0) return rc;
    // An existing value keeps the case of its name, as on Windows.
    Statement st = s.prepare(
        "INSERT INTO reg_values(key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5)"
        " ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
    if (!st.ok()) return kIoFailed;
    st.bind(1, state_->key.id).bind(2, toUtf8(valueName)).bind(3, storedb::fold(valueName));
    st.bind(4, static_cast<std::int64_t>(type)).bindBlob(5, data);
    if (st.step() != SQLITE_DONE) return kIoFailed;
    return tx.commit() ? 0 : kIoFailed;
}

LONG RegKey::queryValue(std::wstring_view valueName, DWORD& type, std::vector<std::uint8_t>& data) const {
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, state_) {
        Statement st = s.prepare("SELECT type, data FROM reg_values WHERE key = ?1 AND folded = ?2");
        if (!st.ok()) return kIoFailed;
        st.bind(1, state_->key.id).bind(2, storedb::fold(valueName));
        int rc = st.step();
        if (rc == SQLITE_ROW) {
            type = static_cast<DWORD>(st.integer(0));
            data = st.blob(1);
            return 0;
        }
        if (rc != SQLITE_DONE) return kIoFailed;
    }
    return missingOrDeleted(s, state_->key.id);
}

LONG RegKey::deleteValue(std::wstring_view valueName) {
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, state_)
    Transaction tx(s);
    if (!tx.ok()) return kIoFailed;
    LONG rc = writable(s, state_->key.id);
    if (rc != 0) return rc;
    {
        Statement st = s.prepare("DELETE FROM reg_values WHERE key = ?1 AND folded = ?2 RETURNING 1");
        if (!st.ok()) return kIoFailed;
        st.bind(1, state_->key.id).bind(2, storedb::fold(valueName));
        int step = st.step();
        if (step == SQLITE_DONE) return static_cast<LONG>(err::fileNotFound);
        if (step != SQLITE_ROW || st.step() != SQLITE_DONE) return kIoFailed;
    }
    return tx.commit() ? 0 : kIoFailed;
}

LONG RegKey::deleteKey(std::wstring_view subKey) {
    MW_REG_SUBKEY(subKey)
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, state_)
    Transaction tx(s);
    if (!tx.ok()) return kIoFailed;
    KeyRef target;
    LONG rc = deletionTarget(s, state_->key, splitPath(subKey), target);
    if (rc != 0) return rc;
    if (isRoot(s, target.id)) return static_cast<LONG>(err::accessDenied);
    {
        Statement st = s.prepare("SELECT 1 FROM reg_keys WHERE parent = ?1 LIMIT 1");
        if (!st.ok()) return kIoFailed;
        st.bind(1, target.id);
        int step = st.step();
        if (step == SQLITE_ROW) return static_cast<LONG>(err::accessDenied);
        if (step != SQLITE_DONE) return kIoFailed;
    }
    rc = removeSubtree(s, target.id, false);
    if (rc != 0) return rc;
    return tx.commit() ? 0 : kIoFailed;
}

LONG RegKey::deleteTree(std::wstring_view subKey) {
    MW_REG_SUBKEY(subKey)
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, state_)
    Transaction tx(s);
    if (!tx.ok()) return kIoFailed;
    const std::vector<std::wstring> parts = splitPath(subKey);
    KeyRef target;
    LONG rc = deletionTarget(s, state_->key, parts, target);
    if (rc != 0) return rc;
    // One denied key anywhere below refuses the whole deletion; nothing is half removed.
    bool denied = false;
    rc = subtreeDenied(s, target.id, denied);
    if (rc != 0) return rc;
    if (denied) return static_cast<LONG>(err::accessDenied);
    // Without a subkey the key itself stays (RegDeleteTreeW with no subkey empties the key).
    rc = removeSubtree(s, target.id, parts.empty());
    if (rc != 0) return rc;
    return tx.commit() ? 0 : kIoFailed;
}

LONG RegKey::enumKey(DWORD index, std::wstring& name) const {
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, state_) {
        Statement st =
            s.prepare("SELECT name FROM reg_keys WHERE parent = ?1 ORDER BY folded LIMIT 1 OFFSET ?2");
        if (!st.ok()) return kIoFailed;
        st.bind(1, state_->key.id).bind(2, static_cast<std::int64_t>(index));
        int rc = st.step();
        if (rc == SQLITE_ROW) {
            name = fromUtf8(st.text(0));
            return 0;
        }
        if (rc != SQLITE_DONE) return kIoFailed;
    }
    LONG rc = missingOrDeleted(s, state_->key.id);
    return rc == static_cast<LONG>(err::fileNotFound) ? static_cast<LONG>(err::noMoreItems) : rc;
}

LONG RegKey::enumValue(DWORD index, std::wstring& name, DWORD& type, std::vector<std::uint8_t>& data) const {
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, state_) {
        Statement st = s.prepare(
            "SELECT name, type, data FROM reg_values WHERE key = ?1 ORDER BY folded LIMIT 1 OFFSET ?2");
        if (!st.ok()) return kIoFailed;
        st.bind(1, state_->key.id).bind(2, static_cast<std::int64_t>(index));
        int rc = st.step();
        if (rc == SQLITE_ROW) {
            name = fromUtf8(st.text(0));
            type = static_cast<DWORD>(st.integer(1));
            data = st.blob(2);
            return 0;
        }
        if (rc != SQLITE_DONE) return kIoFailed;
    }
    LONG rc = missingOrDeleted(s, state_->key.id);
    return rc == static_cast<LONG>(err::fileNotFound) ? static_cast<LONG>(err::noMoreItems) : rc;
}

LONG RegKey::queryInfo(DWORD& subKeys, DWORD& values) const {
    MW_REG_SESSION(s)
    MW_REG_HANDLE(s, state_)
    Statement st = s.prepare(
        "SELECT (SELECT count(*) FROM reg_keys WHERE parent = ?1), (SELECT count(*) FROM reg_values WHERE "
        "key = ?1),"
        " (SELECT count(*) FROM reg_keys WHERE id = ?1)");
    if (!st.ok()) return kIoFailed;
    st.bind(1, state_->key.id);
    if (st.step() != SQLITE_ROW) return kIoFailed;
    if (st.integer(2) == 0) return kKeyDeleted;
    subKeys = static_cast<DWORD>(st.integer(0));
    values = static_cast<DWORD>(st.integer(1));
    return 0;
}

#undef MW_REG_SESSION
#undef MW_REG_HANDLE

LONG RegKey::setString(std::wstring_view valueName, std::wstring_view text, DWORD type) {
    return setValue(valueName, type, regStringData(text));
}

LONG RegKey::setDword(std::wstring_view valueName, DWORD value) {
    std::uint8_t bytes[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                             static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
    return setValue(valueName, regtype::dword, bytes);
}

LONG RegKey::queryString(std::wstring_view valueName, std::wstring& text) const {
    DWORD type = 0;
    std::vector<std::uint8_t> data;
    LONG rc = queryValue(valueName, type, data);
    if (rc != 0) return rc;
    if (type != regtype::sz && type != regtype::expandSz) return static_cast<LONG>(err::invalidData);
    text = regDataString(data);
    return 0;
}

LONG RegKey::queryDword(std::wstring_view valueName, DWORD& value) const {
    DWORD type = 0;
    std::vector<std::uint8_t> data;
    LONG rc = queryValue(valueName, type, data);
    if (rc != 0) return rc;
    if (type != regtype::dword || data.size() != 4) return static_cast<LONG>(err::invalidData);
    value = static_cast<DWORD>(data[0]) | static_cast<DWORD>(data[1]) << 8 |
            static_cast<DWORD>(data[2]) << 16 | static_cast<DWORD>(data[3]) << 24;
    return 0;
}

LONG setRegKeyDenied(RegRoot root, std::wstring_view subKey, bool denied) {
    Session s;
    if (s.status()) return static_cast<LONG>(s.status());
    KeyRef base;
    LONG rc = rootKey(s, root, base);
    if (rc != 0) return rc;
    Transaction tx(s);
    if (!tx.ok()) return kIoFailed;
    KeyRef key;
    rc = walk(s, base, splitPath(subKey), false, false, key, nullptr);
    if (rc != 0) return rc;
    {
        Statement st = s.prepare("UPDATE reg_keys SET denied = ?2 WHERE id = ?1");
        if (!st.ok()) return kIoFailed;
        st.bind(1, key.id).bind(2, std::int64_t{denied ? 1 : 0});
        if (st.step() != SQLITE_DONE) return kIoFailed;
    }
    return tx.commit() ? 0 : kIoFailed;
}

std::vector<std::uint8_t> regStringData(std::wstring_view text) {
    std::string bytes = toUtf16le(text);
    std::vector<std::uint8_t> out(bytes.begin(), bytes.end());
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::vector<std::uint8_t> regMultiStringData(const std::vector<std::wstring>& items) {
    std::vector<std::uint8_t> out;
    for (const std::wstring& item : items) {
        std::vector<std::uint8_t> one = regStringData(item);
        out.insert(out.end(), one.begin(), one.end());
    }
    out.push_back(0);
    out.push_back(0);
    return out;
}

std::wstring regDataString(std::span<const std::uint8_t> data) {
    std::size_t end = 0;
    while (end + 1 < data.size() && (data[end] != 0 || data[end + 1] != 0)) end += 2;
    return fromUtf16le(std::string_view(reinterpret_cast<const char*>(data.data()), end));
}

std::vector<std::wstring> regDataMultiString(std::span<const std::uint8_t> data) {
    std::vector<std::wstring> items;
    std::size_t pos = 0;
    while (pos + 1 < data.size()) {
        std::size_t end = pos;
        while (end + 1 < data.size() && (data[end] != 0 || data[end + 1] != 0)) end += 2;
        if (end == pos) break;  // the empty string that ends the list
        items.push_back(
            fromUtf16le(std::string_view(reinterpret_cast<const char*>(data.data() + pos), end - pos)));
        pos = end + 2;
    }
    return items;
}

}  // namespace win
