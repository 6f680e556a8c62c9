// Stopping and starting the manifest's services on the machine's service table.
#include <gtest/gtest.h>

#include "mendwell/engine/services.h"
#include "platform/services/services.h"
#include "tests/records/records_fixture.h"

namespace {

using records_test::RecordsTest;

class Services : public RecordsTest {
  protected:
    Services() {
        mw::stoppedServices().clear();
        mw::setServiceStopWait({1, 200});
    }
    ~Services() override {
        mw::stoppedServices().clear();
        mw::setServiceStopWait({});
    }

    static void add(const wchar_t* name, win::DWORD state, win::ServiceBehaviour behaviour = {}) {
        win::ServiceRecord r;
        r.name = name;
        r.state = state;
        r.behaviour = behaviour;
        ASSERT_TRUE(win::addService(r));
    }
    static win::DWORD state(const wchar_t* name) {
        win::ServiceRecord r;
        return win::getService(name, r) ? r.state : 0;
    }
    static mw::ServiceRecord entry(const wchar_t* name, std::vector<std::wstring> arguments = {}) {
        mw::ServiceRecord e;
        e.operation = L"stop";
        e.serviceName = name;
        e.arguments = std::move(arguments);
        return e;
    }
    int flag(const wchar_t* name) {
        auto it = mw::stoppedServices().find(mw::serviceKey(entry(name)));
        return it == mw::stoppedServices().end() ? -1 : it->second;
    }
};

TEST_F(Services, StopPassFlagsWhatItStopped) {
    using namespace win::svcstate;
    struct Row {
        const wchar_t* name;
        win::DWORD before;
        win::ServiceBehaviour behaviour;
        bool result;
        int flag;
        win::DWORD after;
        const wchar_t* type;
        std::wstring line;
    };
    const Row rows[] = {
        {L"Plain", running, {}, true, 1, stopped, L"INFO", L"Successfully stopped the service: Plain"},
        {L"Slow",
         running,
         {.stopPendingPolls = 3},
         true,
         1,
         stopped,
         L"INFO",
         L"Service stopped completely. Patch will progress."},
        {L"Idle",
         stopped,
         {},
         true,
         0,
         stopped,
         L"INFO",
         L"Service was not running. No action is taken. Patch will progress."},
        {L"Stubborn",
         running,
         {.refusesStop = true},
         false,
         0,
         running,
         L"ERROR",
         L"Unable to stop the service: Stubborn. Returned error code: 1061"},
        // Never leaves stop-pending: the bounded wait fails the step instead of hanging the patch. It was
        // asked to stop, so it is flagged to be started again.
        {L"Stuck",
         running,
         {.stopPendingPolls = 1000000},
         false,
         1,
         stopPending,
         L"ERROR",
         L"The service Stuck did not stop within 200 milliseconds. Patch will fail."},
    };
    for (const Row& row : rows) add(row.name, row.before, row.behaviour);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(row.name)));
        EXPECT_EQ(mw::stopService(entry(row.name)), row.result);
        EXPECT_EQ(flag(row.name), row.flag);
        EXPECT_EQ(state(row.name), row.after);
        EXPECT_TRUE(logged(row.type, row.line));
    }
    EXPECT_TRUE(mw::stopService(entry(L"Missing")));
    EXPECT_EQ(flag(L"Missing"), 0);
    EXPECT_TRUE(logged(L"INFO", L"Unable to open the Service: Missing. Returned error code: 1060"));

    // A second entry for a service the first one stopped keeps its flag, so the start pass restarts it.
    EXPECT_TRUE(mw::stopService(entry(L"plain")));
    EXPECT_EQ(flag(L"Plain"), 1);

    // One still stopping when the start pass comes is started once its stop has finished.
    add(L"Lagging", stopPending, {.stopPendingPolls = 3});
    EXPECT_TRUE(mw::startService(entry(L"Lagging")));
    EXPECT_EQ(state(L"Lagging"), running);
}

TEST_F(Services, StartPassStartsWithTheEntrysArguments) {
    using namespace win::svcstate;
    add(L"Stopped", stopped);
    add(L"Running", running);
    add(L"Broken", stopped, {.startError = 1053});
    EXPECT_TRUE(mw::startService(entry(L"Stopped", {L"-quick", L"two words"})));
    EXPECT_EQ(state(L"Stopped"), running);
    win::ServiceRecord r;
    ASSERT_TRUE(win::getService(L"Stopped", r));
    EXPECT_EQ(r.lastArguments, (std::vector<std::wstring>{L"-quick", L"two words"}));
    EXPECT_TRUE(logged(L"INFO", L"Number of arguments specified: 2"));
    EXPECT_TRUE(logged(L"INFO", L"Successfully started the service: Stopped"));

    EXPECT_TRUE(mw::startService(entry(L"Running")));
    EXPECT_TRUE(logged(L"INFO", L"Service was already running. No action is taken. Patch will progress."));

    EXPECT_FALSE(mw::startService(entry(L"Broken")));
    EXPECT_EQ(state(L"Broken"), stopped);
    EXPECT_TRUE(logged(L"ERROR", L"Unable to start the service: Broken. Returned error code: 1053"));

    EXPECT_TRUE(mw::startService(entry(L"Missing")));
    EXPECT_TRUE(logged(L"ERROR", L"Unable to open the Service: Missing. Returned error code: 1060"));
}

}  // namespace
