#include <algorithm>

#include "platform/process/process.h"
#include "platform/resources/mapped_file.h"
#include "platform/resources/resources.h"
#include "platform/resources/table_format.h"
#include "platform/system/system.h"

namespace win {

struct Module::State {
    rsrc::MappedFile file;
    rsrc::Table table;
    std::filesystem::path path;
};

Module::Module() : state_(std::make_unique<State>()) {}
Module::~Module() = default;

const Module& Module::self() {
    static const Module* module = [] {
        auto* m = new Module;  // lives as long as the process: resources handed out stay valid
        // The kernel's link opens the running image even when its file has been replaced or removed.
        if (m->open("/proc/self/exe")) m->state_->path = moduleHostPath();
        return m;
    }();
    return *module;
}

bool Module::open(const std::filesystem::path& hostFile) {
    state_->table = {};
    state_->path.clear();
    if (!state_->file.open(hostFile)) return false;
    state_->path = hostFile;
    // A missing or damaged table only means the file carries no resources.
    rsrc::parseTable(state_->file.bytes(), state_->table);
    return true;
}

bool Module::isOpen() const {
    return state_->file.isOpen();
}

std::span<const std::uint8_t> Module::image() const {
    return state_->file.bytes();
}

const std::filesystem::path& Module::path() const {
    return state_->path;
}

std::span<const std::uint8_t> Module::find(const ResourceId& type, std::uint16_t id,
                                           std::optional<std::uint16_t> language) const {
    const rsrc::TableEntry* neutral = nullptr;
    const rsrc::TableEntry* user = nullptr;
    const rsrc::TableEntry* any = nullptr;
    const rsrc::TableEntry* exact = nullptr;
    bool typeSeen = false;
    bool idSeen = false;
    const std::uint16_t userLanguage = language ? 0 : userDefaultLangId();
    for (const auto& e : state_->table.entries) {
        if (!rsrc::sameType(e, type)) continue;
        typeSeen = true;
        if (e.id != id) continue;
        idSeen = true;
        if (language) {
            if (e.language == *language && !exact) exact = &e;
            continue;
        }
        if (e.language == kLangNeutral && !neutral) neutral = &e;
        if (e.language == userLanguage && !user) user = &e;
        if (!any) any = &e;
    }
    const rsrc::TableEntry* found = language ? exact : neutral ? neutral : user ? user : any;
    if (!found) {
        setLastError(!typeSeen ? err::resourceTypeNotFound
                     : !idSeen ? err::resourceNameNotFound
                               : err::resourceLangNotFound);
        return {};
    }
    setLastError(err::success);
    return found->data;
}

std::vector<ResourceEntry> Module::list() const {
    std::vector<ResourceEntry> out;
    for (const auto& e : state_->table.entries) {
        ResourceEntry r;
        if (e.typeIsName)
            r.type = e.typeName;
        else
            r.type = e.typeNumber;
        r.id = e.id;
        r.language = e.language;
        r.data.assign(e.data.begin(), e.data.end());
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace win
