#include "vireo/settings_store.h"

#include <array>
#include <utility>

namespace vireo {

std::wstring includedItemKey(unsigned index) {
    return key::includedItem + std::to_wstring(index);
}

void SettingsStore::set(std::wstring_view key, std::wstring_view value) {
    auto it = values_.find(key);
    if (it == values_.end())
        values_.emplace(std::wstring(key), std::wstring(value));
    else
        it->second.assign(value);
}

bool SettingsStore::get(std::wstring_view key, std::wstring& value) {
    auto it = values_.find(key);
    if (it == values_.end()) it = values_.emplace(std::wstring(key), std::wstring()).first;
    value = it->second;
    return !value.empty();
}

std::wstring SettingsStore::value(std::wstring_view key) {
    std::wstring v;
    get(key, v);
    return v;
}

void SettingsStore::erase(std::wstring_view key) {
    auto it = values_.find(key);
    if (it != values_.end()) values_.erase(it);
}

void SettingsStore::reset() {
    static constexpr std::array<const wchar_t*, 3> kMemoryOnly = {key::rememberPassword, key::certPassword,
                                                                  key::timestamp};
    std::array<std::wstring, 3> kept;
    for (std::size_t i = 0; i < kMemoryOnly.size(); ++i) kept[i] = value(kMemoryOnly[i]);
    values_.clear();
    for (std::size_t i = 0; i < kMemoryOnly.size(); ++i) set(kMemoryOnly[i], kept[i]);
}

SettingsStore& settingsStore() {
    static SettingsStore store;
    return store;
}

void resetSettings() {
    settingsStore().reset();
}

}  // namespace vireo
