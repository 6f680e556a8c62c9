#include "platform/system/fault_handler.h"

#include <signal.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <vector>

namespace win {

namespace {

std::atomic<FaultHandler> g_handler{nullptr};
std::atomic<bool> g_inHandler{false};
constexpr int kSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE};

DWORD codeOf(int signal, const siginfo_t* info) {
    switch (signal) {
        case SIGBUS:
            return exception_code::inPageError;
        case SIGILL:
            return exception_code::illegalInstruction;
        case SIGFPE:
            return info && info->si_code == FPE_INTDIV ? exception_code::integerDivideByZero
                                                       : exception_code::floatInvalidOperation;
        default:
            return exception_code::accessViolation;
    }
}

void restoreDefault() {
    for (int s : kSignals) ::signal(s, SIG_DFL);
}

void onFault(int signal, siginfo_t* info, void*) {
    const FaultHandler handler = g_handler.load();
    if (handler && !g_inHandler.exchange(true)) handler(codeOf(signal, info));
    // No handler, a fault inside it, or a handler that returned: the fault ends the process.
    restoreDefault();
    ::raise(signal);
    std::_Exit(128 + signal);
}

// The handler's own stack, so that a stack overflow can still be reported.
void ensureAlternateStack() {
    static thread_local std::vector<char> stack;
    if (!stack.empty()) return;
    stack.resize(64 * 1024);
    stack_t alt{};
    alt.ss_sp = stack.data();
    alt.ss_size = stack.size();
    ::sigaltstack(&alt, nullptr);
}

}  // namespace

void setFaultHandler(FaultHandler handler) {
    g_handler = handler;
    if (!handler) {
        restoreDefault();
        return;
    }
    ensureAlternateStack();
    struct sigaction action {};
    action.sa_sigaction = onFault;
    action.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    for (int s : kSignals) ::sigaction(s, &action, nullptr);
}

}  // namespace win
