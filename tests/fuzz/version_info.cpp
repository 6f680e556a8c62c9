// Version information: a VS_VERSION_INFO block as it stands, and the same read from a Windows PE file.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "platform/resources/resources.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    win::VersionInfo info;
    win::parseVersionInfo(std::span<const std::uint8_t>(data, size), info);
    if (size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        static const std::filesystem::path file = fuzz::machineRoot().parent_path() / "file.dll";
        fuzz::writeHostFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
        win::readFileVersion(file, info);
    }
    return 0;
}
