#include "outside/quadrel/qdr_format.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quadrel {
namespace {

constexpr char kMagic[4] = {'Q', 'D', 'R', '\x1a'};
constexpr std::size_t kFixedSize = 62;  // up to the name
constexpr std::size_t kChunkRecord = 49;

void put16(std::string& out, std::uint16_t v) {
    for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void put64(std::string& out, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
std::uint64_t get(const std::uint8_t* p, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
bool validMethod(std::uint8_t m, bool allowMixed) {
    return m == 1 || m == 2 || m == 4 || (allowMixed && m == 3);
}

}  // namespace

bool MemoryReader::readAt(std::uint64_t offset, void* buffer, std::size_t count) {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    if (count > 0) std::memcpy(buffer, bytes_.data() + offset, count);
    return true;
}

bool RangeStream::read(std::uint8_t* buffer, std::size_t count, std::size_t& got) {
    got = 0;
    while (got < count) {
        if (used_ == have_) {
            if (pos_ == end_) return true;
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer_.size(), end_ - pos_));
            if (!reader_.readAt(pos_, buffer_.data(), n)) return false;
            pos_ += n;
            have_ = n;
            used_ = 0;
        }
        const std::size_t n = std::min(count - got, have_ - used_);
        std::memcpy(buffer + got, buffer_.data() + used_, n);
        used_ += n;
        got += n;
    }
    return true;
}

namespace {

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$ and CONOUT$ name devices in any letter case, with any
// extension and with blanks before it ("nul.txt", "Com1 .log").
bool isDeviceName(const std::string& name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    for (char& c : stem) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
        stem == "CONOUT$")
        return true;
    return stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '1' &&
           stem[3] <= '9';
}

}  // namespace

bool isSafeName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes) return false;
    if (name.find_first_not_of('.') == std::string::npos) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || c == '\\' || c == '/' || c == ':' || c == '*' || c == '?' || c == '"' || c == '<' ||
            c == '>' || c == '|')
            return false;
    }
    // Windows drops trailing dots and blanks; a name that changes that way could name another file.
    return name.back() != '.' && name.back() != ' ' && !isDeviceName(name);
}

const char* methodName(Method method) {
    switch (method) {
        case Method::zstd: return "zstd";
        case Method::match: return "match";
        case Method::mixed: return "mixed";
        case Method::exe: return "exe";
    }
    return "?";
}

std::string encodeHeader(Header& h) {
    std::string out(kMagic, 4);
    put16(out, kFormatVersion);
    out.push_back(static_cast<char>(h.method));
    out.push_back(0);
    put64(out, h.oldSize);
    out.append(reinterpret_cast<const char*>(h.oldMd5.data()), 16);
    put64(out, h.newSize);
    out.append(reinterpret_cast<const char*>(h.newMd5.data()), 16);
    put16(out, static_cast<std::uint16_t>(h.name.size()));
    put32(out, static_cast<std::uint32_t>(h.chunks.size()));
    out += h.name;
    for (const Chunk& c : h.chunks) {
        out.push_back(static_cast<char>(c.method));
        put64(out, c.refOffset);
        put64(out, c.refSize);
        put64(out, c.newSize);
        for (std::uint64_t s : c.sizes) put64(out, s);
    }
    put32(out, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()))));
    h.dataOffset = out.size();
    return out;
}

bool parseHeader(DiffReader& reader, Header& h) {
    const std::uint64_t fileSize = reader.size();
    std::uint8_t fixed[kFixedSize];
    if (fileSize < kFixedSize + 4 || !reader.readAt(0, fixed, kFixedSize)) return false;
    if (std::memcmp(fixed, kMagic, 4) != 0 || get(fixed + 4, 2) != kFormatVersion) return false;
    if (!validMethod(fixed[6], true) || fixed[7] != 0) return false;
    h.method = static_cast<Method>(fixed[6]);
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
    if (!isSafeName(h.name)) return false;
    h.chunks.clear();
    std::uint64_t newTotal = 0;
    std::uint64_t dataTotal = 0;
    const std::uint8_t* p = bytes.data() + kFixedSize + nameSize;
    for (std::uint64_t i = 0; i < chunkCount; ++i, p += kChunkRecord) {
        Chunk c;
        if (!validMethod(p[0], false)) return false;
        c.method = static_cast<Method>(p[0]);
        c.refOffset = get(p + 1, 8);
        c.refSize = get(p + 9, 8);
        c.newSize = get(p + 17, 8);
        for (int s = 0; s < 3; ++s) c.sizes[s] = get(p + 25 + 8 * s, 8);
        // Every size is bounded by the file it describes, so the sums below cannot wrap.
        if (c.refOffset > h.oldSize || c.refSize > h.oldSize - c.refOffset) return false;
        if (c.newSize > h.newSize - newTotal) return false;
        for (std::uint64_t s : c.sizes) {
            if (s > fileSize) return false;
        }
        if (c.method == Method::zstd && (c.sizes[1] != 0 || c.sizes[2] != 0)) return false;
        newTotal += c.newSize;
        dataTotal += c.dataSize();
        if (dataTotal > fileSize) return false;
        h.chunks.push_back(c);
    }
    if (newTotal != h.newSize || headerSize + dataTotal != fileSize) return false;
    h.dataOffset = headerSize;
    return true;
}

}  // namespace quadrel
