#include "mendwell/records/running_apps.h"

#include <algorithm>
#include <array>
#include <boost/regex.hpp>

#include "mendwell/base/patch_state.h"
#include "mendwell/files/versioners.h"
#include "mendwell/base/patchlog.h"
#include "platform/fs/path.h"
#include "platform/process/process.h"
#include "platform/text/text.h"

namespace mw {

namespace {

constexpr std::size_t kMaxModules = 8000;
constexpr std::size_t kMaxPath = 260;
constexpr std::size_t kTextBuffer = 1024;

// UTF-8 as the regular expressions take it, cut to fit the conversion buffer.
std::string utf8(const std::wstring& text) {
    std::array<char, kTextBuffer> buffer{};
    win::toUtf8(text, buffer.data(), buffer.size());
    return buffer.data();
}

std::wstring displayNameOf(const win::ProcessEntry& process) {
    std::wstring description;
    // A path longer than the buffer cannot be read, and a host path outside the machine has no
    // version resource for us: the file name stands in.
    if (!process.fullPath.empty() && process.fullPath.size() < kMaxPath &&
        versioning::fileDescription(process.fullPath, description) && !description.empty())
        return description;
    return process.exeName;
}

}  // namespace

std::vector<RunningProcess> listProcesses() {
    std::vector<RunningProcess> list;
    // The patcher itself may well be named after the product ("LumenTX4_903_Update.exe").
    const win::DWORD self = win::currentProcessId();
    for (const win::ProcessEntry& process : win::listProcesses()) {
        if (process.pid == self) continue;
        if (win::iequals(process.exeName, L"rundll32.exe")) {
            const std::size_t count = std::min(process.modules.size(), kMaxModules);
            for (std::size_t i = 0; i < count; ++i) {
                if (win::iequals(process.modules[i], L"TandemTX4.cpl")) {
                    list.push_back({process.modules[i], L"Orvex Tandem TX4 Preferences"});
                    break;
                }
            }
            list.push_back({process.exeName, process.exeName});
            continue;
        }
        list.push_back({process.exeName, displayNameOf(process)});
    }
    return list;
}

std::vector<std::wstring> findRunningApplications(const std::vector<std::wstring>& patterns) {
    logInfo(L"Patcher is looking for running applications specified in config.xml file");
    std::vector<boost::regex> expressions;
    for (const std::wstring& pattern : patterns) {
        try {
            expressions.emplace_back(utf8(pattern), boost::regex::perl);
        } catch (const std::exception&) {
            logWarning(
                L"The running-application pattern \"%s\" is not a valid regular expression; it is skipped.",
                pattern);
        }
    }
    std::vector<std::wstring> names;
    // One look at the processes serves every pattern.
    const std::vector<RunningProcess> processes =
        expressions.empty() ? std::vector<RunningProcess>{} : listProcesses();
    for (const boost::regex& expression : expressions) {
        for (const RunningProcess& process : processes) {
            bool matches = false;
            try {
                matches = boost::regex_search(utf8(process.fileName), expression);
            } catch (const std::exception&) {
                // A pattern too complex for one name matches nothing.
            }
            if (matches && std::find(names.begin(), names.end(), process.displayName) == names.end())
                names.push_back(process.displayName);
        }
    }
    if (names.empty()) {
        logInfo(L"No applications found in use. Patch will progress.");
        return names;
    }
    patchGlobals().validationReason = reasonAppsRunning;
    logError(L"Applications in Use /n%s", runningApplicationsText(names));
    return names;
}

std::wstring runningApplicationsText(const std::vector<std::wstring>& names) {
    std::wstring text;
    for (const std::wstring& name : names) text += L"\r\n" + name;
    return text;
}

}  // namespace mw
