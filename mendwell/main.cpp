// Mendwell: the patcher program.
#include "mendwell/shell/startup.h"
#include "platform/process/process.h"

int main(int argc, char** argv) {
    win::initProcess(argc, argv);
    return mw::patcherMain(win::commandLineArguments());
}
