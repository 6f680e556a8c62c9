// patch: applies one binary difference file through the patch engine library.
#include "patchtool/patch_callback.h"
#include "platform/process/process.h"
#include "platform/system/console.h"

namespace {

bool consoleHandler(win::DWORD event) { return patchtool::onConsoleEvent(event); }
void toConsole(const std::string& text) { win::writeConsole(text); }

}  // namespace

int main(int argc, char** argv) {
    win::initProcess(argc, argv);
    patchtool::clearUserStop();
    win::setConsoleCtrlHandler(consoleHandler);
    patchtool::ToolStreams streams;
    streams.outIsConsole = win::stdoutIsConsole();
    streams.toConsole = toConsole;
    streams.readKey = win::readConsoleKey;
    patchtool::setStreams(streams);
    return patchtool::runTool(win::commandLine());
}
