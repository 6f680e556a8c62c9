// config.xml as the patcher reads it from its work folder, and the log lines made from it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "mendwell/base/config_reader.h"
#include "mendwell/base/config_record.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::filesystem::path file = fuzz::host(L"C:\\Work\\config.xml");
    fuzz::writeHostFile(file, std::string_view(reinterpret_cast<const char*>(data), size));
    mw::PatcherConfigRecord record;
    if (mw::parseConfigFile(L"C:\\Work\\config.xml", record)) mw::logConfigValues(record);
    return 0;
}
