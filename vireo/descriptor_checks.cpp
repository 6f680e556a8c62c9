// The checks packaging and the settings dialog make before they use a descriptor, and the stored
// icons written into the default descriptor for packaging.
#include <array>
#include <utility>

#include "platform/text/text.h"
#include "platform/ui/messagebox.h"
#include "vireo/descriptor.h"
#include "vireo/descriptor_state.h"
#include "vireo/document_settings.h"
#include "vireo/paths.h"
#include "vireo/string_table.h"

namespace vireo {

namespace {

// Validates; a pre-release namespace rewrites the default descriptor and validates once more. A final
// failure is shown once.
int checkAndRepair(SettingsStore& store, const std::wstring& path) {
    int result = validateDescriptor(path);
    if (result == descriptor::preRelease) {
        writeDefaultDescriptor(store);
        result = validateDescriptor(path);
    }
    if (result != descriptor::usable)
        win::messageBox(loadString(8031), L"Orvex Lumen TX4", win::mb::ok | win::mb::iconWarning);
    return result;
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

}  // namespace

int checkDefaultDescriptor(SettingsStore& store) {
    const std::wstring path = backSlashes(defaultDescriptorPath(store));
    if (lastParsedIs(path)) return descriptor::usable;
    return checkAndRepair(store, path);
}

int checkCustomDescriptor(SettingsStore& store) {
    if (store.value(key::useCustom) != L"true") return 1;
    std::wstring path;
    if (!store.get(key::customPath, path)) return 2;
    return checkAndRepair(store, path);
}

int saveDefaultDescriptor(SettingsStore& store) {
    return saveDescriptor(backSlashes(defaultDescriptorPath(store)));
}

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

}  // namespace vireo
