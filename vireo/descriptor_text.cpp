#include <algorithm>
#include <array>
#include <utility>

#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "vireo/descriptor.h"
#include "vireo/descriptor_state.h"
#include "vireo/document_settings.h"
#include "vireo/paths.h"

namespace vireo {

namespace {

// Settings are the author's free text: markup characters in them must not break the descriptor.
std::wstring escaped(std::wstring_view text) {
    std::wstring out;
    for (wchar_t c : xmlChars(text)) {
        if (c == L'&')
            out += L"&amp;";
        else if (c == L'<')
            out += L"&lt;";
        else if (c == L'>')
            out += L"&gt;";
        else
            out.push_back(c);
    }
    return out;
}

std::wstring element(std::wstring_view name, std::wstring_view text) {
    return L"<" + std::wstring(name) + L">" + std::wstring(text) + L"</" + std::wstring(name) + L">";
}

std::wstring applicationId(SettingsStore& store, const std::wstring& baseName) {
    std::wstring id;
    if (!store.get(key::appId, id)) {
        std::wstring name;
        if (!store.get(key::appName, name)) name = baseName;
        return exampleApplicationId(name);
    }
    std::replace_if(
        id.begin(), id.end(), [](wchar_t c) { return c == L'_' || c == L' '; }, L'-');
    return isValidApplicationId(id) ? id : L"com.orvex.example.changeme";
}

std::wstring fileNameOf(std::wstring_view path) {
    const auto slash = path.find_last_of(L"\\/");
    return std::wstring(slash == std::wstring_view::npos ? path : path.substr(slash + 1));
}

}  // namespace

bool isValidApplicationId(std::wstring_view id) {
    if (id.empty() || id.size() > 212) return false;
    return std::all_of(id.begin(), id.end(), [](wchar_t c) {
        return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
               c == L'.' || c == L'-';
    });
}

std::wstring exampleApplicationId(std::wstring_view fileName) {
    std::wstring id = L"com.orvex.example." + std::wstring(fileName);
    std::replace_if(
        id.begin(), id.end(), [](wchar_t c) { return c == L'_' || c == L' '; }, L'-');
    return isValidApplicationId(id) ? id : L"com.orvex.example.changeme";
}

std::wstring defaultDescriptorText(SettingsStore& store) {
    const std::wstring base = store.value(key::lmvBaseName);
    std::wstring version, fileName, name, windowType = store.value(key::windowType);
    if (!store.get(key::version, version)) version = L"1.0";
    if (!store.get(key::appName, fileName)) fileName = base;
    if (!store.get(key::shortName, name)) name = base;

    std::wstring content;
    for (wchar_t c : escaped(base)) content += c == L' ' ? std::wstring(L"&#37;20") : std::wstring(1, c);
    const bool custom = windowType == L"opaque" || windowType == L"transparent";

    std::wstring text = L"<?xml version =\"1.0\" encoding=\"utf-8\" ?>";
    text += L"<application xmlns=\"" + std::wstring(kDescriptorNamespace) + L"\">";
    text += element(L"id", applicationId(store, base));
    text += element(L"version", escaped(version));
    text += element(L"filename", escaped(fileName));
    text += element(L"description", escaped(store.value(key::description)));
    text += element(L"name", escaped(name));
    text += element(L"copyright", escaped(store.value(key::copyright)));
    text += L"<initialWindow>" + element(L"content", content + L".lmv");
    text += element(L"systemChrome", custom ? L"none" : L"standard");
    text += element(L"transparent", windowType == L"transparent" ? L"true" : L"false");
    text += element(L"visible", L"true") + L"</initialWindow>";
    std::wstring menu;
    if (store.get(key::programMenu, menu)) text += element(L"programMenuFolder", escaped(menu));
    text += L"<icon>";
    static constexpr std::array<std::pair<const wchar_t*, const wchar_t*>, 4> kIcons = {
        {{key::icon128, L"image128x128"},
         {key::icon48, L"image48x48"},
         {key::icon32, L"image32x32"},
         {key::icon16, L"image16x16"}}};
    for (const auto& [iconKey, tag] : kIcons) {
        std::wstring path;
        if (store.get(iconKey, path) && path != L"none" && fileExists(path))
            text += element(tag, L"/AppIconsForKITEPublish/" + escaped(fileNameOf(path)));
    }
    text += L"</icon>";
    text += L"<customUpdateUI>false</customUpdateUI><allowBrowserInvocation>false</allowBrowserInvocation>";
    text += L"</application>";
    return text;
}

bool writeDefaultDescriptor(SettingsStore& store) {
    const std::wstring path = defaultDescriptorPath(store);
    const std::string bytes = "\xEF\xBB\xBF" + win::toUtf8(defaultDescriptorText(store));
    win::File file;
    if (file.open(path, win::access::write, win::share::read, win::Disposition::createAlways))
        file.write(bytes.data(), bytes.size());
    // A parse remembered for this path no longer describes the file.
    forgetLastParsed();
    return true;
}

bool writeDefaultDescriptor() {
    return writeDefaultDescriptor(settingsStore());
}

}  // namespace vireo
