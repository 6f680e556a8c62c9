#include <link.h>

#include <filesystem>

#include "platform/system/library.h"
#include "platform/text/text.h"
#include "platform/win.h"

namespace win {

namespace {

struct Search {
    std::wstring name;
    std::filesystem::path found;
};

int visit(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    if (!info->dlpi_name || !*info->dlpi_name) return 0;
    const std::filesystem::path path(info->dlpi_name);
    if (!iequals(fromUtf8(path.filename().string()), search->name)) return 0;
    search->found = path;
    return 1;
}

}  // namespace

bool loadedModuleFile(std::wstring_view fileName, std::filesystem::path& hostFile) {
    Search search{std::wstring(fileName), {}};
    dl_iterate_phdr(visit, &search);
    if (search.found.empty()) {
        setLastError(err::modNotFound);
        return false;
    }
    hostFile = search.found;
    setLastError(err::success);
    return true;
}

}  // namespace win
