#include "platform/resources/pe_file.h"

#include <algorithm>
#include <vector>

namespace win::rsrc {

namespace {

// Bounds-checked little-endian reads: a damaged file gives 0 and `ok` false, never a read outside it.
struct Reader {
    std::span<const std::uint8_t> bytes;
    bool ok = true;
    std::uint32_t u(std::uint64_t at, int width) {
        if (at > bytes.size() || bytes.size() - at < static_cast<std::uint64_t>(width)) {
            ok = false;
            return 0;
        }
        std::uint32_t v = 0;
        for (int i = 0; i < width; ++i) v |= static_cast<std::uint32_t>(bytes[at + i]) << (8 * i);
        return v;
    }
};

struct Section {
    std::uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

constexpr std::uint32_t kSubdirectory = 0x80000000u;

// First entry of the directory at `dir` (relative to the resource section), wanting `id` when given.
bool directoryEntry(Reader& r, std::uint64_t base, std::uint32_t dir, const std::uint32_t* id,
                    std::uint32_t& target) {
    const std::uint32_t named = r.u(base + dir + 12, 2);
    const std::uint32_t ids = r.u(base + dir + 14, 2);
    for (std::uint32_t i = 0; i < named + ids && r.ok; ++i) {
        const std::uint64_t e = base + dir + 16 + 8ull * i;
        const std::uint32_t name = r.u(e, 4);
        const std::uint32_t offset = r.u(e + 4, 4);
        if (id && ((name & kSubdirectory) || name != *id)) continue;
        target = offset;
        return r.ok;
    }
    return false;
}

}  // namespace

std::span<const std::uint8_t> findPeResource(std::span<const std::uint8_t> file, std::uint16_t type) {
    Reader r{file};
    if (r.u(0, 2) != 0x5A4D) return {};  // "MZ"
    const std::uint64_t pe = r.u(0x3C, 4);
    if (r.u(pe, 4) != 0x00004550 || !r.ok) return {};  // "PE\0\0"
    const std::uint32_t sectionCount = r.u(pe + 6, 2);
    const std::uint32_t optionalSize = r.u(pe + 20, 2);
    const std::uint64_t opt = pe + 24;
    const std::uint32_t magic = r.u(opt, 2);
    std::uint64_t dirs;
    std::uint32_t dirCount;
    if (magic == 0x10B) {
        dirCount = r.u(opt + 92, 4);
        dirs = opt + 96;
    } else if (magic == 0x20B) {
        dirCount = r.u(opt + 108, 4);
        dirs = opt + 112;
    } else {
        return {};
    }
    if (dirCount < 3 || !r.ok) return {};
    const std::uint32_t rsrcRva = r.u(dirs + 2 * 8, 4);
    if (rsrcRva == 0) return {};

    std::vector<Section> sections;
    const std::uint64_t table = opt + optionalSize;
    for (std::uint32_t i = 0; i < sectionCount && r.ok; ++i) {
        const std::uint64_t s = table + 40ull * i;
        sections.push_back({r.u(s + 12, 4), r.u(s + 8, 4), r.u(s + 20, 4), r.u(s + 16, 4)});
    }
    if (!r.ok) return {};
    auto toOffset = [&](std::uint32_t rva, std::uint64_t& out) {
        for (const auto& s : sections) {
            const std::uint32_t extent = std::max(s.virtualSize, s.rawSize);
            if (rva >= s.virtualAddress && rva - s.virtualAddress < extent) {
                out = static_cast<std::uint64_t>(s.rawOffset) + (rva - s.virtualAddress);
                return true;
            }
        }
        return false;
    };
    std::uint64_t base;
    if (!toOffset(rsrcRva, base)) return {};

    // type -> first name -> first language, as GetFileVersionInfo does.
    const std::uint32_t wanted = type;
    std::uint32_t level1, level2, leaf;
    if (!directoryEntry(r, base, 0, &wanted, level1) || !(level1 & kSubdirectory)) return {};
    if (!directoryEntry(r, base, level1 & ~kSubdirectory, nullptr, level2) || !(level2 & kSubdirectory))
        return {};
    if (!directoryEntry(r, base, level2 & ~kSubdirectory, nullptr, leaf) || (leaf & kSubdirectory)) return {};
    const std::uint32_t dataRva = r.u(base + leaf, 4);
    const std::uint32_t size = r.u(base + leaf + 4, 4);
    std::uint64_t data;
    if (!r.ok || !toOffset(dataRva, data)) return {};
    if (data > file.size() || file.size() - data < size) return {};
    return file.subspan(data, size);
}

}  // namespace win::rsrc
