// Packaging as the extension runs it: the library's settings store, strings, message boxes, descriptor
// operations and CreateWinProcess.
#include <vector>

#include "platform/ui/messagebox.h"
#include "vireo/create_win_process.h"
#include "vireo/descriptor.h"
#include "vireo/extension_dialogs.h"
#include "vireo/packaging.h"
#include "vireo/string_table.h"

namespace vireo {

namespace {

class ExtensionPackagingHost : public PackagingHost {
  public:
    explicit ExtensionPackagingHost(SettingsStore& store) : store_(store) {}

    std::wstring setting(const std::wstring& key) override { return store_.value(key); }
    void setSetting(const std::wstring& key, const std::wstring& value) override { store_.set(key, value); }
    void eraseSetting(const std::wstring& key) override { store_.erase(key); }
    std::wstring string(int id) override {
        const std::wstring text = loadString(static_cast<std::uint16_t>(id));
        return text.empty() ? packagingString(id) : text;
    }
    int messageBox(const std::wstring& text, unsigned flags) override {
        return win::messageBox(text, L"Orvex Lumen TX4", flags);
    }
    bool digitalSignatureDialog() override { return runDigitalSignatureDialog(store_); }
    int timestampRetryDialog() override { return runTimestampRetryDialog(); }
    int defaultDescriptorCheck() override { return checkDefaultDescriptor(store_); }
    int customDescriptorCheck() override { return checkCustomDescriptor(store_); }
    // As the text it is: a name outside the ANSI code page is still the application's name.
    bool descriptorName(std::wstring& name) override { return readElementText(L"name", name) == 0; }
    void updateDescriptorIcons() override { updateApplicationIcons(store_); }
    std::vector<std::wstring> descriptorIcons() override {
        std::vector<std::wstring> icons;
        collectIcons(icons);
        return icons;
    }
    int runCaptured(const std::wstring& commandLine, std::string& output, std::size_t limit) override {
        std::vector<char> buffer(limit, '\0');
        const int code = CreateWinProcess(commandLine.c_str(), true, buffer.data(), buffer.size());
        output.assign(buffer.data());
        return code;
    }

  private:
    SettingsStore& store_;
};

}  // namespace

int packageApplicationInExtension(SettingsStore& store) {
    ExtensionPackagingHost host(store);
    return packageApplication(host);
}

int createSelfSignedCertificateInExtension(SettingsStore& store, const std::wstring& arguments,
                                           const std::wstring& file) {
    ExtensionPackagingHost host(store);
    return createSelfSignedCertificate(host, arguments, file);
}

bool packageApplication(SettingsStore& store) {
    return packageApplicationInExtension(store) == 1;
}

}  // namespace vireo
