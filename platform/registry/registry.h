// The registry of the machine, kept in the machine's store (SQLite). Results are Win32 error numbers,
// returned directly as the Reg* functions do (0 success, 2 missing, 5 denied, 259 no more items).
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win.h"

namespace win {

enum class RegRoot { classesRoot, currentUser, localMachine, users, currentConfig };

namespace regtype {
constexpr DWORD none = 0;
constexpr DWORD sz = 1;
constexpr DWORD expandSz = 2;
constexpr DWORD binary = 3;
constexpr DWORD dword = 4;
constexpr DWORD dwordBigEndian = 5;
constexpr DWORD link = 6;
constexpr DWORD multiSz = 7;
constexpr DWORD qword = 11;
}  // namespace regtype

// "HKLM", "HKEY_LOCAL_MACHINE", "HKCR", "HKCU", "HKU", "HKUSERS", "HKEY_USERS", "HKCC", ... (any case).
bool parseRegRoot(std::wstring_view name, RegRoot& root);
std::wstring regRootName(RegRoot root);  // "HKEY_LOCAL_MACHINE", ...

// An open key (HKEY). Subkey paths use '\'; a trailing '\' is ignored; a leading one fails
// with 161, as on Windows.
class RegKey {
  public:
    RegKey();
    ~RegKey();
    RegKey(RegKey&& other) noexcept;
    RegKey& operator=(RegKey&& other) noexcept;
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    LONG open(RegRoot root, std::wstring_view subKey);
    LONG open(const RegKey& parent, std::wstring_view subKey);
    // Creates missing keys along the path; `created` tells whether the last one was new.
    LONG create(RegRoot root, std::wstring_view subKey, bool* created = nullptr);
    LONG create(const RegKey& parent, std::wstring_view subKey, bool* created = nullptr);
    bool isOpen() const;
    void close();
    // Full name, e.g. "HKEY_LOCAL_MACHINE\Software\X" (after alias resolution).
    std::wstring name() const;

    LONG setValue(std::wstring_view valueName, DWORD type, std::span<const std::uint8_t> data);
    // 2 when the value is missing. An empty name is the key's default value.
    LONG queryValue(std::wstring_view valueName, DWORD& type, std::vector<std::uint8_t>& data) const;
    LONG deleteValue(std::wstring_view valueName);
    // RegDeleteKeyW: 5 when the key has subkeys, 2 when missing.
    LONG deleteKey(std::wstring_view subKey);
    // RegDeleteTreeW (SHDeleteKeyW): the key and everything below; 2 when missing.
    LONG deleteTree(std::wstring_view subKey);
    // Enumeration in name order; 259 past the end.
    LONG enumKey(DWORD index, std::wstring& name) const;
    LONG enumValue(DWORD index, std::wstring& name, DWORD& type, std::vector<std::uint8_t>& data) const;
    // RegQueryInfoKeyW: the number of subkeys and of values.
    LONG queryInfo(DWORD& subKeys, DWORD& values) const;

    // Conveniences on the calls above: REG_SZ / REG_EXPAND_SZ as UTF-16LE with its terminator.
    LONG setString(std::wstring_view valueName, std::wstring_view text, DWORD type = regtype::sz);
    LONG setDword(std::wstring_view valueName, DWORD value);
    LONG queryString(std::wstring_view valueName, std::wstring& text) const;  // 13 when not a string type
    LONG queryDword(std::wstring_view valueName, DWORD& value) const;         // 13 when not a dword

  private:
    struct State;
    std::unique_ptr<State> state_;
};

// Test control: a denied key answers 5 to open, create below it, set, delete and delete tree.
LONG setRegKeyDenied(RegRoot root, std::wstring_view subKey, bool denied);

// String data helpers: UTF-16LE bytes with a terminating zero; a multi-string ends with two zeros.
std::vector<std::uint8_t> regStringData(std::wstring_view text);
std::vector<std::uint8_t> regMultiStringData(const std::vector<std::wstring>& items);
std::wstring regDataString(std::span<const std::uint8_t> data);  // up to the first zero
std::vector<std::wstring> regDataMultiString(std::span<const std::uint8_t> data);

}  // namespace win
