#include "platform/services/services.h"

#include <signal.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/machine/machine.h"
#include "tests/support/testmachine.h"

namespace {

using testing_support::TestMachine;
using win::Service;
using win::ServiceManager;
using win::ServiceRecord;
using win::ServiceStatus;
namespace svcstate = win::svcstate;
namespace svccontrol = win::svccontrol;

ServiceRecord record(const wchar_t* name, win::DWORD state, win::ServiceBehaviour behaviour = {}) {
    ServiceRecord r;
    r.name = name;
    r.displayName = std::wstring(name) + L" service";
    r.state = state;
    r.behaviour = behaviour;
    return r;
}

struct Opened {
    ServiceManager manager;
    Service service;
};

void openService(Opened& o, const wchar_t* name) {
    ASSERT_TRUE(o.manager.open());
    ASSERT_TRUE(o.service.open(o.manager, name)) << win::lastError();
}

TEST(Services, UnknownServicesAnswer1060) {
    TestMachine machine;
    ServiceManager manager;
    ASSERT_TRUE(manager.open());
    Service service;
    EXPECT_FALSE(service.open(manager, L"NoSuchService"));
    EXPECT_EQ(win::lastError(), 1060u);
    ServiceRecord r;
    EXPECT_FALSE(win::getService(L"NoSuchService", r));
    EXPECT_EQ(win::lastError(), 1060u);
    EXPECT_FALSE(win::setService(record(L"NoSuchService", svcstate::running)));
    EXPECT_EQ(win::lastError(), 1060u);
}

TEST(Services, NamesAreCaseInsensitive) {
    TestMachine machine;
    ASSERT_TRUE(win::addService(record(L"OrvexUpdate", svcstate::running)));
    Opened o;
    openService(o, L"ORVEXupdate");
    ServiceRecord r;
    ASSERT_TRUE(win::getService(L"orvexupdate", r));
    EXPECT_EQ(r.name, L"OrvexUpdate");
    ASSERT_TRUE(win::addService(record(L"orvexUPDATE", svcstate::stopped)));  // replaces
    EXPECT_EQ(win::listServices().size(), 1u);
}

// The service's process ends when the service comes to a stop, also on a store made before services
// had a process.
TEST(Services, AStoppedServiceEndsItsProcess) {
    TestMachine machine;
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((machine.root() / "store.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "ALTER TABLE services DROP COLUMN process_id", nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    std::string error;
    ASSERT_TRUE(win::Machine::select(machine.root(), error)) << error;

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::pause();
        ::_exit(0);
    }
    // A failed assertion must not leave the child holding the test's output open.
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (pid > 0 && ::waitpid(pid, nullptr, WNOHANG) == 0) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, nullptr, 0);
            }
        }
    } reaper{child};
    ServiceRecord r = record(L"OrvexSync", svcstate::running, {.stopPendingPolls = 1});
    r.processId = static_cast<win::DWORD>(child);
    ASSERT_TRUE(win::addService(r)) << win::lastError();
    Opened o;
    openService(o, L"OrvexSync");
    EXPECT_EQ(o.service.processId(), static_cast<win::DWORD>(child));
    ServiceStatus status;
    ASSERT_TRUE(o.service.control(svccontrol::stop, status));
    EXPECT_EQ(::kill(child, 0), 0);  // still stopping: its process runs
    ASSERT_TRUE(o.service.queryStatus(status));
    ASSERT_TRUE(o.service.queryStatus(status));
    EXPECT_EQ(status.currentState, svcstate::stopped);
    EXPECT_EQ(o.service.processId(), 0u);
    int exit = 0;
    ASSERT_EQ(::waitpid(child, &exit, 0), child);
    reaper.pid = 0;
    EXPECT_TRUE(WIFSIGNALED(exit));
}

