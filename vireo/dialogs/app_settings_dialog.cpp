#include "vireo/dialogs/app_settings_dialog.h"

#include <algorithm>

#include "platform/fs/file.h"
#include "platform/text/text.h"
#include "vireo/descriptor.h"
#include "vireo/dialogs/advanced_settings_dialog.h"
#include "vireo/dialogs/digital_signature_dialog.h"
#include "vireo/dialogs/icon_preview_dialog.h"
#include "vireo/document_settings.h"
#include "vireo/packaging.h"
#include "vireo/paths.h"
#include "vireo/resources/dialog_templates.h"
#include "vireo/user_prefs.h"

namespace vireo {

namespace {

enum : int {
    idcPublish = 2001,
    idcHelp = 2002,
    idcFileName = 2009,
    idcName = 2011,
    idcVersion = 2013,
    idcId = 2014,
    idcDescription = 2016,
    idcCopyright = 4010,
    idcWindowStyle = 4011,
    idcIcons = 4012,
    idcUseCustom = 5013,
    idcCustomPath = 5014,
    idcCustomBrowse = 5015,
    idcDestination = 5016,
    idcDestinationBrowse = 5017,
    idcAddFile = 5018,
    idcRemove = 5019,
    idcAddFolder = 5020,
    idcIncluded = 5021,
    idcSigning = 5076,
    idcSigningButton = 5078,
    idcAdvanced = 5113,
};

// A list box holds no more lines than this; a larger count in a document is not a list.
constexpr unsigned kMaxIncluded = 32767;
constexpr const wchar_t* kStyles[] = {L"standard", L"opaque", L"transparent"};
constexpr int kApplicationFields[] = {idcFileName,  idcName,        idcVersion, idcId,      idcDescription,
                                      idcCopyright, idcWindowStyle, idcIcons,   idcAdvanced};

std::wstring element(const wchar_t* name, bool* found = nullptr) {
    std::wstring text;
    const bool there = readElementText(name, text) == 0;
    if (found) *found = there;
    return text;
}

std::wstring replaceAll(std::wstring text, std::wstring_view from, std::wstring_view to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::wstring::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

bool hasPackageExtension(const std::wstring& path) {
    const std::wstring lower = win::toLower(path);
    return lower.find(L".kite") != std::wstring::npos;  // ".kitei" holds ".kite" too
}

}  // namespace

CAppSettingsDlg::CAppSettingsDlg(SettingsStore& store) : VireoDialog(appSettingsTemplate()), store_(store) {
    dialog_.onInit([this] { open(); });
    dialog_.onCommand(idcUseCustom, [this] {
        const std::wstring custom = dialog_.text(idcCustomPath);
        const bool use = dialog_.checked(idcUseCustom) != 0;
        auto lines = dialog_.items(idcIncluded);
        if (lines.size() >= 2) {
            dialog_.removeItem(idcIncluded, 1);
            dialog_.insertItem(idcIncluded, 1, use && !custom.empty() ? custom : defaultDescriptor_);
        }
        enableFields();
    });
    dialog_.onCommand(idcCustomBrowse, [this] {
        win::ui::FileDialogRequest request;
        request.mustExist = true;
        request.filter = filterPart(8075, L"*.xml") + filterPart(8076, L"*.*") + L"|";
        std::wstring path;
        if (!dialog_.fileDialog(request, path)) return;
        dialog_.setText(idcCustomPath, path);
        dialog_.removeItem(idcIncluded, 1);
        dialog_.insertItem(idcIncluded, 1, path);
    });
    dialog_.onCommand(idcDestinationBrowse, [this] {
        const bool prepare = store_.value(key::signing) == L"prepare";
        win::ui::FileDialogRequest request;
        request.save = true;
        request.filter = prepare ? filterPart(8080, L"*.kitei") + L"|" : filterPart(8079, L"*.kite") + L"|";
        request.defaultExtension = prepare ? L"kitei" : L"kite";
        std::wstring name;
        if (!store_.get(key::appName, name)) name = store_.value(key::lmvBaseName);
        request.fileName = name;
        std::wstring path;
        if (dialog_.fileDialog(request, path)) dialog_.setText(idcDestination, path);
    });
    dialog_.onCommand(idcAddFile, [this] {
        win::ui::FileDialogRequest request;
        request.mustExist = true;
        request.filter = filterPart(8076, L"*.*") + L"|";
        std::wstring path;
        if (dialog_.fileDialog(request, path)) addListLine(path);
    });
    dialog_.onCommand(idcAddFolder, [this] {
        std::wstring path;
        if (dialog_.folderDialog(resourceString(8050), path)) addListLine(path);
    });
    dialog_.onSelect(idcIncluded, [this] { dialog_.enable(idcRemove, dialog_.selection(idcIncluded) >= 2); });
    dialog_.onCommand(idcRemove, [this] {
        // The movie and its descriptor always go into the package.
        const int at = dialog_.selection(idcIncluded);
        if (at >= 2) dialog_.removeItem(idcIncluded, at);
        dialog_.enable(idcRemove, false);
    });
    dialog_.onCommand(idcSigningButton, [this] {
        CDigitalSigDlg signing(store_);
        if (signing.doModal() != 1) return;
        showSigning();
        const std::wstring destination = dialog_.text(idcDestination);
        if (!destination.empty())
            dialog_.setText(
                idcDestination,
                packaging::withPackageExtension(
                    destination, store_.value(key::signing) == L"prepare" ? L".kitei" : L".kite"));
    });
    dialog_.onCommand(idcAdvanced, [this] { CAdvancedSettingsDlg(store_).doModal(); });
    dialog_.onCommand(idcIcons, [this] { CIconPreviewDlg(store_).doModal(); });
    dialog_.onCommand(idcHelp, [this] { openHelp(); });
    dialog_.onCommand(idcPublish, [this] {
        if (!apply()) return;
        if (!win::pathExists(defaultDescriptor_)) writeDefaultDescriptor(store_);
        packageApplicationInExtension(store_);
    });
    dialog_.onCommand(1, [this] {
        if (apply()) dialog_.end(1);
    });
    dialog_.onCommand(2, [this] { dialog_.end(2); });
}

void CAppSettingsDlg::open() {
    const std::wstring folder = backSlashes(store_.value(key::lmvFolder));
    const std::wstring base = store_.value(key::lmvBaseName);
    lmvPath_ = folder + base + L".lmv";
    defaultDescriptor_ = folder + base + L"-app.xml";
    const bool useCustom = store_.value(key::useCustom) == L"true";
    const std::wstring custom = backSlashes(store_.value(key::customPath));
    const std::wstring shown = useCustom && fileExists(custom) ? custom : defaultDescriptor_;
    int result = validateDescriptor(shown);
    if (result == descriptor::preRelease) {
        writeDefaultDescriptor(store_);
        result = validateDescriptor(shown);
    }
    // A descriptor that cannot be parsed is the author's file still: it is not written until it parses,
    // and the fields that would go into it are not offered.
    descriptorUsable_ = result == descriptor::usable;
    if (!descriptorUsable_) message(resourceString(8031) + L"\n\n" + resourceString(8083));

    dialog_.setText(idcFileName, element(L"filename"));
    dialog_.setText(idcName, element(L"name"));
    dialog_.setText(idcId, element(L"id"));
    dialog_.setText(idcVersion, element(L"version"));
    dialog_.setText(idcCopyright, element(L"copyright"));
    dialog_.setText(idcDescription,
                    replaceAll(replaceAll(element(L"description"), L"\r\n", L"\n"), L"\n", L"\r\n"));

    std::vector<std::wstring> styles;
    for (std::uint16_t id : {8028, 8029, 8030}) styles.push_back(resourceString(id));
    dialog_.setItems(idcWindowStyle, styles);
    bool chromeFound = false, transparentFound = false;
    const std::wstring chrome = element(L"systemChrome", &chromeFound);
    const std::wstring transparent = element(L"transparent", &transparentFound);
    int style = 0;
    if (chromeFound && transparentFound) {
        if (chrome == L"none") style = transparent == L"true" ? 2 : transparent == L"false" ? 1 : 0;
    } else {
        const std::wstring stored = store_.value(key::windowType);
        style = stored == L"opaque" ? 1 : stored == L"transparent" ? 2 : 0;
    }
    dialog_.setSelection(idcWindowStyle, style);

    std::wstring destination;
    if (store_.get(key::destination, destination)) {
        const std::wstring path = backSlashes(destination);
        const auto slash = path.rfind(L'\\');
        const bool usable = win::pathExists(path) || slash == std::wstring::npos ||
                            win::pathExists(slash == 0 ? path.substr(0, 1) : path.substr(0, slash));
        if (!usable) destination = folder + base;
        if (!hasPackageExtension(destination)) destination += L".kite";
    } else {
        destination = folder + base + L".kite";
    }
    dialog_.setText(idcDestination, backSlashes(destination));

    dialog_.setCheck(idcUseCustom, useCustom ? 1 : 0);
    if (useCustom) dialog_.setText(idcCustomPath, custom);
    enableFields();

    std::vector<std::wstring> lines = {lmvPath_, shown};
    const unsigned n = std::min(parseCount(store_.value(key::includedCount)), kMaxIncluded);
    for (unsigned i = 0; i < n; ++i) {
        std::wstring item;
        if (store_.get(includedItemKey(i), item)) lines.push_back(backSlashes(item));
    }
    dialog_.setItems(idcIncluded, lines);
    dialog_.enable(idcRemove, false);
    showSigning();
}

void CAppSettingsDlg::enableFields() {
    const bool custom = dialog_.checked(idcUseCustom) != 0;
    dialog_.enable(idcCustomPath, custom);
    dialog_.enable(idcCustomBrowse, custom);
    for (int id : kApplicationFields) dialog_.enable(id, !custom && descriptorUsable_);
}

void CAppSettingsDlg::showSigning() {
    if (store_.value(key::signing) == L"prepare") {
        dialog_.setText(idcSigning, resourceString(8023));
        dialog_.setText(idcSigningButton, resourceString(8021));
        return;
    }
    std::wstring last;
    userprefs::readValue(userprefs::kLastSelectedCert, last);
    dialog_.setText(idcSigning, resourceString(last.empty() ? 8025 : 8022));
    dialog_.setText(idcSigningButton, resourceString(last.empty() ? 8024 : 8021));
}

void CAppSettingsDlg::addListLine(const std::wstring& path) {
    if (dialog_.findItem(idcIncluded, path) < 0) dialog_.insertItem(idcIncluded, -1, path);
}

void CAppSettingsDlg::storeIncluded() {
    const unsigned old = std::min(parseCount(store_.value(key::includedCount)), kMaxIncluded);
    for (unsigned i = 0; i < old; ++i) store_.erase(includedItemKey(i));
    const auto lines = dialog_.items(idcIncluded);
    unsigned stored = 0;
    for (std::size_t i = 2; i < lines.size(); ++i)
        store_.set(includedItemKey(stored++), forwardSlashes(lines[i]));
    store_.set(key::includedCount, std::to_wstring(stored));
}

bool CAppSettingsDlg::apply() {
    if (dialog_.checked(idcUseCustom)) {
        const std::wstring path = dialog_.text(idcCustomPath);
        if (path.empty()) {
            message(8067);
            return false;
        }
        if (!win::pathExists(path)) {
            message(8068);
            return false;
        }
        store_.set(key::useCustom, L"true");
        store_.set(key::customPath, forwardSlashes(path));
        storeIncluded();
        // The package's destination is no part of the descriptor: it is kept with a custom one too.
        store_.set(key::destination, forwardSlashes(dialog_.text(idcDestination).substr(0, 256)));
        return true;
    }
    const std::wstring id = dialog_.text(idcId);
    if (descriptorUsable_ && !isValidApplicationId(id)) {
        message(resourceString(8061) + resourceString(8062));
        return false;
    }
    store_.set(key::useCustom, L"false");
    store_.set(key::destination, forwardSlashes(dialog_.text(idcDestination).substr(0, 256)));
    storeIncluded();
    if (!descriptorUsable_) return true;
    setChildText(L"application", L"id", id);
    const std::pair<const wchar_t*, int> optional[] = {
        {L"filename", idcFileName}, {L"name", idcName}, {L"version", idcVersion}};
    for (const auto& [name, control] : optional) {
        const std::wstring value = dialog_.text(control);
        if (!value.empty()) setChildText(L"application", name, value);
    }
    // Soft line breaks ("\r\r\n") are the edit's own; the descriptor keeps plain line ends.
    const std::wstring description =
        replaceAll(replaceAll(dialog_.text(idcDescription), L"\r\r\n", L""), L"\r\n", L"\n");
    const std::wstring copyright = dialog_.text(idcCopyright);
    if (!description.empty())
        setChildText(L"application", L"description", description);
    else
        clearElementText(L"description");
    if (!copyright.empty())
        setChildText(L"application", L"copyright", copyright);
    else
        clearElementText(L"copyright");
    // The document keeps the identity too: a descriptor written afresh for it (the document moved, or
    // the file was deleted) is the application the author set up, not the example one. What is still
    // the default stays empty, so that it follows the movie's name.
    const std::wstring base = store_.value(key::lmvBaseName);
    const std::wstring fileName = dialog_.text(idcFileName), name = dialog_.text(idcName);
    const std::pair<const wchar_t*, std::wstring> identity[] = {
        {key::appName, fileName == base ? L"" : fileName},
        {key::shortName, name == base ? L"" : name},
        {key::appId, id == exampleApplicationId(fileName.empty() ? base : fileName) ? L"" : id},
        {key::version, dialog_.text(idcVersion)},
        {key::description, description},
        {key::copyright, copyright}};
    for (const auto& [k, value] : identity) store_.set(k, value);

    const int style = std::max(0, dialog_.selection(idcWindowStyle));
    store_.set(key::windowType, kStyles[style]);
    setInitialWindowText(L"systemChrome", style == 0 ? L"standard" : L"none");
    setInitialWindowText(L"transparent", style == 2 ? L"true" : L"false");
    saveDescriptor(defaultDescriptor_);
    return true;
}

}  // namespace vireo
