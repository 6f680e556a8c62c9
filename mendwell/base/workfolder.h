// The per-process work folder: %TEMP%\Patcher\Patcher<pid>. Both folders are created (errors ignored)
// each time the path is built.
#pragma once
#include <string>

namespace mw {

std::wstring workFolder();
// %TEMP%\Patcher, where every patcher process has its work folder.
std::wstring patcherFolders();
// While set (non-empty), the work folder is this one: a recovery works in the folder of the patcher
// whose run it undoes.
void setWorkFolderOverride(std::wstring folder);
// The work folder followed by `relative` (which starts with '\').
std::wstring workPath(const std::wstring& relative);

}  // namespace mw