TEST(Services, StopAndStartWithoutDelay) {
    TestMachine machine;
    ASSERT_TRUE(win::addService(record(L"Spool", svcstate::running)));
    Opened o;
    openService(o, L"Spool");
    ServiceStatus status;
    ASSERT_TRUE(o.service.control(svccontrol::interrogate, status));
    EXPECT_EQ(status.currentState, svcstate::running);
    EXPECT_FALSE(o.service.start({}));
    EXPECT_EQ(win::lastError(), 1056u);

    ASSERT_TRUE(o.service.control(svccontrol::stop, status));
    EXPECT_EQ(status.currentState, svcstate::stopped);
    EXPECT_FALSE(o.service.control(svccontrol::stop, status));
    EXPECT_EQ(win::lastError(), 1062u);
    // Interrogating a stopped service fails as not active but still reports the state.
    EXPECT_FALSE(o.service.control(svccontrol::interrogate, status));
    EXPECT_EQ(win::lastError(), 1062u);
    EXPECT_EQ(status.currentState, svcstate::stopped);

    ASSERT_TRUE(o.service.start({L"-fast", L"", L"two words"}));
    ASSERT_TRUE(o.service.queryStatus(status));
    EXPECT_EQ(status.currentState, svcstate::running);
    EXPECT_EQ(o.service.lastStartArguments(), (std::vector<std::wstring>{L"-fast", L"", L"two words"}));
}

TEST(Services, PendingStatesLastTheirPolls) {
    TestMachine machine;
    win::ServiceBehaviour slow;
    slow.stopPendingPolls = 2;
    slow.startPendingPolls = 1;
    ASSERT_TRUE(win::addService(record(L"Slow", svcstate::running, slow)));
    Opened o;
    openService(o, L"Slow");
    ServiceStatus status;
    ASSERT_TRUE(o.service.control(svccontrol::stop, status));
    EXPECT_EQ(status.currentState, svcstate::stopPending);
    // A pending service cannot answer an interrogation; each look counts as one poll.
    EXPECT_FALSE(o.service.control(svccontrol::interrogate, status));
    EXPECT_EQ(win::lastError(), 1061u);
    EXPECT_EQ(status.currentState, svcstate::stopPending);
    ASSERT_TRUE(o.service.queryStatus(status));
    EXPECT_EQ(status.currentState, svcstate::stopPending);
    EXPECT_FALSE(o.service.start({}));  // still on its way down
    ASSERT_TRUE(o.service.queryStatus(status));
    EXPECT_EQ(status.currentState, svcstate::stopped);

    ASSERT_TRUE(o.service.start({}));
    ASSERT_TRUE(o.service.queryStatus(status));
    EXPECT_EQ(status.currentState, svcstate::startPending);
    ASSERT_TRUE(o.service.queryStatus(status));
    EXPECT_EQ(status.currentState, svcstate::running);

    // The state lives in the store: another handle sees it.
    Opened other;
    openService(other, L"slow");
    ASSERT_TRUE(other.service.control(svccontrol::interrogate, status));
    EXPECT_EQ(status.currentState, svcstate::running);
}

TEST(Services, RefusedStopAndFailedStart) {
    TestMachine machine;
    win::ServiceBehaviour stubborn;
    stubborn.refusesStop = true;
    ASSERT_TRUE(win::addService(record(L"Stubborn", svcstate::running, stubborn)));
    win::ServiceBehaviour broken;
    broken.startError = 1058;
    ASSERT_TRUE(win::addService(record(L"Broken", svcstate::stopped, broken)));

    Opened s;
    openService(s, L"Stubborn");
    ServiceStatus status;
    EXPECT_FALSE(s.service.control(svccontrol::stop, status));
    EXPECT_EQ(win::lastError(), 1061u);
    EXPECT_EQ(status.currentState, svcstate::running);

    Opened b;
    openService(b, L"Broken");
    EXPECT_FALSE(b.service.start({L"x"}));
    EXPECT_EQ(win::lastError(), 1058u);
    ASSERT_TRUE(b.service.queryStatus(status));
    EXPECT_EQ(status.currentState, svcstate::stopped);
    EXPECT_EQ(status.win32ExitCode, 1058u);
}

TEST(Services, AnUnusableStoreRefusesTheManager) {
    TestMachine machine;
    testing_support::writeHostFile(machine.root() / "store.db", "not a database at all");
    ServiceManager manager;
    EXPECT_FALSE(manager.open());
    EXPECT_EQ(win::lastError(), 5u);
    EXPECT_FALSE(win::addService(record(L"X", svcstate::running)));
    EXPECT_TRUE(win::listServices().empty());
}

}  // namespace
