// service add | query | set: the machine's service table and the test behaviours of its services.
#include "platform/services/services.h"
#include "platform/text/text.h"
#include "tools/machine/command.h"

namespace mw::machinetool {
namespace {

constexpr const wchar_t* kServiceHelp =
    L"usage: machine service add NAME [OPTIONS]\n"
    L"       machine service set NAME [OPTIONS]\n"
    L"       machine service query [NAME]\n"
    L"OPTIONS:\n"
    L"  --display TEXT        display name\n"
    L"  --state STATE         running, stopped, start-pending or stop-pending (add: stopped)\n"
    L"  --refuse-stop         a stop request is refused (1061); --accept-stop undoes it\n"
    L"  --stop-pending N      after a stop, N status polls see stop pending, then stopped\n"
    L"  --start-pending N     after a start, N status polls see start pending, then running\n"
    L"  --start-error N       a start fails with error N (0: starts)\n"
    L"  --process PID         the process the service runs in; it is ended when the service stops";

int usage(const std::wstring& why) {
    fail(L"ERROR: " + why + L"\n" + kServiceHelp);
    return kUsage;
}

struct StateName {
    win::DWORD state;
    const wchar_t* option;
    const wchar_t* shown;
};
constexpr StateName kStates[] = {
    {win::svcstate::stopped, L"stopped", L"STOPPED"},
    {win::svcstate::startPending, L"start-pending", L"START_PENDING"},
    {win::svcstate::stopPending, L"stop-pending", L"STOP_PENDING"},
    {win::svcstate::running, L"running", L"RUNNING"},
};

std::wstring shownState(win::DWORD state) {
    for (const auto& s : kStates) {
        if (s.state == state) return std::to_wstring(state) + L"  " + s.shown;
    }
    return std::to_wstring(state);
}

// Applies the options after NAME to `record`; false with a reason on a bad option.
bool applyOptions(const Args& args, win::ServiceRecord& record, std::wstring& why) {
    for (std::size_t i = 2; i < args.size(); ++i) {
        const std::wstring& a = args[i];
        if (a == L"--refuse-stop" || a == L"--accept-stop") {
            record.behaviour.refusesStop = a == L"--refuse-stop";
            continue;
        }
        if (i + 1 >= args.size()) {
            why = a + L" needs a value";
            return false;
        }
        const std::wstring& v = args[++i];
        unsigned long long n = 0;
        if (a == L"--display") {
            record.displayName = v;
        } else if (a == L"--state") {
            bool known = false;
            for (const auto& s : kStates) {
                if (win::iequals(v, s.option)) {
                    record.state = s.state;
                    known = true;
                }
            }
            if (!known) {
                why = L"unknown state " + v;
                return false;
            }
        } else if (a == L"--stop-pending" || a == L"--start-pending") {
            if (!parseCount(v, n) || n > 1000000) {
                why = a + L" takes a number of polls";
                return false;
            }
            (a == L"--stop-pending" ? record.behaviour.stopPendingPolls
                                    : record.behaviour.startPendingPolls) = static_cast<int>(n);
        } else if (a == L"--process") {
            if (!parseCount(v, n) || n > 0xFFFFFFFFull) {
                why = L"--process takes a process id";
                return false;
            }
            record.processId = static_cast<win::DWORD>(n);
        } else if (a == L"--start-error") {
            if (!parseCount(v, n) || n > 0xFFFFFFFFull) {
                why = L"--start-error takes an error number";
                return false;
            }
            record.behaviour.startError = static_cast<win::DWORD>(n);
        } else {
            why = L"unknown option " + a;
            return false;
        }
    }
    return true;
}

void show(const win::ServiceRecord& r) {
    out(L"SERVICE_NAME: " + r.name);
    out(L"DISPLAY_NAME: " + r.displayName);
    out(L"        STATE              : " + shownState(r.state));
    std::wstring behaviour;
    auto add = [&](const std::wstring& text) { behaviour += (behaviour.empty() ? L"" : L", ") + text; };
    if (r.behaviour.refusesStop) add(L"refuses stop");
    if (r.behaviour.stopPendingPolls)
        add(L"stop pending " + std::to_wstring(r.behaviour.stopPendingPolls) + L" polls");
    if (r.behaviour.startPendingPolls) {
        add(L"start pending " + std::to_wstring(r.behaviour.startPendingPolls) + L" polls");
    }
    if (r.behaviour.startError) add(L"start fails with " + std::to_wstring(r.behaviour.startError));
    if (r.processId) out(L"        PID                : " + std::to_wstring(r.processId));
    out(L"        BEHAVIOUR          : " + (behaviour.empty() ? std::wstring(L"normal") : behaviour));
    std::wstring arguments;
    for (const auto& a : r.lastArguments) arguments += (arguments.empty() ? L"\"" : L" \"") + a + L"\"";
    out(L"        LAST_ARGUMENTS     : " + arguments);
    out(L"");
}

int serviceAdd(const Args& args) {
    if (args.size() < 2 || args[1].empty() || args[1].rfind(L"--", 0) == 0)
        return usage(L"service add needs a NAME");
    win::ServiceRecord record;
    record.name = args[1];
    record.displayName = args[1];
    std::wstring why;
    if (!applyOptions(args, record, why)) return usage(why);
    if (!win::addService(record)) {
        fail(L"ERROR: cannot add the service " + record.name + L" (error " +
             std::to_wstring(win::lastError()) + L")");
        return kFailure;
    }
    out(L"[SC] CreateService SUCCESS");
    return kSuccess;
}

int serviceSet(const Args& args) {
    if (args.size() < 2 || args[1].rfind(L"--", 0) == 0) return usage(L"service set needs a NAME");
    win::ServiceRecord record;
    if (!win::getService(args[1], record)) {
        fail(L"ERROR: the service " + args[1] + L" does not exist (error " +
             std::to_wstring(win::lastError()) + L")");
        return kFailure;
    }
    std::wstring why;
    if (!applyOptions(args, record, why)) return usage(why);
    if (!win::setService(record)) {
        fail(L"ERROR: cannot change the service " + record.name + L" (error " +
             std::to_wstring(win::lastError()) + L")");
        return kFailure;
    }
    out(L"[SC] ChangeServiceConfig SUCCESS");
    return kSuccess;
}

int serviceQuery(const Args& args) {
    if (args.size() > 2) return usage(L"service query takes at most one NAME");
    if (args.size() == 2) {
        win::ServiceRecord record;
        if (!win::getService(args[1], record)) {
            fail(L"ERROR: the service " + args[1] + L" does not exist (error " +
                 std::to_wstring(win::lastError()) + L")");
            return kFailure;
        }
        show(record);
        return kSuccess;
    }
    for (const auto& record : win::listServices()) show(record);
    return kSuccess;
}

}  // namespace

int serviceCommand(const Args& args) {
    if (wantsHelp(args)) {
        out(kServiceHelp);
        return kSuccess;
    }
    if (args.empty()) return usage(L"service needs a verb");
    if (args[0] == L"add") return serviceAdd(args);
    if (args[0] == L"set") return serviceSet(args);
    if (args[0] == L"query") return serviceQuery(args);
    return usage(L"unknown service verb " + args[0]);
}

}  // namespace mw::machinetool
