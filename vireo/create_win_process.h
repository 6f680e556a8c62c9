// Runs a child process for packaging, certificates and the debug launcher.
#pragma once
#include <cstddef>

namespace vireo {

// Starts `commandLine` without a window. With `capture`, standard output and error are appended to the
// 8-bit text in `output` (outputSize bytes, kept terminated; what does not fit is cut off) and the call
// waits for the child and returns its exit code; without, it returns 0 at once. -1 for an absent or
// empty command line, and -1 after the "CreateWinProcess" message when the child cannot be started.
int CreateWinProcess(const wchar_t* commandLine, bool capture, char* output, std::size_t outputSize);

}  // namespace vireo
