// Paths from the authoring tool's file URIs, a movie's base name and folder, and the tool's program folder.
#pragma once
#include <string>
#include <string_view>

#include "vireo/settings_store.h"

namespace vireo {

// file:///C|/My%20Movies/a.lmv -> C:\My Movies\a.lmv. A missing URI counts as empty.
std::wstring uriToPath(const wchar_t* uri);
// Text after the last "\" up to the last "."; the whole path when either is missing or the name
// would be empty.
std::wstring baseName(std::wstring_view path);
// Text up to and including the last "\"; the whole path when there is none.
std::wstring folderOf(std::wstring_view path);
std::wstring forwardSlashes(std::wstring_view path);
std::wstring backSlashes(std::wstring_view path);
// An existing file (not a folder).
bool fileExists(std::wstring_view path);
// Stores the tool's program folder ("/" separators, trailing "/") as "lumen.tx4.path".
void findHostFolder(SettingsStore& store);

}  // namespace vireo
