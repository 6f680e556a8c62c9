// The discretionary access list of a file (SetNamedSecurityInfoW with only the DACL part). The machine
// does not enforce access lists; it records what a program set so that it can be inspected.
#pragma once
#include <string_view>

#include "platform/win.h"

namespace win {

enum class FileDacl {
    inherited,  // the list the file got from its folder (nothing was set)
    null,       // no list at all: every account has full access
};

// SetNamedSecurityInfoW(path, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, 0, 0, NULL, 0): returns the
// Win32 error itself (0 on success), as that call does; 2 or 3 when the file is missing.
DWORD setNullDacl(std::wstring_view path);

// The list a file carries; false with 2 or 3 when it is missing. A file replaced in place (opened with
// truncation) keeps its list, as on Windows; a deleted and re-created one does not.
bool getFileDacl(std::wstring_view path, FileDacl& dacl);

}  // namespace win
