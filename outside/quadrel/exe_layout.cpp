#include "outside/quadrel/exe_layout.h"

#include <algorithm>
#include <cstring>

namespace quadrel {
namespace {

constexpr std::size_t kMaxSections = 4096;

struct View {
    std::span<const std::uint8_t> b;
    bool has(std::uint64_t at, std::uint64_t n) const { return at <= b.size() && n <= b.size() - at; }
    std::uint64_t get(std::uint64_t at, int n) const {
        std::uint64_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = (v << 8) | b[at + i];
        return v;
    }
};

// Keeps regions sorted and drops any that overlap one kept before it.
void settle(Layout& l) {
    std::sort(l.regions.begin(), l.regions.end(),
              [](const Region& a, const Region& b) { return a.offset < b.offset; });
    std::vector<Region> kept;
    for (const Region& r : l.regions) {
        if (r.size == 0) continue;
        if (!kept.empty() && r.offset < kept.back().offset + kept.back().size) continue;
        kept.push_back(r);
    }
    l.regions = std::move(kept);
}

bool readElf(const View& v, Layout& l) {
    const bool wide = v.b[4] == 2;
    if ((v.b[4] != 1 && !wide) || v.b[5] != 1 || !v.has(0, wide ? 64 : 52)) return false;
    const std::uint64_t machine = v.get(18, 2);
    if (machine != (wide ? 62u : 3u)) return false;
    const std::uint64_t shoff = v.get(wide ? 40 : 32, wide ? 8 : 4);
    const std::uint64_t shentsize = v.get(wide ? 58 : 46, 2);
    const std::uint64_t shnum = v.get(wide ? 60 : 48, 2);
    if (shentsize < (wide ? 64u : 40u) || shnum == 0 || shnum > kMaxSections || !v.has(shoff, shentsize * shnum))
        return false;
    const int w = wide ? 8 : 4;
    bool any = false;
    for (std::uint64_t i = 0; i < shnum; ++i) {
        const std::uint64_t at = shoff + i * shentsize;
        const std::uint64_t type = v.get(at + 4, 4);
        const std::uint64_t flags = v.get(at + 8, w);
        const std::uint64_t addr = v.get(at + 8 + w, w);
        const std::uint64_t offset = v.get(at + 8 + 2 * w, w);
        const std::uint64_t size = v.get(at + 8 + 3 * w, w);
        if ((flags & 2) == 0 || size == 0) continue;  // not loaded
        if (addr > UINT64_MAX - size) return false;
        l.low = any ? std::min(l.low, addr) : addr;
        l.high = any ? std::max(l.high, addr + size) : addr + size;
        any = true;
        if (type == 8 || !v.has(offset, size)) continue;  // no file bytes
        Region r{RegionKind::code32, offset, size, addr};
        l.mapped.push_back(r);
        // Code; written data, relocation tables and the symbol table hold addresses.
        if (flags & 4) {
            r.kind = wide ? RegionKind::code64 : RegionKind::code32;
        } else if ((flags & 1) || type == 4 || type == 9 || type == 11) {
            r.kind = wide ? RegionKind::words64 : RegionKind::words32;
        } else {
            continue;
        }
        l.regions.push_back(r);
    }
    return any;
}

bool readPe(const View& v, Layout& l) {
    const std::uint64_t pe = v.get(0x3c, 4);
    if (!v.has(pe, 24) || v.get(pe, 4) != 0x4550) return false;
    const std::uint64_t machine = v.get(pe + 4, 2);
    const std::uint64_t sections = v.get(pe + 6, 2);
    const std::uint64_t optSize = v.get(pe + 20, 2);
    const std::uint64_t opt = pe + 24;
    if (!v.has(opt, std::max<std::uint64_t>(optSize, 64)) || sections == 0 || sections > kMaxSections) return false;
    const std::uint64_t magic = v.get(opt, 2);
    const bool wide = magic == 0x20b;
    if (!(wide ? machine == 0x8664 : (machine == 0x14c && magic == 0x10b))) return false;
    const std::uint64_t base = wide ? v.get(opt + 24, 8) : v.get(opt + 28, 4);
    const std::uint64_t imageSize = v.get(opt + 56, 4);
    const std::uint64_t table = opt + optSize;
    if (!v.has(table, sections * 40) || base > UINT64_MAX - imageSize - 1) return false;
    l.high = base + imageSize;
    l.low = l.high;
    for (std::uint64_t i = 0; i < sections; ++i) {
        const std::uint64_t at = table + i * 40;
        const std::uint64_t virtualSize = v.get(at + 8, 4);
        const std::uint64_t rva = v.get(at + 12, 4);
        const std::uint64_t rawSize = v.get(at + 16, 4);
        const std::uint64_t rawAt = v.get(at + 20, 4);
        const std::uint64_t flags = v.get(at + 36, 4);
        if (rva >= imageSize) continue;
        l.low = std::min(l.low, base + rva);
        const std::uint64_t size = virtualSize == 0 ? rawSize : std::min(virtualSize, rawSize);
        if (size == 0 || !v.has(rawAt, size)) continue;
        Region r{RegionKind::code32, rawAt, size, base + rva};
        l.mapped.push_back(r);
        if (flags & 0x20000020) {
            r.kind = wide ? RegionKind::code64 : RegionKind::code32;
        } else if (flags & 0x40) {
            r.kind = wide ? RegionKind::words64 : RegionKind::words32;
        } else {
            continue;
        }
        l.regions.push_back(r);
    }
    return l.low < l.high;
}

}  // namespace

bool readLayout(std::span<const std::uint8_t> image, Layout& layout) {
    layout = {};
    const View v{image};
    bool ok = false;
    if (v.has(0, 64) && std::memcmp(image.data(), "\x7f" "ELF", 4) == 0)
        ok = readElf(v, layout);
    else if (v.has(0, 64) && image[0] == 'M' && image[1] == 'Z')
        ok = readPe(v, layout);
    if (!ok || layout.low >= layout.high) {
        layout = {};
        return false;
    }
    settle(layout);
    return !layout.regions.empty();
}

}  // namespace quadrel
