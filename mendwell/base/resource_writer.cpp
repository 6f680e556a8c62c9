#include "mendwell/base/resource_writer.h"

#include <algorithm>

#include "platform/fs/file.h"
#include "platform/resources/resources.h"

namespace mw {

namespace {

// Written a chunk at a time, each chunk's pages let go once written: a payload of any size then costs
// one chunk of memory instead of all of it.
constexpr std::size_t kChunk = 4u << 20;

}  // namespace

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
    for (std::size_t at = 0; at < data.size(); at += kChunk) {
        const std::span<const std::uint8_t> chunk = data.subspan(at, std::min(kChunk, data.size() - at));
        if (!file.write(chunk.data(), chunk.size())) return -1;
        win::discardModulePages(chunk);
    }
    return 0;
}

}  // namespace mw
