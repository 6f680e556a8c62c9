// Where an executable image keeps code and pointer-holding data: ELF and PE files for x86 and x86-64,
// read from their section tables. Anything else (or a table that does not fit the file) gives no layout.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace quadrel {

enum class RegionKind : std::uint8_t { code32 = 1, code64 = 2, words32 = 3, words64 = 4 };

// A file range and the address it is loaded at.
struct Region {
    RegionKind kind = RegionKind::code32;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t address = 0;
};

struct Layout {
    std::uint64_t low = 0;  // the loaded image's addresses: [low, high)
    std::uint64_t high = 0;
    std::vector<Region> regions;  // what is rewritten: sorted by offset, not overlapping
    std::vector<Region> mapped;   // every section with file bytes (kind unused)
};

bool readLayout(std::span<const std::uint8_t> image, Layout& layout);

}  // namespace quadrel
