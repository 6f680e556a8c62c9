// Structured faults of the operating system (an access violation, an illegal instruction, an integer
// division by zero, a bad memory page) handed to the program with their Windows exception codes, on the
// thread that faulted, as a vectored exception handler would see them.
#pragma once
#include <atomic>
#include <cstddef>
#include <string_view>

#include "platform/win.h"

namespace win {

namespace exception_code {
constexpr DWORD accessViolation = 0xC0000005;
constexpr DWORD inPageError = 0xC0000006;
constexpr DWORD illegalInstruction = 0xC000001D;
constexpr DWORD integerDivideByZero = 0xC0000094;
constexpr DWORD floatInvalidOperation = 0xC0000090;
}  // namespace exception_code

// The handler must end the process; should it return, the fault ends the process as it would have.
// A fault inside the handler ends the process at once. On the thread that installed it the handler runs
// on a stack of its own, so a stack overflow there reaches it too.
using FaultHandler = void (*)(DWORD exceptionCode);
// Installs `handler` for the whole process (nullptr removes it).
void setFaultHandler(FaultHandler handler);

// What a handler may call: a fault can strike while its own thread or another holds any lock or is
// inside the allocator, so the handler neither locks, allocates nor uses buffered streams.

// A file kept open for appending from a handler. It takes no share-mode marks, so it sits beside the
// file's ordinary handle; it is written only as the process ends.
class FaultSafeFile {
  public:
    FaultSafeFile() = default;
    ~FaultSafeFile();
    FaultSafeFile(const FaultSafeFile&) = delete;
    FaultSafeFile& operator=(const FaultSafeFile&) = delete;
    bool open(std::wstring_view path);  // an existing file; false with the last error
    void close();
    bool isOpen() const noexcept;
    // Safe in a handler: the bytes go at the file's end, whatever else writes it.
    bool append(const void* data, std::size_t size) const noexcept;

  private:
    std::atomic<int> fd_{-1};
};

// Safe in a handler: the clock (as currentFileTime), a short sleep, and the end of the process with
// `code` (nothing else runs, nothing is flushed).
FileTime faultSafeTime() noexcept;
void faultSafeSleepMs(DWORD milliseconds) noexcept;
[[noreturn]] void faultSafeExit(int code) noexcept;

}  // namespace win
