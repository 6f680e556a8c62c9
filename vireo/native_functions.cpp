#include "vireo/native_functions.h"

#include "platform/ui/messagebox.h"
#include "vireo/create_win_process.h"
#include "vireo/descriptor.h"
#include "vireo/document_link.h"
#include "vireo/document_settings.h"
#include "vireo/extension_dialogs.h"
#include "vireo/paths.h"
#include "vireo/script_text.h"
#include "vireo/settings_store.h"
#include "vireo/string_table.h"
#include "vireo/user_prefs.h"

namespace vireo {

namespace {

constexpr std::size_t kMaxUriChars = 260;

std::wstring argumentText(void* context, unsigned argc, LumenValue* argv, unsigned index) {
    std::wstring text;
    if (argv && index < argc) hostEnvironment().valueToText(context, argv[index], text);
    return text;
}

std::wstring hostFolder(SettingsStore& store) {
    findHostFolder(store);
    return store.value(key::hostFolder);
}

// Fresh settings from the document, with the movie that was just published.
void reloadFor(ScriptDocument& document, SettingsStore& store, const std::wstring& folder,
               const std::wstring& base) {
    const std::wstring host = hostFolder(store);
    resetSettings();
    loadDocumentSettings(document, store);
    store.set(key::hostFolder, host);
    store.set(key::lmvFolder, folder);
    store.set(key::lmvBaseName, base);
}

// Before the settings dialog and packaging: a moved document is published again (and its package name
// follows it); otherwise the settings are reloaded.
void settingsPrologue(ScriptDocument& document, SettingsStore& store) {
    if (documentMoved(document)) {
        document.publish();
        store.erase(key::destination);
        document.erase(key::destination);
    } else {
        resetSettings();
        loadDocumentSettings(document, store);
        findHostFolder(store);
    }
}

}  // namespace

void registerNativeFunctions(const HostEnvironment& host) {
    struct Function {
        const wchar_t* name;
        LumenNativeFunction function;
        unsigned argc;
    };
    static constexpr Function kFunctions[] = {{L"Publish", Publish, 2},
                                              {L"TestMovie", TestMovie, 1},
                                              {L"DebugMovie", DebugMovie, 0},
                                              {L"OpenSettingDialog", OpenSettingDialog, 0},
                                              {L"PackageKITEFile", PackageKITEFile, 1},
                                              {L"PackageAlert", PackageAlert, 1},
                                              {L"OpenInfoDialog", OpenInfoDialog, 0}};
    for (const auto& f : kFunctions)
        if (!host.registerFunction(f.name, f.function, f.argc)) return;
}

int Publish(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue*) {
    const std::wstring first = uriToPath(argumentText(context, argc, argv, 0).c_str());
    const std::wstring movie = uriToPath(argumentText(context, argc, argv, 1).c_str());
    const std::wstring base = baseName(movie);
    const std::wstring folder = forwardSlashes(folderOf(movie));
    ScriptDocument document(hostEnvironment(), context, object);
    if (!customDescriptorPath(document).empty()) return 1;
    SettingsStore& store = settingsStore();
    reloadFor(document, store, folder, base);
    if (!fileExists(folder + base + L"-app.xml") || first.empty()) {
        if (!writeDefaultDescriptor(store)) return 0;
    }
    return 1;
}

int TestMovie(void* context, void* object, unsigned argc, LumenValue* argv, LumenValue*) {
    const std::wstring uri = argumentText(context, argc, argv, 0);
    if (uri.size() > kMaxUriChars) return 0;
    const std::wstring movie = uriToPath(uri.c_str());
    const std::wstring base = baseName(movie);
    const std::wstring folder = forwardSlashes(folderOf(movie));
    ScriptDocument document(hostEnvironment(), context, object);
    document.run(script::ensureKitePublishProfile());
    SettingsStore& store = settingsStore();
    const std::wstring defaultDescriptor = folder + base + L"-app.xml";
    if (base.find(L"_Scene ") != std::wstring::npos || !fileExists(defaultDescriptor)) {
        reloadFor(document, store, folder, base);
        writeDefaultDescriptor(store);
    }
    std::wstring host;
    // A library loaded just now has no host folder yet; the launcher lies in it.
    if (!store.get(key::hostFolder, host)) host = hostFolder(store);
    const std::wstring custom = customDescriptorPath(document);
    const std::wstring command =
        L"\"" + host + L"KIK/bin/kdl.exe\" \"" + (custom.empty() ? defaultDescriptor : custom) + L"\"";
    CreateWinProcess(command.c_str(), false, nullptr, 0);
    return 0;
}

int DebugMovie(void* context, void* object, unsigned, LumenValue*, LumenValue*) {
    ScriptDocument document(hostEnvironment(), context, object);
    document.run(script::ensureKitePublishProfile());
    SettingsStore& store = settingsStore();
    if (documentMoved(document) || !descriptorExists(document, store)) document.publish();
    std::wstring host;
    if (!store.get(key::hostFolder, host)) host = hostFolder(store);
    std::wstring descriptor = customDescriptorPath(document);
    if (descriptor.empty()) descriptor = defaultDescriptorPath(store);
    return document.run(script::launchDebugSession(host, descriptor)) == LUMEN_INT_VALUE(0) ? 1 : 0;
}

int OpenSettingDialog(void* context, void* object, unsigned, LumenValue*, LumenValue*) {
    ScriptDocument document(hostEnvironment(), context, object);
    SettingsStore& store = settingsStore();
    settingsPrologue(document, store);
    runSettingsDialog(store);
    saveDocumentSettings(document, store);
    return 1;
}

int PackageKITEFile(void* context, void* object, unsigned, LumenValue*, LumenValue*) {
    ScriptDocument document(hostEnvironment(), context, object);
    SettingsStore& store = settingsStore();
    settingsPrologue(document, store);
    // Packaging that stops early has shown why; the tool's script has nothing to add.
    packageApplication(store);
    saveDocumentSettings(document, store);
    return 1;
}

int PackageAlert(void*, void*, unsigned, LumenValue*, LumenValue* result) {
    const int answer =
        win::messageBox(loadString(8000), L"Orvex Lumen TX4", win::mb::okCancel | win::mb::iconWarning);
    if (result) *result = answer == win::idbutton::ok ? LUMEN_INT_VALUE(1) : LUMEN_INT_VALUE(0);
    return 1;
}

int OpenInfoDialog(void*, void*, unsigned, LumenValue*, LumenValue*) {
    std::wstring dontShow;
    userprefs::readValue(userprefs::kDontShowMe, dontShow);
    if (dontShow != L"1") runInfoDialog();
    return 1;
}

}  // namespace vireo
