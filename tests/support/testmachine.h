// Fresh machines in temporary folders for tests, and running the built programs.
#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/machine/machine.h"

namespace testing_support {

// A new machine in its own temporary folder, selected as the current machine of the test process.
// The folder is removed when the object goes.
class TestMachine {
  public:
    explicit TestMachine(const win::MachineProfile& profile = {});
    ~TestMachine();
    TestMachine(const TestMachine&) = delete;
    TestMachine& operator=(const TestMachine&) = delete;

    const std::filesystem::path& root() const { return root_; }
    // Host path of a Windows path on this machine (C:\x -> <root>/drive_c/x), case as written.
    std::filesystem::path host(std::wstring_view windowsPath) const;
    // Writes a file (creating folders) / reads one, by Windows path, straight on the host.
    void writeFile(std::wstring_view windowsPath, std::string_view bytes) const;
    std::string readFile(std::wstring_view windowsPath) const;
    bool exists(std::wstring_view windowsPath) const;

  private:
    std::filesystem::path root_;
};

// A temporary folder removed at the end of the scope.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

struct RunResult {
    int exitCode = -1;   // the program's exit status; -1 when it could not run, 128+n for signal n
    std::string output;  // standard output and standard error together
};

// Runs a host program and waits for it. `environment` adds or replaces variables (MENDWELL_MACHINE
// of the current machine is always passed on). With `outputClosed` its standard output is a pipe that
// nobody reads (as in `program | true`); the output holds standard error only.
RunResult runProgram(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                     const std::map<std::string, std::string>& environment = {}, bool outputClosed = false);

std::filesystem::path binDir();     // where the build puts programs and libraries
std::filesystem::path sourceDir();  // the project's source tree
std::filesystem::path buildDir();

std::string readHostFile(const std::filesystem::path& path);
void writeHostFile(const std::filesystem::path& path, std::string_view bytes);

}  // namespace testing_support
