// The database behind the installed-product library: one SQLite file in the machine's shared
// application-data folder, shared by every process that opens it (WAL, busy timeout).
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace mw::tally {

// C:\ProgramData\Orvex\Tally\tally.db on this machine (from the shared application-data folder).
std::wstring databaseWindowsPath();

// How long a call waits for another process's lock before it gives up (ms). ORVEX_TALLY_BUSY_MS
// overrides it, so tests of a locked database need not wait long.
int busyTimeoutMs();

// An open connection. Reading never creates the file; writing creates it and its schema.
class Database {
  public:
    Database() = default;
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // TALLY_OK or TALLY_E_DATABASE; `error` says why.
    int openForReading(std::string& error);
    int openForWriting(std::string& error);
    sqlite3* handle() const { return db_; }
    void close();

  private:
    int open(bool write, std::string& error);
    sqlite3* db_ = nullptr;
};

struct Product {
    std::string payloadId;
    std::string version;
    std::vector<std::pair<std::string, std::string>> properties;  // name, value (category 5)
    std::string collectionId;
    std::int64_t tsInstalled = 0;
    std::int64_t tsModified = 0;
};

// Registration. Each returns a TALLY_* code and, on failure, a message in `error`.
struct ProductFields {
    std::string payloadId;
    std::optional<std::string> installDir;
    std::optional<std::string> installLanguage;
    std::optional<std::string> productCode;
    std::optional<std::string> version;
    std::optional<std::string> collectionId;
    std::optional<std::int64_t> tsInstalled;
    std::optional<std::int64_t> tsModified;
};
int addProduct(const ProductFields& fields, std::string& error);
// "version", "collection", "tsInstalled" and "tsModified" set those fields; any other name sets the
// property of that name.
int setValue(const std::string& payloadId, const std::string& name, const std::string& value,
             std::string& error);
int removeProduct(const std::string& payloadId, std::string& error);
int listProducts(std::vector<Product>& out, std::string& error);

}  // namespace mw::tally
