#include "platform/services/services.h"

#include "platform/process/process.h"
#include "platform/registry/connection.h"
#include "platform/text/text.h"

namespace win {

namespace {

using storedb::Session;
using storedb::Statement;
using storedb::Transaction;

// A store that cannot be used fails the call with its reason as the last error.
bool unusable(const Session& s) {
    if (s.status() == 0) return false;
    setLastError(s.status());
    return true;
}

// Arguments as length-prefixed UTF-8, so that empty arguments survive.
std::vector<std::uint8_t> packArguments(const std::vector<std::wstring>& arguments) {
    std::vector<std::uint8_t> out;
    for (const std::wstring& argument : arguments) {
        std::string utf8 = toUtf8(argument);
        auto n = static_cast<std::uint32_t>(utf8.size());
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
        out.insert(out.end(), utf8.begin(), utf8.end());
    }
    return out;
}

std::vector<std::wstring> unpackArguments(const std::vector<std::uint8_t>& data) {
    std::vector<std::wstring> out;
    std::size_t pos = 0;
    while (pos + 4 <= data.size()) {
        std::uint32_t n = 0;
        for (int i = 0; i < 4; ++i) n |= static_cast<std::uint32_t>(data[pos + i]) << (8 * i);
        pos += 4;
        if (n > data.size() - pos) break;
        out.push_back(fromUtf8(std::string_view(reinterpret_cast<const char*>(data.data() + pos), n)));
        pos += n;
    }
    return out;
}

struct Row {
    ServiceRecord record;
    int pollsLeft = 0;
    DWORD exitCode = 0;
    DWORD endedProcess = 0;  // the process of a service that came to a stop in this call
};

constexpr const char* kSelect =
    "SELECT name, display, state, refuses_stop, stop_pending_polls, start_pending_polls, start_error,"
    " polls_left, exit_code, last_arguments, process_id FROM services WHERE folded = ?1";
constexpr const char* kSelectAll =
    "SELECT name, display, state, refuses_stop, stop_pending_polls, start_pending_polls, start_error,"
    " polls_left, exit_code, last_arguments, process_id FROM services ORDER BY folded";

Row readRow(const Statement& st) {
    Row row;
    row.record.name = fromUtf8(st.text(0));
    row.record.displayName = fromUtf8(st.text(1));
    row.record.state = static_cast<DWORD>(st.integer(2));
    row.record.behaviour.refusesStop = st.integer(3) != 0;
    row.record.behaviour.stopPendingPolls = static_cast<int>(st.integer(4));
    row.record.behaviour.startPendingPolls = static_cast<int>(st.integer(5));
    row.record.behaviour.startError = static_cast<DWORD>(st.integer(6));
    row.pollsLeft = static_cast<int>(st.integer(7));
    row.exitCode = static_cast<DWORD>(st.integer(8));
    row.record.lastArguments = unpackArguments(st.blob(9));
    row.record.processId = static_cast<DWORD>(st.integer(10));
    return row;
}

// 0 found, 1060 unknown, another error when the store fails.
DWORD load(Session& s, std::wstring_view name, Row& row) {
    Statement st = s.prepare(kSelect);
    if (!st.ok()) return storedb::kRegistryIoFailed;
    st.bind(1, storedb::fold(name));
    int rc = st.step();
    if (rc == SQLITE_ROW) {
        row = readRow(st);
        return 0;
    }
    return rc == SQLITE_DONE ? err::serviceDoesNotExist : storedb::kRegistryIoFailed;
}

bool save(Session& s, const Row& row) {
    Statement st = s.prepare(
        "INSERT OR REPLACE INTO services(folded, name, display, state, refuses_stop, stop_pending_polls,"
        " start_pending_polls, start_error, polls_left, exit_code, last_arguments, process_id)"
        " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    if (!st.ok()) return false;
    const ServiceRecord& r = row.record;
    st.bind(1, storedb::fold(r.name)).bind(2, toUtf8(r.name)).bind(3, toUtf8(r.displayName));
    st.bind(4, static_cast<std::int64_t>(r.state)).bind(5, std::int64_t{r.behaviour.refusesStop ? 1 : 0});
    st.bind(6, std::int64_t{r.behaviour.stopPendingPolls})
        .bind(7, std::int64_t{r.behaviour.startPendingPolls});
    st.bind(8, static_cast<std::int64_t>(r.behaviour.startError)).bind(9, std::int64_t{row.pollsLeft});
    st.bind(10, static_cast<std::int64_t>(row.exitCode)).bindBlob(11, packArguments(r.lastArguments));
    st.bind(12, static_cast<std::int64_t>(r.processId));
    return st.step() == SQLITE_DONE;
}

void fillStatus(const Row& row, ServiceStatus& status) {
    status = {};
    status.currentState = row.record.state;
    status.win32ExitCode = row.exitCode;
    if (row.record.state == svcstate::startPending || row.record.state == svcstate::stopPending) {
        status.checkPoint = static_cast<DWORD>(row.pollsLeft);
        status.waitHint = 1000;
    }
}

// A service put into a pending state by hand waits as long as its behaviour says.
int pendingPolls(const ServiceRecord& record) {
    if (record.state == svcstate::startPending) return record.behaviour.startPendingPolls;
    if (record.state == svcstate::stopPending) return record.behaviour.stopPendingPolls;
    return 0;
}

// One look at a service: a pending state counts down and then settles.
void poll(Row& row) {
    DWORD& state = row.record.state;
    if (state != svcstate::startPending && state != svcstate::stopPending) return;
    if (row.pollsLeft > 0) {
        --row.pollsLeft;
        return;
    }
    state = state == svcstate::startPending ? svcstate::running : svcstate::stopped;
}

// Runs `change` on the named service inside one transaction and stores the result. The change
// returns the Win32 error of the call (0 success); the row is saved either way.
template <typename Change>
bool update(std::wstring_view name, Change change) {
    Session s;
    if (unusable(s)) return false;
    Transaction tx(s);
    if (!tx.ok()) {
        setLastError(storedb::kRegistryIoFailed);
        return false;
    }
    Row row;
    DWORD rc = load(s, name, row);
    if (rc != 0) {
        setLastError(rc);
        return false;
    }
    DWORD result = change(row);
    // A service that has stopped has no process any more.
    if (row.record.state == svcstate::stopped && row.record.processId != 0) {
        row.endedProcess = row.record.processId;
        row.record.processId = 0;
    }
    if (!save(s, row) || !tx.commit()) {
        setLastError(storedb::kRegistryIoFailed);
        return false;
    }
    if (row.endedProcess != 0) terminateProcess(row.endedProcess);
    setLastError(result);
    return result == 0;
}

}  // namespace

ServiceManager::ServiceManager() = default;
ServiceManager::~ServiceManager() = default;

bool ServiceManager::open() {
    Session s;
    open_ = s.status() == 0;
    // An unusable store reads as a manager this user may not open.
    setLastError(open_ ? 0 : err::accessDenied);
    return open_;
}

bool ServiceManager::isOpen() const {
    return open_;
}
void ServiceManager::close() {
    open_ = false;
}

Service::Service() = default;
Service::~Service() = default;

bool Service::open(const ServiceManager& manager, std::wstring_view name) {
    close();
    if (!manager.isOpen()) {
        setLastError(err::invalidHandle);
        return false;
    }
    Session s;
    if (unusable(s)) return false;
    Row row;
    DWORD rc = load(s, name, row);
    if (rc != 0) {
        setLastError(rc);
        return false;
    }
    name_ = row.record.name;
    open_ = true;
    setLastError(0);
    return true;
}

bool Service::isOpen() const {
    return open_;
}

void Service::close() {
    open_ = false;
    name_.clear();
}

bool Service::queryStatus(ServiceStatus& status) {
    if (!open_) {
        setLastError(err::invalidHandle);
        return false;
    }
    return update(name_, [&](Row& row) -> DWORD {
        poll(row);
        fillStatus(row, status);
        return 0;
    });
}

bool Service::control(DWORD control, ServiceStatus& status) {
    if (!open_) {
        setLastError(err::invalidHandle);
        return false;
    }
    if (control != svccontrol::stop && control != svccontrol::interrogate) {
        setLastError(err::invalidParameter);
        return false;
    }
    return update(name_, [&](Row& row) -> DWORD {
        DWORD result = 0;
        if (control == svccontrol::interrogate) {
            // Interrogating is a look at the service: pending states advance. A pending service cannot
            // answer, a stopped one is not active; both still report their status.
            poll(row);
            DWORD state = row.record.state;
            if (state == svcstate::stopped)
                result = err::serviceNotActive;
            else if (state != svcstate::running)
                result = err::serviceCannotAcceptCtrl;
        } else {
            DWORD state = row.record.state;
            if (state == svcstate::stopped) {
                result = err::serviceNotActive;
            } else if (state != svcstate::running || row.record.behaviour.refusesStop) {
                result = err::serviceCannotAcceptCtrl;
            } else if (row.record.behaviour.stopPendingPolls > 0) {
                row.record.state = svcstate::stopPending;
                row.pollsLeft = row.record.behaviour.stopPendingPolls;
            } else {
                row.record.state = svcstate::stopped;
            }
        }
        fillStatus(row, status);
        return result;
    });
}

bool Service::start(const std::vector<std::wstring>& arguments) {
    if (!open_) {
        setLastError(err::invalidHandle);
        return false;
    }
    return update(name_, [&](Row& row) -> DWORD {
        if (row.record.state != svcstate::stopped) return err::serviceAlreadyRunning;
        row.record.lastArguments = arguments;
        if (row.record.behaviour.startError != 0) {
            row.exitCode = row.record.behaviour.startError;
            return row.record.behaviour.startError;
        }
        row.exitCode = 0;
        if (row.record.behaviour.startPendingPolls > 0) {
            row.record.state = svcstate::startPending;
            row.pollsLeft = row.record.behaviour.startPendingPolls;
        } else {
            row.record.state = svcstate::running;
        }
        return 0;
    });
}

DWORD Service::processId() {
    ServiceRecord record;
    if (!open_ || !getService(name_, record)) return 0;
    setLastError(0);
    return record.state == svcstate::stopped ? 0 : record.processId;
}

std::vector<std::wstring> Service::lastStartArguments() {
    ServiceRecord record;
    if (!open_ || !getService(name_, record)) return {};
    return record.lastArguments;
}

bool addService(const ServiceRecord& record) {
    if (record.name.empty()) {
        setLastError(err::invalidName);
        return false;
    }
    Session s;
    if (unusable(s)) return false;
    Transaction tx(s);
    Row row;
    row.record = record;
    row.pollsLeft = pendingPolls(record);
    if (!tx.ok() || !save(s, row) || !tx.commit()) {
        setLastError(storedb::kRegistryIoFailed);
        return false;
    }
    setLastError(0);
    return true;
}

bool getService(std::wstring_view name, ServiceRecord& record) {
    Session s;
    if (unusable(s)) return false;
    Row row;
    DWORD rc = load(s, name, row);
    setLastError(rc);
    if (rc != 0) return false;
    record = std::move(row.record);
    return true;
}

bool setService(const ServiceRecord& record) {
    // The stored name keeps its case.
    return update(record.name, [&](Row& row) -> DWORD {
        std::wstring name = row.record.name;
        row.record = record;
        row.record.name = name;
        row.pollsLeft = pendingPolls(record);
        return 0;
    });
}

std::vector<ServiceRecord> listServices() {
    std::vector<ServiceRecord> out;
    Session s;
    if (unusable(s)) return out;
    Statement st = s.prepare(kSelectAll);
    if (!st.ok()) {
        setLastError(storedb::kRegistryIoFailed);
        return out;
    }
    while (st.step() == SQLITE_ROW) out.push_back(readRow(st).record);
    setLastError(0);
    return out;
}

}  // namespace win
