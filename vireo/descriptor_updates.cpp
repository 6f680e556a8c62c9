// Updates of the descriptor from the advanced settings dialog.
#include <algorithm>
#include <utility>

#include "vireo/descriptor.h"
#include "vireo/descriptor_state.h"

namespace vireo {

namespace {

bool isDigits(const std::wstring& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

void setOrRemove(std::wstring_view parent, std::wstring_view child, bool set, const std::wstring& value) {
    if (set)
        setChildText(parent, child, value);
    else
        removeChild(parent, child);
}

}  // namespace

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
