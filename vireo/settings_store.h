// The process-wide per-document publishing settings: key to value, both texts. A missing key and an
// empty value are the same to every caller.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <string_view>

namespace vireo {

namespace key {
inline constexpr wchar_t lmvFolder[] = L"lmv.folder.path";
inline constexpr wchar_t lmvBaseName[] = L"lumen.lmv.basename";
inline constexpr wchar_t hostFolder[] = L"lumen.tx4.path";
inline constexpr wchar_t appName[] = L"com.kite.vesper.appname";
inline constexpr wchar_t shortName[] = L"com.kite.vesper.shortname";
inline constexpr wchar_t appId[] = L"com.kite.vesper.appid";
inline constexpr wchar_t version[] = L"com.kite.vesper.version";
inline constexpr wchar_t description[] = L"com.kite.vesper.description";
inline constexpr wchar_t copyright[] = L"com.kite.vesper.copyright";
inline constexpr wchar_t windowType[] = L"com.kite.vesper.wintype";
inline constexpr wchar_t useCustom[] = L"com.kite.vesper.usecust";
inline constexpr wchar_t customPath[] = L"com.kite.vesper.xmlpath";
inline constexpr wchar_t destination[] = L"com.kite.vesper.destination";
inline constexpr wchar_t programMenu[] = L"com.kite.vesper.prgmenu";
inline constexpr wchar_t icon128[] = L"com.kite.vesper.icon128path";
inline constexpr wchar_t icon48[] = L"com.kite.vesper.icon48path";
inline constexpr wchar_t icon32[] = L"com.kite.vesper.icon32path";
inline constexpr wchar_t icon16[] = L"com.kite.vesper.icon16path";
inline constexpr wchar_t includedCount[] = L"com.kite.vesper.included.count";
inline constexpr wchar_t includedItem[] = L"com.kite.vesper.included.item";  // followed by 0, 1, ...
inline constexpr wchar_t signing[] = L"com.kite.vesper.signing";
inline constexpr wchar_t certPath[] = L"com.kite.vesper.certpath";
inline constexpr wchar_t certPassword[] = L"com.kite.vesper.certpwd";
inline constexpr wchar_t rememberPassword[] = L"com.kite.vesper.rempwd";
inline constexpr wchar_t timestamp[] = L"com.kite.vesper.timestamp";
}  // namespace key

std::wstring includedItemKey(unsigned index);

class SettingsStore {
  public:
    void set(std::wstring_view key, std::wstring_view value);
    // Reading a key that is not there inserts it, empty. False when the value is empty.
    bool get(std::wstring_view key, std::wstring& value);
    std::wstring value(std::wstring_view key);
    void erase(std::wstring_view key);
    // Empties the store but keeps the memory-only keys (password, remember-password, timestamp), so they
    // last as long as the library stays loaded.
    void reset();
    std::size_t size() const { return values_.size(); }

  private:
    std::map<std::wstring, std::wstring, std::less<>> values_;
};

SettingsStore& settingsStore();
// resetSettings on the library's store.
void resetSettings();

}  // namespace vireo
