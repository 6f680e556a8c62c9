// The process's connection to the current machine's store, shared by the registry and the service table.
// One connection per process, guarded by one mutex, reopened when the current machine changes.
#pragma once
#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win.h"

namespace win::storedb {

constexpr DWORD kRegistryCorrupt = 1015;   // ERROR_REGISTRY_CORRUPT: the store cannot be used
constexpr DWORD kRegistryIoFailed = 1016;  // ERROR_REGISTRY_IO_FAILED: a read or write failed

// A prepared statement from the connection's cache; reset and unbound when it goes.
class Statement {
  public:
    explicit Statement(sqlite3_stmt* stmt) : stmt_(stmt) {}
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool ok() const { return stmt_ != nullptr; }

    Statement& bind(int index, std::int64_t value);
    Statement& bind(int index, std::string_view text);
    Statement& bindBlob(int index, std::span<const std::uint8_t> data);
    Statement& bindNull(int index);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    std::int64_t integer(int column) const;
    std::string text(int column) const;
    std::vector<std::uint8_t> blob(int column) const;
    bool isNull(int column) const;

  private:
    sqlite3_stmt* stmt_;
};

// Holds the store's mutex for its lifetime. status() is 0 when the store is usable, else the Win32 error
// every call should report (5 when the machine cannot be opened, 1015 when its store cannot).
class Session {
  public:
    Session();
    ~Session() = default;
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    DWORD status() const { return status_; }
    const std::string& message() const;  // why the store is unusable
    // Machine generation the connection belongs to; handles opened under another one are stale.
    std::uint64_t generation() const;
    // `sql` must be a string literal: statements are cached by its address.
    Statement prepare(const char* sql);
    // Runs a statement without results; false on failure.
    bool exec(const char* sql);

  private:
    std::unique_lock<std::recursive_mutex> lock_;
    DWORD status_ = 0;
};

// BEGIN IMMEDIATE ... COMMIT: writers take the write lock up front so that two processes never
// deadlock upgrading a read lock. Rolls back unless committed.
class Transaction {
  public:
    explicit Transaction(Session& session);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    bool ok() const { return begun_; }
    bool commit();

  private:
    Session& session_;
    bool begun_ = false;
    bool done_ = false;
};

// Folded form of a key, value or service name for case-insensitive lookup, as UTF-8.
std::string fold(std::wstring_view name);

}  // namespace win::storedb
