#include "vireo/document_settings.h"

#include <array>
#include <cwchar>

#include "vireo/descriptor.h"
#include "vireo/paths.h"

namespace vireo {

namespace {

// The keys kept in the document, in the order they are read and written (items apart).
constexpr std::array<const wchar_t*, 20> kDocumentKeys = {
    key::lmvFolder,  key::lmvBaseName, key::appName,       key::shortName,  key::appId,
    key::version,    key::description, key::copyright,     key::windowType, key::useCustom,
    key::customPath, key::destination, key::programMenu,   key::icon128,    key::icon48,
    key::icon32,     key::icon16,      key::includedCount, key::signing,    key::certPath};

void loadKey(DocumentLink& document, SettingsStore& store, std::wstring_view key) {
    const DocumentValue v = document.read(key);
    if (v.present && !v.text.empty() && v.text != L"0") store.set(key, v.text);
}

void saveKey(DocumentLink& document, SettingsStore& store, std::wstring_view key) {
    std::wstring value;
    // The tool keeps its document as XML as well.
    if (store.get(key, value))
        document.write(key, xmlChars(value));
    else
        document.erase(key);
}

bool missing(const DocumentValue& v) {
    return !v.present || v.text.empty() || v.isZero;
}

}  // namespace

unsigned parseCount(const std::wstring& text) {
    if (text.empty()) return 0;
    wchar_t* end = nullptr;
    const long long n = std::wcstoll(text.c_str(), &end, 10);
    if (n <= 0) return 0;
    return n > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<unsigned>(n);
}

void loadDocumentSettings(DocumentLink& document, SettingsStore& store) {
    for (const wchar_t* key : kDocumentKeys) loadKey(document, store, key);
    const unsigned count = parseCount(store.value(key::includedCount));
    for (unsigned i = 0; i < count; ++i) loadKey(document, store, includedItemKey(i));
}

void saveDocumentSettings(DocumentLink& document, SettingsStore& store) {
    for (const wchar_t* key : kDocumentKeys) saveKey(document, store, key);
    const DocumentValue old = document.read(key::includedCount);
    const unsigned oldCount = old.present ? parseCount(old.text) : 0;
    for (unsigned i = 0; i < oldCount; ++i) document.erase(includedItemKey(i));
    const unsigned count = parseCount(store.value(key::includedCount));
    for (unsigned i = 0; i < count; ++i) saveKey(document, store, includedItemKey(i));
}

bool documentMoved(DocumentLink& document) {
    const DocumentValue folder = document.read(key::lmvFolder);
    const DocumentValue base = document.read(key::lmvBaseName);
    if (missing(folder) || missing(base)) return true;
    const std::wstring expected = folder.text + base.text + L".lud";
    return forwardSlashes(document.path()) != expected;
}

std::wstring defaultDescriptorPath(SettingsStore& store) {
    return store.value(key::lmvFolder) + store.value(key::lmvBaseName) + L"-app.xml";
}

bool descriptorExists(DocumentLink& document, SettingsStore& store) {
    std::wstring folder, base;
    if (!store.get(key::lmvFolder, folder) || !store.get(key::lmvBaseName, base)) return false;
    const DocumentValue useCustom = document.read(key::useCustom);
    if (useCustom.present && useCustom.text == L"true") {
        const DocumentValue custom = document.read(key::customPath);
        if (custom.present && !custom.text.empty() && fileExists(custom.text)) return true;
    }
    return fileExists(folder + base + L"-app.xml");
}

std::wstring customDescriptorPath(DocumentLink& document) {
    const DocumentValue useCustom = document.read(key::useCustom);
    if (!useCustom.present || useCustom.text != L"true") return {};
    const DocumentValue custom = document.read(key::customPath);
    if (!custom.present || custom.text.empty() || custom.text == L"0") return {};
    return custom.text;
}

}  // namespace vireo
