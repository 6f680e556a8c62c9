#include "platform/system/fault_handler.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <vector>

#include "platform/fs/hostfs.h"

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

FaultSafeFile::~FaultSafeFile() {
    close();
}

bool FaultSafeFile::open(std::wstring_view path) {
    close();
    hostfs::Target target;
    if (!hostfs::resolve(path, target)) return false;
    if (!target.exists) return hostfs::fail(hostfs::missingError(target.host));
    const int fd = ::open(target.host.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return hostfs::fail(errno, target.host);
    fd_ = fd;
    return true;
}

void FaultSafeFile::close() {
    const int fd = fd_.exchange(-1);
    if (fd >= 0) ::close(fd);
}

bool FaultSafeFile::isOpen() const noexcept {
    return fd_.load() >= 0;
}

bool FaultSafeFile::append(const void* data, std::size_t size) const noexcept {
    const int fd = fd_.load();
    if (fd < 0) return false;
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, at, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        at += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

FileTime faultSafeTime() noexcept {
    // clock_gettime is async-signal-safe; the conversion is arithmetic only.
    struct timespec ts {};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    return hostfs::fromTimespec(ts);
}

void faultSafeSleepMs(DWORD milliseconds) noexcept {
    struct timespec ts {};
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

void faultSafeExit(int code) noexcept {
    ::_exit(code);
}

}  // namespace win
