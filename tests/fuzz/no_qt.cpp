// The fuzz build has no Qt: a message box falls back to standard error and its default button, as it
// does on a machine without a display.
#include "platform/ui/messagebox_backends.h"

namespace win::ui {

bool qtMessageBox(std::wstring_view, std::wstring_view, unsigned, const BoxButtons&, int&) { return false; }

}  // namespace win::ui
