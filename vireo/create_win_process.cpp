#include "vireo/create_win_process.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "platform/process/process.h"
#include "platform/system/error_text.h"
#include "platform/text/format.h"
#include "platform/ui/messagebox.h"

namespace vireo {

namespace {

void appendCut(char* output, std::size_t outputSize, const std::string& text) {
    if (!output || outputSize == 0) return;
    const std::size_t used = ::strnlen(output, outputSize - 1);
    const std::size_t room = outputSize - 1 - used;
    const std::size_t n = std::min(room, text.size());
    std::memcpy(output + used, text.data(), n);
    output[used + n] = '\0';
}

}  // namespace

int CreateWinProcess(const wchar_t* commandLine, bool capture, char* output, std::size_t outputSize) {
    if (!commandLine || !*commandLine) return -1;
    const std::wstring line(commandLine);  // the child gets a private copy
    win::ChildOptions options;
    options.captureOutput = capture;
    options.hideWindow = true;
    win::ChildProcess child;
    if (!child.start(line, options)) {
        // Ending the tool here would take the author's unsaved work with it; callers treat -1 as a
        // failed run.
        const win::DWORD error = win::lastError();
        win::messageBox(
            win::format(L"%s failed with error %d: %s", L"CreateWinProcess", error, win::errorText(error)),
            L"Error", win::mb::ok);
        return -1;
    }
    if (!capture) return 0;
    child.wait();
    appendCut(output, outputSize, child.output());
    win::DWORD code = 0;
    child.exitCode(code);
    return static_cast<int>(code);
}

}  // namespace vireo
