// Registry entries of the manifest: create a key path and set one value ("add"), or delete a value and
// optionally a whole key tree ("remove"). One object serves one entry.
#pragma once
#include <memory>
#include <optional>
#include <string_view>

#include "mendwell/engine/manifest.h"
#include "platform/registry/registry.h"

namespace mw {

class cRegistryOperation {
  public:
    virtual ~cRegistryOperation() = default;
    virtual bool validate(const RegistryRecord& entry) = 0;
    virtual bool execute(const RegistryRecord& entry) = 0;
};

class cRegistryOperationAdd : public cRegistryOperation {
  public:
    bool validate(const RegistryRecord& entry) override;
    bool execute(const RegistryRecord& entry) override;
};

class cRegistryOperationRemove : public cRegistryOperation {
  public:
    bool validate(const RegistryRecord& entry) override { return true; }
    bool execute(const RegistryRecord& entry) override;
};

// The hive a manifest's Root names: "HKCR", "HKLM", "HKCU", "HKUSERS", "HKCC", exactly; none otherwise.
std::optional<win::RegRoot> registryHive(const std::wstring& root);

// "add" or "remove" (exact case); null for any other operation.
std::unique_ptr<cRegistryOperation> makeRegistryOperation(std::wstring_view operation);

// The value data an entry writes, as the add operation reads its Value text for the data type.
struct RegistryData {
    unsigned type = 0;
    std::vector<std::uint8_t> bytes;
};
RegistryData registryDataFor(const RegistryRecord& entry);

}  // namespace mw
