// The parent console, sleeping and the tick count.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/system/system.h"
#include "platform/text/text.h"

namespace win {

namespace {

// Writes everything it can to an inherited standard handle. A reader that went away (a closed pipe)
// makes the rest go nowhere, as on Windows: SIGPIPE is held back for this thread while writing and a
// signal raised by the write is taken back, so the process never dies of it.
void writeToStandardHandle(int fd, std::wstring_view text) {
    if (::fcntl(fd, F_GETFD) == -1) return;
    const std::string bytes = toUtf8(text);
    sigset_t pipe;
    sigset_t previous;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, &previous);
    sigset_t pending;
    sigpending(&pending);
    const bool alreadyPending = sigismember(&pending, SIGPIPE) == 1;
    bool broken = false;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            broken = n < 0 && errno == EPIPE;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (broken && !alreadyPending) {
        const timespec none{};
        while (sigtimedwait(&pipe, nullptr, &none) == -1 && errno == EINTR) {
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace

void printToParentConsole(std::wstring_view text) {
    // The parent's console is the standard output we inherited; without one the text goes nowhere.
    std::fflush(stdout);
    writeToStandardHandle(STDOUT_FILENO, text);
}

void printToStandardError(std::wstring_view text) {
    std::fflush(stderr);
    writeToStandardHandle(STDERR_FILENO, text);
}

void sleepMs(DWORD milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint64_t tickCount() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

}  // namespace win
