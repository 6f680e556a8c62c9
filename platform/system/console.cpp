#include "platform/system/console.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace win {
namespace {

std::atomic<ConsoleCtrlHandler> g_handler{nullptr};

DWORD eventOf(int signal) {
    switch (signal) {
        case SIGINT: return ctrl::cEvent;
        case SIGQUIT: return ctrl::breakEvent;
        case SIGHUP: return ctrl::closeEvent;
        default: return ctrl::shutdownEvent;
    }
}

void onSignal(int signal) {
    const ConsoleCtrlHandler handler = g_handler.load();
    if (handler != nullptr && handler(eventOf(signal))) return;
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

}  // namespace

bool setConsoleCtrlHandler(ConsoleCtrlHandler handler) {
    g_handler.store(handler);
    struct sigaction action {};
    action.sa_handler = handler != nullptr ? onSignal : SIG_DFL;
    sigemptyset(&action.sa_mask);
    // Blocking reads are restarted: a stop is seen at the next callback, as on Windows.
    action.sa_flags = SA_RESTART;
    for (int s : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
        if (::sigaction(s, &action, nullptr) != 0) return false;
    }
    return true;
}

bool stdoutIsConsole() { return ::isatty(STDOUT_FILENO) == 1; }

void writeConsole(std::string_view bytes) {
    const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    ::close(fd);
}

int readConsoleKey() {
    const int fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    termios saved{};
    const bool raw = ::tcgetattr(fd, &saved) == 0;
    if (raw) {
        termios t = saved;
        t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &t);
    }
    unsigned char c = 0;
    ssize_t n;
    do {
        n = ::read(fd, &c, 1);
    } while (n < 0 && errno == EINTR);
    if (raw) ::tcsetattr(fd, TCSANOW, &saved);
    ::close(fd);
    return n == 1 ? c : -1;
}

}  // namespace win
