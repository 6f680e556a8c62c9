// Variables through which a parent that uses this layer hands its child the Windows view of its start.
#pragma once

namespace win {

// The exact command-line text (UTF-8); read and removed from the environment as the child loads.
constexpr const char* kCommandLineVariable = "MENDWELL_COMMAND_LINE";
// The child's current directory as a Windows path (read by the file layer).
constexpr const char* kCurrentDirectoryVariable = "MENDWELL_CWD";

}  // namespace win
