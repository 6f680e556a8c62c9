// The parent console, sleeping and the tick count.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

#include "platform/system/system.h"
#include "platform/text/text.h"

namespace win {

void printToParentConsole(std::wstring_view text) {
    // The parent's console is the standard output we inherited; without one the text goes nowhere.
    if (::fcntl(STDOUT_FILENO, F_GETFD) == -1) return;
    std::fflush(stdout);
    const std::string bytes = toUtf8(text);
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
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
