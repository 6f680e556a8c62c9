#include "mendwell/base/resource_writer.h"

#include "platform/fs/file.h"
#include "platform/resources/resources.h"

namespace mw {

int writeResourceToFile(const win::Module& module, std::uint16_t id, std::wstring_view typeName,
                        const std::wstring& outputPath) {
    win::setLastError(win::err::success);
    const std::span<const std::uint8_t> data = module.find(win::ResourceId(std::wstring(typeName)), id);
    // An empty resource is still a resource; only a lookup failure sets the last error.
    if (data.empty() && win::lastError() != win::err::success) return -1;
    win::File file;
    if (!file.open(outputPath, win::access::write, win::share::read | win::share::write,
                   win::Disposition::createAlways)) {
        return -1;
    }
    // One write straight from the mapped resource.
    if (!file.write(data.data(), data.size())) return -1;
    return 0;
}

}  // namespace mw
