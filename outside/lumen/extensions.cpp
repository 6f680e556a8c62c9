#include "outside/lumen/extensions.h"

#include <iostream>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/text/text.h"

namespace lumen {

namespace {

int registerFunction(void* library, const wchar_t* name, LumenNativeFunction function, unsigned argc) {
    auto* loaded = static_cast<Extensions::Loaded*>(library);
    if (!loaded || !name || !function) return 0;
    loaded->host->addFunction({loaded->name, name, function, argc});
    return 1;
}

}  // namespace

Extensions::Extensions(ScriptHost& host, std::size_t tableBytes) : host_(host), tableBytes_(tableBytes) {}

void Extensions::loadFolder(const std::wstring& folder) {
    win::FindFile find;
    win::FindData data;
    std::vector<std::wstring> names;
    for (bool more = find.first(win::combine(folder, L"*.dll"), data); more; more = find.next(data))
        if (!(data.attributes & win::attr::directory)) names.push_back(data.name);
    for (const auto& name : names) {
        auto loaded = std::make_unique<Loaded>();
        loaded->name = name.substr(0, name.size() - 4);
        loaded->host = &host_;
        const std::wstring path = win::combine(folder, name);
        if (!loaded->library.load(path)) {
            std::cerr << "lumen: cannot load the extension " << win::toUtf8(path) << "\n";
            continue;
        }
        auto init = loaded->library.function<LumenInitWrapper>("RW_InitWrapper");
        if (!init) {
            std::cerr << "lumen: " << win::toUtf8(path) << " has no RW_InitWrapper\n";
            continue;
        }
        // The tool's table; the extension copies what the given size covers.
        void* table[LUMEN_ENTRY_COUNT] = {};
        table[LUMEN_ENTRY_LIBRARY] = loaded.get();
        table[LUMEN_ENTRY_REGISTER_FUNCTION] = reinterpret_cast<void*>(&registerFunction);
        table[LUMEN_ENTRY_VALUE_TO_TEXT] = reinterpret_cast<void*>(&lumenValueToText);
        table[LUMEN_ENTRY_RUN_SCRIPT] = reinterpret_cast<void*>(&lumenRunScript);
        init(table, std::min(tableBytes_, sizeof table));
        libraries_.push_back(std::move(loaded));
    }
}

}  // namespace lumen
