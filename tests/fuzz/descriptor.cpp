// libFuzzer target: application descriptors, parsed and validated, then read as packaging and the
// settings dialogs read them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vireo/descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (vireo::validateDescriptorText(bytes, L"C:\\fuzz-app.xml") != vireo::descriptor::usable) return 0;
    std::wstring text;
    vireo::readElementText(L"id", text);
    char narrow[256];
    vireo::readElementText(L"description", narrow, sizeof narrow);
    std::wstring list;
    vireo::listFileTypes(list);
    vireo::FileTypeRecord record;
    vireo::readFileType(L"Doc", record);
    std::vector<std::wstring> icons;
    vireo::collectIcons(icons);
    vireo::AdvancedSettings settings;
    settings.width = L"640";
    vireo::updateAdvancedSettings(settings);
    return 0;
}
