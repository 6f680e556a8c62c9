// Updates of the descriptor from the stored icons (packaging) and from the advanced settings dialog.
#include <algorithm>
#include <array>
#include <utility>

#include "platform/text/text.h"
#include "vireo/descriptor.h"
#include "vireo/descriptor_state.h"
#include "vireo/paths.h"

namespace vireo {

namespace {

bool isDigits(const std::wstring& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

std::wstring iconValue(const std::wstring& path, const std::wstring& lmvFolder) {
    const std::wstring p = win::toLower(forwardSlashes(path));
    const std::wstring folder = win::toLower(forwardSlashes(lmvFolder));
    std::wstring relative;
    if (p.find(folder) != std::wstring::npos && p.size() >= folder.size()) relative = p.substr(folder.size());
    if (!relative.empty()) return relative;
    const auto slash = path.find_last_of(L"\\/");
    return L"AppIconsForKITEPublish/" + (slash == std::wstring::npos ? path : path.substr(slash + 1));
}

void setOrRemove(std::wstring_view parent, std::wstring_view child, bool set, const std::wstring& value) {
    if (set)
        setChildText(parent, child, value);
    else
        removeChild(parent, child);
}

}  // namespace

int updateApplicationIcons(SettingsStore& store) {
    const int check = checkDefaultDescriptor(store);
    if (check != 0) return check;
    static constexpr std::array<std::pair<const wchar_t*, const wchar_t*>, 4> kIcons = {
        {{key::icon128, L"image128x128"},
         {key::icon48, L"image48x48"},
         {key::icon32, L"image32x32"},
         {key::icon16, L"image16x16"}}};
    const std::wstring folder = store.value(key::lmvFolder);
    for (const auto& [iconKey, tag] : kIcons) {
        std::wstring path;
        if (store.get(iconKey, path) && path != L"none" && fileExists(path))
            setChildText(L"icon", tag, iconValue(path, folder));
        else
            removeChild(L"icon", tag);
    }
    return saveDefaultDescriptor(store);
}

int updateAdvancedSettings(const AdvancedSettings& s) {
    bool hasParser = false;
    if (!currentDescriptor(&hasParser)) return hasParser ? 1 : -1;
    setOrRemove(L"application", L"installFolder", !s.installFolder.empty(), s.installFolder);
    setOrRemove(L"application", L"programMenuFolder", !s.programMenuFolder.empty(), s.programMenuFolder);
    const std::pair<const wchar_t*, const std::wstring*> numbers[] = {
        {L"width", &s.width}, {L"height", &s.height}, {L"x", &s.x}, {L"y", &s.y}};
    for (const auto& [name, field] : numbers) {
        const std::wstring value = trimmed(*field);
        setOrRemove(L"initialWindow", name, isDigits(value), value);
    }
    const std::pair<const wchar_t*, std::pair<const std::wstring*, const std::wstring*>> sizes[] = {
        {L"minSize", {&s.minWidth, &s.minHeight}}, {L"maxSize", {&s.maxWidth, &s.maxHeight}}};
    for (const auto& [name, pair] : sizes) {
        const std::wstring w = trimmed(*pair.first), h = trimmed(*pair.second);
        setOrRemove(L"initialWindow", name, isDigits(w) && isDigits(h), w + L" " + h);
    }
    const std::pair<const wchar_t*, bool> flags[] = {{L"maximizable", s.maximizable},
                                                     {L"minimizable", s.minimizable},
                                                     {L"resizable", s.resizable},
                                                     {L"visible", s.visible}};
    for (const auto& [name, on] : flags) setChildText(L"initialWindow", name, on ? L"true" : L"false");
    setChildText(L"application", L"customUpdateUI", s.customUpdateUI ? L"true" : L"false");
    return 0;
}

}  // namespace vireo
