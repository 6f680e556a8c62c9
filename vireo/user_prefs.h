// Per-user values of the extension under HKEY_CURRENT_USER "Software\Orvex\Lumen 9\KITE Settings".
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace vireo::userprefs {

inline constexpr wchar_t kKey[] = L"Software\\Orvex\\Lumen 9\\KITE Settings";
inline constexpr wchar_t kDontShowMe[] = L"dontshowme";
inline constexpr wchar_t kLastSelectedCert[] = L"Last Selected Cert";
inline constexpr wchar_t kCertPathList[] = L"CertPath";
inline constexpr int kCertPathMaximum = 10;

// A failed read leaves `value` unchanged; writes report nothing.
void readValue(std::wstring_view name, std::wstring& value);
void writeValue(std::wstring_view name, std::wstring_view value);
// Appends the list's values in index order, each whole, up to the first one that cannot be read.
void readList(std::wstring_view list, std::vector<std::wstring>& values);
// Writes the entries not stored yet as "file%d" values: new names while fewer than `maximum` are stored,
// then from file1 on, over the oldest names.
void writeList(std::wstring_view list, const std::vector<std::wstring>& entries, int maximum);

}  // namespace vireo::userprefs
