#include "mendwell/shell/workfolder.h"

#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "platform/system/system.h"

namespace mw {

std::wstring workFolder() {
    std::wstring temp = win::getEnv(L"TEMP").value_or(std::wstring());
    while (!temp.empty() && temp.back() == L'\\') temp.pop_back();
    const std::wstring patcher = temp + L"\\Patcher";
    // Errors are ignored: an existing folder is the usual case.
    win::createDirectory(patcher);
    const std::wstring folder = patcher + L"\\Patcher" + std::to_wstring(win::currentProcessId());
    win::createDirectory(folder);
    return folder;
}

std::wstring workPath(const std::wstring& relative) {
    return workFolder() + relative;
}

}  // namespace mw
