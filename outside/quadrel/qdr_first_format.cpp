// The version 1 header: fixed-width fields and 49-byte chunk records. Only read; every file made since
// has the compact header.
#include <zlib.h>

#include <cstring>
#include <vector>

#include "outside/quadrel/qdr_format.h"

namespace quadrel {
namespace {

constexpr std::size_t kFixedSize = 62;  // up to the name
constexpr std::size_t kChunkRecord = 49;

std::uint64_t get(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

}  // namespace

bool parseFirstFormat(DiffReader& reader, Header& h) {
    const std::uint64_t fileSize = reader.size();
    std::uint8_t fixed[kFixedSize];
    if (fileSize < kFixedSize + 4 || !reader.readAt(0, fixed, kFixedSize)) return false;
    if (get(fixed + 4, 2) != kFirstFormatVersion || fixed[7] != 0) return false;
    h.version = kFirstFormatVersion;
    h.method = static_cast<Method>(fixed[6]);
    if (streamCount(h.method) == 0 && h.method != Method::mixed) return false;
    h.oldSize = get(fixed + 8, 8);
    std::memcpy(h.oldMd5.data(), fixed + 16, 16);
    h.newSize = get(fixed + 32, 8);
    std::memcpy(h.newMd5.data(), fixed + 40, 16);
    const std::size_t nameSize = static_cast<std::size_t>(get(fixed + 56, 2));
    const std::uint64_t chunkCount = get(fixed + 58, 4);
    if (nameSize == 0 || nameSize > kMaxNameBytes || chunkCount == 0 || chunkCount > kMaxChunks) return false;
    const std::uint64_t headerSize = kFixedSize + nameSize + chunkCount * kChunkRecord + 4;
    if (headerSize > fileSize) return false;

    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(headerSize));
    if (!reader.readAt(0, bytes.data(), bytes.size())) return false;
    const std::uint32_t crc = static_cast<std::uint32_t>(
        crc32(0, bytes.data(), static_cast<uInt>(bytes.size() - 4)));
    if (crc != get(bytes.data() + bytes.size() - 4, 4)) return false;

    h.name.assign(reinterpret_cast<const char*>(bytes.data() + kFixedSize), nameSize);
    h.chunks.clear();
    const std::uint8_t* p = bytes.data() + kFixedSize + nameSize;
    for (std::uint64_t i = 0; i < chunkCount; ++i, p += kChunkRecord) {
        Chunk c;
        c.method = static_cast<Method>(p[0]);
        c.refOffset = get(p + 1, 8);
        c.refSize = get(p + 9, 8);
        c.newSize = get(p + 17, 8);
        for (int s = 0; s < 3; ++s) c.sizes[s] = get(p + 25 + 8 * s, 8);
        h.chunks.push_back(c);
    }
    return checkParsedHeader(h, headerSize, fileSize);
}

}  // namespace quadrel
