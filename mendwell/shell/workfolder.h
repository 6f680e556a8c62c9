// The per-process work folder: %TEMP%\Patcher\Patcher<pid>. Both folders are created (errors ignored)
// each time the path is built.
#pragma once
#include <string>

namespace mw {

std::wstring workFolder();
// The work folder followed by `relative` (which starts with '\').
std::wstring workPath(const std::wstring& relative);

}  // namespace mw
