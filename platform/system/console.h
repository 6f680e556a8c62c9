// The process's console: control events, whether standard output is the console, writing to the
// console itself (CONOUT$) and reading one key press (_getch).
#pragma once
#include <string_view>

#include "platform/win.h"

namespace win {

namespace ctrl {
constexpr DWORD cEvent = 0;         // SIGINT
constexpr DWORD breakEvent = 1;     // SIGQUIT
constexpr DWORD closeEvent = 2;     // SIGHUP
constexpr DWORD logoffEvent = 5;    // (none on this host)
constexpr DWORD shutdownEvent = 6;  // SIGTERM
}  // namespace ctrl

// SetConsoleCtrlHandler with one handler. It runs in signal context: it may only set flags. When it
// returns false the event takes its default action (the process ends).
using ConsoleCtrlHandler = bool (*)(DWORD event);
bool setConsoleCtrlHandler(ConsoleCtrlHandler handler);

// GetConsoleMode succeeds on the standard output handle.
bool stdoutIsConsole();
// WriteConsoleA on CONOUT$; nothing happens without a console.
void writeConsole(std::string_view bytes);
// _getch: one key from the console without echo; -1 without a console.
int readConsoleKey();

}  // namespace win
