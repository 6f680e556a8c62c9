// Structured faults of the operating system (an access violation, an illegal instruction, an integer
// division by zero, a bad memory page) handed to the program with their Windows exception codes, on the
// thread that faulted, as a vectored exception handler would see them.
#pragma once
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

}  // namespace win
