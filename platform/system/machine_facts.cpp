// Facts of the machine that come straight from its profile.
#include "platform/machine/machine.h"
#include "platform/system/system.h"

namespace win {

std::uint16_t userDefaultLangId() {
    return Machine::current().profile().userLanguage;
}
std::uint16_t systemDefaultLangId() {
    return Machine::current().profile().systemLanguage;
}
unsigned ansiCodePage() {
    return Machine::current().profile().ansiCodePage;
}
unsigned oemCodePage() {
    return Machine::current().profile().oemCodePage;
}

bool isTestMachine() {
    const Machine& machine = Machine::current();
    return machine.ok() && machine.profile().forTests;
}

bool isAdministrator() {
    const Machine& machine = Machine::current();
    // Any failure of the check counts as not administrator.
    return machine.ok() && machine.profile().administrator;
}

}  // namespace win
