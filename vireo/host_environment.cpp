#include "vireo/host_environment.h"

#include <algorithm>

namespace vireo {

namespace {
constexpr wchar_t kSourceLabel[] = L".\\VesperJSExtension.cpp";
constexpr unsigned kSourceLine = 1;
}  // namespace

void HostEnvironment::copyFrom(void* const* table, std::size_t sizeInBytes) {
    entries_.fill(nullptr);
    if (!table) return;
    const std::size_t count = std::min(sizeInBytes / sizeof(void*), kMaxEntries);
    std::copy_n(table, count, entries_.begin());
}

bool HostEnvironment::registerFunction(const wchar_t* name, LumenNativeFunction function,
                                       unsigned argc) const {
    auto call = reinterpret_cast<LumenRegisterFunction>(entry(LUMEN_ENTRY_REGISTER_FUNCTION));
    if (!call) return false;
    call(entry(LUMEN_ENTRY_LIBRARY), name, function, argc);
    return true;
}

bool HostEnvironment::valueToText(void* context, LumenValue value, std::wstring& text) const {
    auto call = reinterpret_cast<LumenValueToText>(entry(LUMEN_ENTRY_VALUE_TO_TEXT));
    if (!call) return false;
    unsigned length = 0;
    const wchar_t* p = call(context, value, &length);
    if (!p) return false;
    text.assign(p, length);
    return true;
}

bool HostEnvironment::runScript(void* context, void* object, std::wstring_view script,
                                LumenValue& result) const {
    result = 0;
    auto call = reinterpret_cast<LumenRunScript>(entry(LUMEN_ENTRY_RUN_SCRIPT));
    if (!call) return false;
    const std::wstring text(script);  // the tool wants a terminated text
    return call(context, object, text.c_str(), static_cast<unsigned>(text.size()), kSourceLabel, kSourceLine,
                &result) != 0;
}

HostEnvironment& hostEnvironment() {
    static HostEnvironment environment;
    return environment;
}

}  // namespace vireo
