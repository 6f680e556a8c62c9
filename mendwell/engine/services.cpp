#include "mendwell/engine/services.h"

#include "mendwell/base/patchlog.h"
#include "platform/services/services.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace mw {

namespace {

ServiceStopWait g_wait;

// The manager and the service, opened with the log lines both passes share. False when the service
// could not be opened (its error logged by the caller's rule).
bool openService(win::ServiceManager& manager, win::Service& service, const std::wstring& name) {
    if (!manager.open())
        logError(L"Unable to open the Service Control Manager. Returned error code: %d", win::lastError());
    return service.open(manager, name);
}

// Polls while the service stays in the pending state given (it refuses controls meanwhile), up to the
// stop wait's limit.
void waitWhilePending(win::Service& service, win::ServiceStatus& status, win::DWORD pending) {
    const std::uint64_t start = win::tickCount();
    for (;;) {
        const bool answered = service.control(win::svccontrol::interrogate, status);
        if (answered || status.currentState != pending || win::lastError() != win::err::serviceCannotAcceptCtrl)
            break;
        if (win::tickCount() - start >= g_wait.limitMs) break;
        win::sleepMs(g_wait.pauseMs);
    }
}

bool waitUntilStopped(win::Service& service, win::ServiceStatus& status) {
    waitWhilePending(service, status, win::svcstate::stopPending);
    return status.currentState == win::svcstate::stopped;
}

}  // namespace

std::map<std::wstring, int>& stoppedServices() {
    static std::map<std::wstring, int> flags;
    return flags;
}

std::wstring serviceKey(const ServiceRecord& entry) {
    return win::toUpper(entry.serviceName);
}

bool serviceRunning(const ServiceRecord& entry) {
    win::ServiceManager manager;
    win::Service service;
    if (!manager.open() || !service.open(manager, entry.serviceName)) return false;
    win::ServiceStatus status;
    service.control(win::svccontrol::interrogate, status);
    return status.currentState != win::svcstate::stopped && win::lastError() != win::err::serviceNotActive;
}

void setServiceStopWait(const ServiceStopWait& wait) {
    g_wait = wait;
}

bool stopService(const ServiceRecord& entry) {
    logInfo(L"Stopping services.");
    const std::wstring& name = entry.serviceName;
    // A second entry for a service this run already stopped keeps its flag, so it is started again.
    int& flag = stoppedServices()[serviceKey(entry)];
    win::ServiceManager manager;
    win::Service service;
    if (!openService(manager, service, name)) {
        logInfo(L"Unable to open the Service: %s. Returned error code: %d", name, win::lastError());
        return true;
    }
    logInfo(L"Querying the status of the service: %s", name);
    win::ServiceStatus status;
    service.control(win::svccontrol::interrogate, status);
    // A service still starting (e.g. started again by a recovery) refuses the stop: wait for its start.
    if (status.currentState == win::svcstate::startPending) {
        logInfo(L"The service %s is still starting; patcher waits for it before stopping it.", name);
        waitWhilePending(service, status, win::svcstate::startPending);
    }
    const win::DWORD error = win::lastError();
    if (status.currentState == win::svcstate::stopped || error == win::err::serviceNotActive ||
        error == win::err::serviceDoesNotExist) {
        logInfo(L"Service was not running. No action is taken. Patch will progress.");
        return true;
    }
    if (!service.control(win::svccontrol::stop, status)) {
        logError(L"Unable to stop the service: %s. Returned error code: %d", name, win::lastError());
        return false;
    }
    // Asked to stop by this run: started again by the start pass (or the rollback) whatever the wait
    // below finds.
    flag = 1;
    logInfo(L"waiting for service to stop completely.");
    if (!waitUntilStopped(service, status)) {
        logError(L"The service %s did not stop within %d milliseconds. Patch will fail.", name,
                 static_cast<int>(g_wait.limitMs));
        return false;
    }
    logInfo(L"Service stopped completely. Patch will progress.");
    logInfo(L"Successfully stopped the service: %s", name);
    return true;
}

bool startService(const ServiceRecord& entry) {
    logInfo(L"Starting services.");
    const std::wstring& name = entry.serviceName;
    win::ServiceManager manager;
    win::Service service;
    if (!openService(manager, service, name)) {
        logError(L"Unable to open the Service: %s. Returned error code: %d", name, win::lastError());
        return true;
    }
    logInfo(L"Querying the status of the service: %s", name);
    win::ServiceStatus status;
    service.control(win::svccontrol::interrogate, status);
    const win::DWORD error = win::lastError();
    if (status.currentState == win::svcstate::running || error == win::err::serviceAlreadyRunning ||
        error == win::err::serviceDoesNotExist) {
        logInfo(L"Service was already running. No action is taken. Patch will progress.");
        return true;
    }
    // A service still stopping cannot be started: its stop is waited for first.
    if (status.currentState == win::svcstate::stopPending) {
        logInfo(L"The service %s is still stopping; patcher waits for it before starting it.", name);
        waitUntilStopped(service, status);
    }
    logInfo(L"Number of arguments specified: %d", static_cast<int>(entry.arguments.size()));
    if (!service.start(entry.arguments)) {
        logError(L"Unable to start the service: %s. Returned error code: %d", name, win::lastError());
        return false;
    }
    logInfo(L"Successfully started the service: %s", name);
    return true;
}

}  // namespace mw
