// The service control manager of the machine: a service table kept in the machine's store.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win.h"

namespace win {

namespace svcstate {
constexpr DWORD stopped = 1;
constexpr DWORD startPending = 2;
constexpr DWORD stopPending = 3;
constexpr DWORD running = 4;
}  // namespace svcstate
namespace svccontrol {
constexpr DWORD stop = 1;
constexpr DWORD interrogate = 4;
}  // namespace svccontrol

struct ServiceStatus {
    DWORD currentState = 0;
    DWORD win32ExitCode = 0;
    DWORD checkPoint = 0;
    DWORD waitHint = 0;
};

// Behaviour of a service for tests, stored with it.
struct ServiceBehaviour {
    bool refusesStop = false;   // stop answers 1061
    int stopPendingPolls = 0;   // after stop, stays stop-pending for this many status queries
    int startPendingPolls = 0;  // after start, stays start-pending for this many status queries
    DWORD startError = 0;       // start fails with this error (0: starts)
};

class ServiceManager {
  public:
    ServiceManager();
    ~ServiceManager();
    bool open();  // OpenSCManagerW; false with 5 when the machine's store is unusable
    bool isOpen() const;
    void close();

  private:
    bool open_ = false;
};

class Service {
  public:
    Service();
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;
    bool open(const ServiceManager& manager, std::wstring_view name);  // 1060 when unknown
    bool isOpen() const;
    void close();
    bool queryStatus(ServiceStatus& status);  // one poll (advances pending states)
    // ControlService: stop (1062 when not running, 1061 when refused), interrogate.
    bool control(DWORD control, ServiceStatus& status);
    bool start(const std::vector<std::wstring>& arguments);  // 1056 when running
    // QueryServiceStatusEx's process id: the service's process while it is not stopped, else 0. The
    // process ends when the service comes to a stop.
    DWORD processId();
    // Arguments of the last start, for tests.
    std::vector<std::wstring> lastStartArguments();

  private:
    std::wstring name_;
    bool open_ = false;
};

// Administration of the table (tools/machine and tests).
struct ServiceRecord {
    std::wstring name;
    std::wstring displayName;
    DWORD state = svcstate::stopped;
    ServiceBehaviour behaviour;
    std::vector<std::wstring> lastArguments;
    DWORD processId = 0;  // the process the service runs in (0: none)
};
bool addService(const ServiceRecord& record);  // replaces one of the same name
bool getService(std::wstring_view name, ServiceRecord& record);
bool setService(const ServiceRecord& record);
std::vector<ServiceRecord> listServices();

}  // namespace win
