// FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM) for the Win32 error numbers the layer reports.
#pragma once
#include <string>

#include "platform/win.h"

namespace win {

// The system's English text for an error number, ending in ".\r\n" as Windows gives it; a generic
// text naming the number for one it does not know.
std::wstring errorText(DWORD error);

}  // namespace win
