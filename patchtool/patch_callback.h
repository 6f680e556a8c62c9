// The patch tool's side of the engine's callback: progress lines, prompts, standard input, the
// user-stop flag set by the console control handler.
#pragma once
#include <cstdio>
#include <string>

namespace patchtool {

// Where the callback reads and writes; main() uses the process's streams, tests their own.
struct ToolStreams {
    std::FILE* in = stdin;
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool outIsConsole = true;
    void (*toConsole)(const std::string& text) = nullptr;  // the console itself (CONOUT$)
    int (*readKey)() = nullptr;                           // one key press (_getch)
};

void setStreams(const ToolStreams& streams);
void clearUserStop();
bool userStopped();
// The console control handler: control-C, break, close, log-off and shut-down stop the run.
bool onConsoleEvent(unsigned long event);

// The callback handed to the engine: (message number, data) -> the answer the engine reads.
void* patchCallback(int message, void* data);

// Splits the command line, calls the engine once and returns the exit code.
int runTool(const std::wstring& commandLine);

}  // namespace patchtool
