// The copy of the authoring tool's entry table, held for the life of the library, and guarded calls
// through the entries this extension uses: a null entry makes the step that needs it do nothing.
#pragma once
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "outside/lumen/lumen_api.h"

namespace vireo {

class HostEnvironment {
  public:
    static constexpr std::size_t kMaxEntries = 49;

    // Copies the whole entries that `sizeInBytes` covers (never more than 49) and nulls the rest.
    void copyFrom(void* const* table, std::size_t sizeInBytes);
    void* entry(std::size_t index) const { return index < kMaxEntries ? entries_[index] : nullptr; }

    // False when entry 1 is missing.
    bool registerFunction(const wchar_t* name, LumenNativeFunction function, unsigned argc) const;
    // False when entry 19 is missing or the value has no text.
    bool valueToText(void* context, LumenValue value, std::wstring& text) const;
    // False when entry 37 is missing (result 0 then) or the script failed.
    bool runScript(void* context, void* object, std::wstring_view script, LumenValue& result) const;

  private:
    std::array<void*, kMaxEntries> entries_{};
};

// The library's one copy.
HostEnvironment& hostEnvironment();

}  // namespace vireo
