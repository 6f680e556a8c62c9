#include "platform/resources/table_format.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/text/text.h"

namespace win::rsrc {

namespace {

std::uint64_t readLe(std::span<const std::uint8_t> bytes, std::size_t at, std::size_t width) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < width; ++i) v |= static_cast<std::uint64_t>(bytes[at + i]) << (8 * i);
    return v;
}

void putLe(std::vector<std::uint8_t>& out, std::uint64_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void padTo(std::vector<std::uint8_t>& out, std::uint64_t base, std::size_t align) {
    while ((base + out.size()) % align != 0) out.push_back(0);
}

std::size_t padded(std::size_t n) {
    return (n + kAlign - 1) / kAlign * kAlign;
}

}  // namespace

std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t c = 0xFFFFFFFFu;
    for (std::uint8_t b : bytes) c = table[(c ^ b) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

bool sameType(const TableEntry& entry, const ResourceId& type) {
    if (const auto* number = std::get_if<std::uint16_t>(&type))
        return !entry.typeIsName && entry.typeNumber == *number;
    return entry.typeIsName && iequals(entry.typeName, std::get<std::wstring>(type));
}

bool parseTable(std::span<const std::uint8_t> file, Table& table) {
    table.entries.clear();
    table.programSize = file.size();
    if (file.size() < kTrailerSize) return false;
    const std::size_t t = file.size() - kTrailerSize;
    if (std::memcmp(file.data() + t + 32, kMagic, sizeof kMagic) != 0) return false;
    if (crc32(file.subspan(t, 28)) != readLe(file, t + 28, 4)) return false;

    const std::uint64_t programSize = readLe(file, t, 8);
    const std::uint64_t dirOffset = readLe(file, t + 8, 8);
    const std::uint64_t dirSize = readLe(file, t + 16, 4);
    const std::uint64_t count = readLe(file, t + 20, 4);
    if (programSize > dirOffset || dirOffset > t || t - dirOffset != dirSize) return false;
    auto dir = file.subspan(dirOffset, dirSize);
    if (crc32(dir) != readLe(file, t + 24, 4)) return false;

    std::vector<TableEntry> entries;
    std::size_t at = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        if (dir.size() - at < kDirEntryFixed) return false;
        TableEntry e;
        const std::size_t nameUnits = readLe(dir, at, 2);
        e.typeIsName = nameUnits != 0;
        e.typeNumber = static_cast<std::uint16_t>(readLe(dir, at + 2, 2));
        e.id = static_cast<std::uint16_t>(readLe(dir, at + 4, 2));
        e.language = static_cast<std::uint16_t>(readLe(dir, at + 6, 2));
        const std::uint64_t offset = readLe(dir, at + 8, 8);
        const std::uint64_t size = readLe(dir, at + 16, 8);
        at += kDirEntryFixed;
        const std::size_t nameBytes = padded(nameUnits * 2);
        if (dir.size() - at < nameBytes) return false;
        if (e.typeIsName) {
            auto name = dir.subspan(at, nameUnits * 2);
            e.typeName =
                fromUtf16le(std::string_view(reinterpret_cast<const char*>(name.data()), name.size()));
        }
        at += nameBytes;
        if (offset < programSize || offset > dirOffset || size > dirOffset - offset) return false;
        e.data = file.subspan(offset, size);
        entries.push_back(std::move(e));
    }
    if (at != dir.size()) return false;
    table.programSize = programSize;
    table.entries = std::move(entries);
    return true;
}

std::vector<std::uint8_t> buildTable(std::uint64_t programSize, const std::vector<ResourceEntry>& entries) {
    std::vector<std::uint8_t> out;
    std::vector<std::uint64_t> offsets;
    for (const auto& e : entries) {
        padTo(out, programSize, kAlign);
        offsets.push_back(programSize + out.size());
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    padTo(out, programSize, kAlign);
    const std::uint64_t dirOffset = programSize + out.size();

    std::vector<std::uint8_t> dir;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& e = entries[i];
        std::string name;
        if (const auto* text = std::get_if<std::wstring>(&e.type)) name = toUtf16le(*text);
        putLe(dir, name.size() / 2, 2);
        const auto* number = std::get_if<std::uint16_t>(&e.type);
        putLe(dir, number ? *number : 0, 2);
        putLe(dir, e.id, 2);
        putLe(dir, e.language, 2);
        putLe(dir, offsets[i], 8);
        putLe(dir, e.data.size(), 8);
        dir.insert(dir.end(), name.begin(), name.end());
        padTo(dir, 0, kAlign);
    }

    std::vector<std::uint8_t> trailer;
    putLe(trailer, programSize, 8);
    putLe(trailer, dirOffset, 8);
    putLe(trailer, dir.size(), 4);
    putLe(trailer, entries.size(), 4);
    putLe(trailer, crc32(dir), 4);
    putLe(trailer, crc32(trailer), 4);
    trailer.insert(trailer.end(), std::begin(kMagic), std::end(kMagic));

    out.insert(out.end(), dir.begin(), dir.end());
    out.insert(out.end(), trailer.begin(), trailer.end());
    return out;
}

}  // namespace win::rsrc
