#include "mendwell/base/workfolder.h"

#include <mutex>

#include "platform/fs/file.h"
#include "platform/process/process.h"
#include "platform/system/system.h"

namespace mw {

namespace {

std::wstring& overrideFolder() {
    static std::wstring folder;
    return folder;
}

}  // namespace

std::wstring patcherFolders() {
    std::wstring temp = win::getEnv(L"TEMP").value_or(std::wstring());
    while (!temp.empty() && temp.back() == L'\\') temp.pop_back();
    return temp + L"\\Patcher";
}

void setWorkFolderOverride(std::wstring folder) {
    overrideFolder() = std::move(folder);
}

std::wstring workFolder() {
    if (!overrideFolder().empty()) return overrideFolder();
    const std::wstring patcher = patcherFolders();
    const std::wstring folder = patcher + L"\\Patcher" + std::to_wstring(win::currentProcessId());
    // Asked for several times per entry: once made, one look tells it is still there.
    static std::mutex guard;
    static std::wstring made;
    std::lock_guard lock(guard);
    if (made == folder && win::isDirectory(folder)) return folder;
    // Errors are ignored: an existing folder is the usual case.
    win::createDirectory(patcher);
    win::createDirectory(folder);
    made = folder;
    return folder;
}

std::wstring workPath(const std::wstring& relative) {
    return workFolder() + relative;
}

}  // namespace mw
