// The three exports. Nothing is thrown across them: every failure inside ends as 0.
#include <cstring>

#include "platform/system/system.h"
#include "platform/text/text.h"
#include "verdicta/qud_environment.h"
#include "verdicta/result_report.h"
#include "verdicta/verdicta.h"

namespace {

int setVerdicta(std::int32_t code, std::string message) {
    const std::string path = verdicta::readVariable(verdicta::kReportPathVariable);
    if (path.empty()) return 0;
    // An unwritable file is not the caller's failure to handle: the report is simply lost.
    verdicta::ResultReport(path, static_cast<std::uint32_t>(code), std::move(message)).write();
    return 1;
}

}  // namespace

VERDICTA_EXPORT int QUDGetClientAppPath(std::uint32_t* size, char* buffer) {
    try {
        if (!size) return 0;
        const std::uint32_t capacity = *size;
        *size = 0;
        const std::string path = verdicta::readVariable(verdicta::kInstallPathVariable);
        if (path.empty()) return 0;
        if (path.size() >= 0xFFFFFFFFu) return 0;
        const auto length = static_cast<std::uint32_t>(path.size());
        if (buffer && capacity >= length + 1) {
            std::memcpy(buffer, path.c_str(), std::size_t{length} + 1);
            *size = length;
            return 1;
        }
        *size = length + 1;
        return 0;
    } catch (...) {
        return 0;
    }
}

VERDICTA_EXPORT int QUDSetVerdicta(std::int32_t code, const char* message) {
    try {
        return setVerdicta(code, message ? message : "");
    } catch (...) {
        return 0;
    }
}

VERDICTA_EXPORT int QUDEncodeAndSetVerdicta(std::int32_t code, const char* message) {
    try {
        std::string utf8;
        if (message && *message) {
            std::wstring wide;
            if (win::fromCodePage(message, win::ansiCodePage(), wide)) utf8 = win::toUtf8(wide);
        }
        return setVerdicta(code, std::move(utf8));
    } catch (...) {
        return 0;
    }
}
