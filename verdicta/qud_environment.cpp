#include "verdicta/qud_environment.h"

#include "platform/system/system.h"
#include "platform/text/text.h"

namespace verdicta {

std::string readVariable(std::wstring_view name) {
    // The value comes whole, whatever its length: no first buffer to outgrow.
    const auto value = win::getEnv(name);
    return value ? win::toUtf8(*value) : std::string();
}

}  // namespace verdicta
