#include "mendwell/engine/add_remove_entry.h"

#include <utility>

#include "mendwell/engine/registry_operation.h"
#include "mendwell/records/tally_session.h"
#include "platform/registry/registry.h"

namespace mw {

std::wstring addRemoveKeyPath(const PatcherConfigRecord& config) {
    std::wstring productCode;
    {
        TallySession session;
        for (const std::wstring& code : config.detectedProductCodes)
            productCode = session.queryProductCode(tallyId(code));
    }
    if (productCode.empty()) return {};
    return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + productCode;
}

bool updateAddRemoveEntry(const PatcherConfigRecord& config, const AddRemoveRecord& entry) {
    const std::wstring keyPath = addRemoveKeyPath(config);
    // Without a product code the path would name the Uninstall key itself, which is no product's entry.
    if (keyPath.empty()) return true;
    {
        win::RegKey key;
        if (key.open(win::RegRoot::localMachine, keyPath) != 0) return true;
    }
    const std::pair<const std::wstring*, const wchar_t*> values[] = {
        {&entry.displayName, L"DisplayName"}, {&entry.displayVersion, L"DisplayVersion"},
        {&entry.comment, L"Comments"},        {&entry.publisher, L"Publisher"},
        {&entry.supportURL, L"URLInfoAbout"}, {&entry.supportPhoneNumber, L"HelpTelephone"},
    };
    for (const auto& [text, valueName] : values) {
        if (text->empty()) continue;
        RegistryRecord record;
        record.operation = L"add";
        record.root = L"HKLM";
        record.keyPath = keyPath;
        record.keyName = valueName;
        record.value = *text;
        record.dataType = L"REG_SZ";
        makeRegistryOperation(record.operation)->execute(record);
    }
    return true;
}

}  // namespace mw
