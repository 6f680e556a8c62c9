// The resource table appended to a program: a damaged or hostile table is refused or read within the
// file's bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/resources/resources.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path file = fuzz::machineRoot().parent_path() / "program.bin";
    fuzz::writeHostFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
    win::Module module;
    if (!module.open(file)) return 0;
    std::size_t total = 0;
    for (const win::ResourceEntry& entry : module.list()) {
        total += entry.data.size();
        const auto found = module.find(entry.type, entry.id, entry.language);
        FUZZ_CHECK(found.data() != nullptr || entry.data.empty(), "a listed entry is found");
        win::VersionInfo info;
        if (entry.type == win::ResourceId(win::kRtVersion)) win::parseVersionInfo(found, info);
    }
    FUZZ_CHECK(total <= size, "entries hold no more than the file");
    module.find(std::wstring(L"CONFIG"), 100);
    module.find(win::kRtVersion, 1);
    return 0;
}
