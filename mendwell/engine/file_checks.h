// What the file operations ask the versioners and the checksum code, in one place.
#pragma once
#include <string>

namespace mw {

// MD5 text of a file (32 lower-case hex digits); empty when it cannot be read.
std::wstring fileMd5Text(const std::wstring& path);
// True when a versioner gave the file a version; `kind` is its kind number.
bool fileVersionKind(const std::wstring& path, int& kind);
// compareVersions(first, second): 1 first older, 0 equal or unknown, -1 first newer. `firstKind` gets the
// first file's kind. False when the comparison failed.
bool compareFileVersions(const std::wstring& first, const std::wstring& second, int& answer, int& firstKind);

}  // namespace mw
