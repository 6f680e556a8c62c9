// Mendwell: the patcher program.
#include <cstdio>

#include "mendwell/app/startup.h"
#include "platform/machine/machine.h"
#include "platform/process/process.h"

namespace {
// The table of return codes has no entry for a machine that cannot be used at all; "failed" is the
// honest one (nothing was changed), and the message names the folder.
constexpr int kMachineUnusable = 9;
}  // namespace

int main(int argc, char** argv) {
    win::initProcess(argc, argv);
    if (const win::Machine& machine = win::Machine::current(); !machine.ok()) {
        std::fprintf(stderr, "Mendwell: %s\n", machine.error().c_str());
        return kMachineUnusable;
    }
    return mw::patcherMain(win::commandLineArguments());
}
