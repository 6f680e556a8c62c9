#include "vireo/user_prefs.h"

#include <set>

#include "platform/registry/registry.h"
#include "platform/text/format.h"

namespace vireo::userprefs {

namespace {

constexpr std::size_t kValueBufferBytes = 1024;

// Opened with create-if-missing on every use.
bool openKey(win::RegKey& key, std::wstring_view subKey = {}) {
    std::wstring path = kKey;
    if (!subKey.empty()) path += L"\\" + std::wstring(subKey);
    return key.create(win::RegRoot::currentUser, path) == 0;
}

}  // namespace

void readValue(std::wstring_view name, std::wstring& value) {
    win::RegKey key;
    if (!openKey(key)) return;
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    // A value that does not fit the buffer fails to read, as it would on Windows.
    if (key.queryValue(name, type, data) != 0 || data.size() > kValueBufferBytes) return;
    value = win::regDataString(data);
}

void writeValue(std::wstring_view name, std::wstring_view value) {
    win::RegKey key;
    if (openKey(key)) key.setString(name, value);
}

void readList(std::wstring_view list, std::vector<std::wstring>& values) {
    win::RegKey key;
    if (!openKey(key, list)) return;
    for (win::DWORD index = 0;; ++index) {
        std::wstring name;
        win::DWORD type = 0;
        std::vector<std::uint8_t> data;
        // Read whole: a value cut to a fixed buffer would fail and end the list there, hiding every
        // later entry behind one long path.
        if (key.enumValue(index, name, type, data) != 0) break;
        values.push_back(win::regDataString(data));
    }
}

void writeList(std::wstring_view list, const std::vector<std::wstring>& entries, int maximum) {
    std::vector<std::wstring> found;
    readList(list, found);
    const std::set<std::wstring> stored(found.begin(), found.end());
    win::RegKey key;
    if (!openKey(key, list)) return;
    int written = 0;
    int storedCount = static_cast<int>(found.size());
    // At most maximum + 1 of the new entries are looked at.
    for (std::size_t i = 0; i < entries.size() && i <= static_cast<std::size_t>(maximum); ++i) {
        if (stored.count(entries[i])) continue;
        const int number = storedCount < maximum ? storedCount + 1 : written + 1;
        key.setString(win::format(L"file%d", number), entries[i]);
        ++written;
        ++storedCount;
    }
}

}  // namespace vireo::userprefs
