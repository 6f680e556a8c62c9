// libFuzzer target: the developer tool's descriptor checks on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "outside/kdt/descriptor.h"
#include "outside/kdt/png.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    kdt::Descriptor descriptor;
    std::string message;
    kdt::checkDescriptor(bytes, descriptor, message);
    unsigned width = 0, height = 0;
    kdt::pngSize(bytes, width, height);
    return 0;
}
