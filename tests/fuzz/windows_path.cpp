// Windows path resolution: whatever the path, its host path stays inside one of the machine's drive
// folders.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/fs/path.h"
#include "platform/text/text.h"
#include "tests/fuzz/fuzz_support.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path root = [] {
        // A little tree for the case-insensitive lookup to walk.
        fuzz::writeHostFile(fuzz::host(L"C:\\Program Files\\Orvex\\Lumen TX4\\a.dll"), "a");
        fuzz::writeHostFile(fuzz::host(L"C:\\Program Files\\Orvex\\readme.txt"), "r");
        return fuzz::machineRoot().lexically_normal();
    }();
    const std::wstring path = fuzz::wideFrom(data, size);
    std::wstring full;
    if (win::fullPath(path, full)) {
        FUZZ_CHECK(full.size() >= 3 && full[1] == L':' && full[2] == L'\\', win::toUtf8(full));
    }
    fs::path host;
    if (!win::hostPath(path, host)) return 0;
    const fs::path normal = host.lexically_normal();
    FUZZ_CHECK(normal == host || normal.string() + "/" == host.string(), host.string());
    const fs::path inside = normal.lexically_relative(root);
    FUZZ_CHECK(!inside.empty() && inside.begin()->string().rfind("drive_", 0) == 0 &&
                   inside.begin()->string().size() == 7,
               host.string());
    for (const fs::path& part : inside) FUZZ_CHECK(part != "..", host.string());
    return 0;
}
