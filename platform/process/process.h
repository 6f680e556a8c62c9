// Child processes started from Windows command lines, this process's own command line, and the list
// of running processes.
#pragma once
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/win.h"

namespace win {

// CommandLineToArgvW rules.
std::vector<std::wstring> splitCommandLine(std::wstring_view commandLine);
// Quotes an argument so that splitCommandLine gives it back unchanged.
std::wstring quoteArgument(std::wstring_view argument);

// GetCommandLineW: the exact text the parent passed, blanks and quotes included. A program started
// from a host shell gets its arguments quoted by Windows rules behind its program path.
std::wstring commandLine();
// The arguments part of commandLine() (what WinMain receives): the text after the program name and
// the blanks that follow it.
std::wstring commandLineArguments();
// Called once from main() so the layer can see argv when no parent passed a command line.
void initProcess(int argc, char** argv);

DWORD currentProcessId();
// TerminateProcess on this process: it ends at once, nothing cleaned up or flushed (here by SIGKILL).
[[noreturn]] void terminateCurrentProcess();
// Windows path of this program when it lies in the machine, else its host path as text.
std::wstring modulePath();
std::filesystem::path moduleHostPath();

struct ChildOptions {
    std::wstring currentDirectory;  // empty: the parent's
    bool captureOutput = false;     // standard output and error into output()
    bool hideWindow = true;
    // The child is ended when this process ends, however it ends (a job object that kills on close).
    bool endWithParent = false;
    std::vector<std::pair<std::wstring, std::wstring>> environment;  // added or replaced variables
};

// CreateProcessW + WaitForSingleObject + GetExitCodeProcess.
class ChildProcess {
  public:
    ChildProcess();
    ~ChildProcess();  // does not kill a running child
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The program is found as CreateProcess does: quoted path, or an unquoted path with blanks tried
    // prefix by prefix, ".exe" added when the name has no extension, relative names against the current
    // directory and the system folder. False with 2 when not found. The child reads `commandLine`
    // exactly from commandLine().
    bool start(std::wstring_view commandLine, const ChildOptions& options = {});
    // Host program with arguments (tools and tests); the command line is built by quoting.
    bool startHost(const std::filesystem::path& program, const std::vector<std::wstring>& arguments,
                   const ChildOptions& options = {});
    // False with 258 (WAIT_TIMEOUT) when the child is still running after timeoutMs.
    bool wait(DWORD timeoutMs = kInfinite);
    bool exitCode(DWORD& code) const;  // 259 (STILL_ACTIVE) while running
    const std::string& output() const;
    DWORD pid() const;
    bool kill();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

struct ProcessEntry {
    DWORD pid = 0;
    std::wstring exeName;               // file name of the executable
    std::wstring fullPath;              // Windows path when inside the machine, else the host path
    std::vector<std::wstring> modules;  // file names of the loaded modules (executable first)
};
// TerminateProcess on another process of the machine; false when it is gone or may not be ended.
bool terminateProcess(DWORD pid);
// The processes with a handle open on the file, as the Restart Manager lists them (only those whose
// handles this user may see); empty when nothing holds it or it is not there.
std::vector<DWORD> processesHoldingFile(std::wstring_view path);
// Processes readable from /proc (others are skipped, as EnumProcesses skips protected ones) that run on
// the current machine: those started on it (MENDWELL_MACHINE in their environment), and this process.
std::vector<ProcessEntry> listProcesses();

}  // namespace win
