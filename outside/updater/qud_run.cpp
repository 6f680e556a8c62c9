// qud-run: what the update manager does around an installer. It names the product's install path and the
// result file in the two variables the result library reads, runs the installer, waits for it, prints
// its exit code and the result file, and ends with the installer's exit code.
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "platform/fs/file.h"
#include "platform/machine/machine.h"
#include "platform/process/process.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace {

const char* const kHelp = R"(Usage: qud-run [--install-path PATH] [--report FILE] -- PATCHER [ARGS]...

Runs PATCHER (a host program) as the update manager would, on the current machine (MENDWELL_MACHINE):
  --install-path PATH  QUD_APP_INSTALL_PATH, the install folder the manager knows (a Windows path);
                       left unset when not given
  --report FILE        QUD_IRPT_PATH, the result file the patcher leaves (a Windows path on the
                       machine); any earlier one is removed first. Left unset when not given.
Prints the patcher's exit code and the result file, and exits with the patcher's exit code
(125 when qud-run itself cannot run it).
)";

constexpr int kUsage = 125;

}  // namespace

int main(int argc, char** argv) {
    win::initProcess(argc, argv);
    std::optional<std::wstring> installPath, report;
    std::vector<std::wstring> patcherArgs;
    std::filesystem::path patcher;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if ((a == "--install-path" || a == "--report") && i + 1 < argc) {
            (a == "--report" ? report : installPath) = win::fromUtf8(argv[++i]);
        } else {
            std::cerr << "qud-run: unknown argument '" << a << "'\n" << kHelp;
            return kUsage;
        }
    }
    if (i >= argc) {
        std::cerr << "qud-run: no patcher given after --\n" << kHelp;
        return kUsage;
    }
    patcher = argv[i++];
    for (; i < argc; ++i) patcherArgs.push_back(win::fromUtf8(argv[i]));

    // The patcher sees exactly what the manager set: nothing inherited from whoever started qud-run.
    win::unsetEnv(L"QUD_APP_INSTALL_PATH");
    win::unsetEnv(L"QUD_IRPT_PATH");
    win::ChildOptions options;
    if (installPath) options.environment.emplace_back(L"QUD_APP_INSTALL_PATH", *installPath);
    if (report) {
        if (!win::Machine::current().ok()) {
            std::cerr << "qud-run: " << win::Machine::current().error() << "\n";
            return kUsage;
        }
        win::deleteFile(*report);
        options.environment.emplace_back(L"QUD_IRPT_PATH", *report);
    }

    win::ChildProcess child;
    if (!child.startHost(patcher, patcherArgs, options)) {
        std::cerr << "qud-run: cannot start " << patcher.string() << " (error " << win::lastError() << ")\n";
        return kUsage;
    }
    win::DWORD code = 0;
    child.wait();
    child.exitCode(code);
    std::cout << "\nqud-run: " << patcher.filename().string() << " exit code " << code << "\n";
    if (report) {
        std::string bytes;
        if (win::readFile(*report, bytes)) {
            std::cout << "qud-run: result file " << win::toUtf8(*report) << ":\n" << bytes;
        } else {
            std::cout << "qud-run: no result file at " << win::toUtf8(*report) << "\n";
        }
    }
    std::cout.flush();
    return static_cast<int>(code);
}
