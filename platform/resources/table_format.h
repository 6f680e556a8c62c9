// Layout of the resource table appended to a program (documented in docs/formats.md):
//   program bytes | entry data (each 8-aligned) | directory | trailer (40 bytes, at the very end)
// All numbers are little-endian. Offsets count from the start of the file.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/resources/resources.h"

namespace win::rsrc {

constexpr char kMagic[8] = {'M', 'W', 'R', 'S', 'R', 'C', '0', '1'};
constexpr std::size_t kTrailerSize = 40;
constexpr std::size_t kDirEntryFixed = 24;
constexpr std::size_t kAlign = 8;

// One directory record as found in the file; data points into the mapped bytes.
struct TableEntry {
    bool typeIsName = false;
    std::uint16_t typeNumber = 0;
    std::wstring typeName;
    std::uint16_t id = 0;
    std::uint16_t language = 0;
    std::span<const std::uint8_t> data;
};

struct Table {
    std::uint64_t programSize = 0;  // where the table starts: the program's own bytes end here
    std::vector<TableEntry> entries;
};

// Parses the table at the end of `file`. False (an empty table, programSize = file size) when the file
// carries none or its trailer, directory or checksum does not hold up; never reads outside `file`.
bool parseTable(std::span<const std::uint8_t> file, Table& table);

// The bytes that follow a program of `programSize` bytes.
std::vector<std::uint8_t> buildTable(std::uint64_t programSize, const std::vector<ResourceEntry>& entries);

std::uint32_t crc32(std::span<const std::uint8_t> bytes);

bool sameType(const TableEntry& entry, const ResourceId& type);

}  // namespace win::rsrc
