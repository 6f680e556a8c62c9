#include "outside/quadrel/qdr_format.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quadrel {
namespace {

constexpr char kMagic[4] = {'Q', 'D', 'R', '\x1a'};
constexpr std::size_t kMaxVarint = 10;

void put16(std::string& out, std::uint16_t v) {
    for (int i = 0; i < 2; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void put32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}
void putVarint(std::string& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
}

// The compact header's bytes in order, with their CRC.
class HeaderCursor {
  public:
    explicit HeaderCursor(DiffReader& reader) : stream_(reader, 0, reader.size()) {}
    bool bytes(void* out, std::size_t count) {
        std::size_t got = 0;
        auto* p = static_cast<std::uint8_t*>(out);
        if (!stream_.read(p, count, got) || got != count) return false;
        crc_ = crc32(crc_, p, static_cast<uInt>(count));
        consumed_ += count;
        return true;
    }
    // Shortest form only: the same header has one encoding.
    bool varint(std::uint64_t& v) {
        v = 0;
        for (std::size_t i = 0; i < kMaxVarint; ++i) {
            std::uint8_t b = 0;
            if (!bytes(&b, 1)) return false;
            if (i == kMaxVarint - 1 && b > 1) return false;
            v |= static_cast<std::uint64_t>(b & 0x7f) << (7 * i);
            if ((b & 0x80) == 0) return b != 0 || i == 0;
        }
        return false;
    }
    std::uint32_t crc() const { return static_cast<std::uint32_t>(crc_); }
    std::uint64_t consumed() const { return consumed_; }

  private:
    RangeStream stream_;
    uLong crc_ = crc32(0, nullptr, 0);
    std::uint64_t consumed_ = 0;
};

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

int streamCount(Method method) {
    switch (method) {
        case Method::zstd: return 1;
        case Method::match: return 3;
        case Method::mixed: return 0;
        // Those of its inner method; a zstd one leaves the last two empty.
        case Method::exe: return 3;
    }
    return 0;
}

// Compact layout: magic, version, method, then varints. A single chunk covers both whole files, so only
// its stream sizes are written; the file's last stream is whatever follows the others.
std::string encodeHeader(Header& h) {
    std::string out(kMagic, 4);
    put16(out, kFormatVersion);
    // A single chunk's method is the file's: the reader takes it from there.
    if (h.chunks.size() == 1) h.method = h.chunks[0].method;
    out.push_back(static_cast<char>(h.method));
    putVarint(out, h.oldSize);
    putVarint(out, h.newSize);
    out.append(reinterpret_cast<const char*>(h.oldMd5.data()), 16);
    out.append(reinterpret_cast<const char*>(h.newMd5.data()), 16);
    putVarint(out, h.name.size());
    out += h.name;
    putVarint(out, h.chunks.size());
    for (std::size_t i = 0; i < h.chunks.size(); ++i) {
        const Chunk& c = h.chunks[i];
        if (h.chunks.size() > 1) {
            out.push_back(static_cast<char>(c.method));
            putVarint(out, c.refOffset);
            putVarint(out, c.refSize);
            putVarint(out, c.newSize);
        }
        const int streams = streamCount(c.method) - (i + 1 == h.chunks.size() ? 1 : 0);
        for (int s = 0; s < streams; ++s) putVarint(out, c.sizes[static_cast<std::size_t>(s)]);
    }
    put32(out, static_cast<std::uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(out.data()), static_cast<uInt>(out.size()))));
    h.dataOffset = out.size();
    return out;
}

bool parseHeader(DiffReader& reader, Header& h) {
    std::uint8_t start[7];
    if (!reader.readAt(0, start, sizeof start) || std::memcmp(start, kMagic, 4) != 0) return false;
    const unsigned version = start[4] | (start[5] << 8);
    if (version == kFirstFormatVersion) return parseFirstFormat(reader, h);
    if (version != kFormatVersion) return false;

    HeaderCursor in(reader);
    std::uint8_t skip[7];
    std::uint64_t nameSize = 0, chunkCount = 0;
    if (!in.bytes(skip, sizeof skip) || !in.varint(h.oldSize) || !in.varint(h.newSize) ||
        !in.bytes(h.oldMd5.data(), 16) || !in.bytes(h.newMd5.data(), 16) || !in.varint(nameSize) ||
        nameSize == 0 || nameSize > kMaxNameBytes)
        return false;
    h.version = kFormatVersion;
    h.method = static_cast<Method>(start[6]);
    h.name.resize(static_cast<std::size_t>(nameSize));
    if (!in.bytes(h.name.data(), h.name.size()) || !in.varint(chunkCount) || chunkCount == 0 ||
        chunkCount > kMaxChunks)
        return false;
    // One chunk has the file's method; several say "mixed" only when they differ.
    if (chunkCount == 1 ? streamCount(h.method) == 0 : h.method != Method::mixed && streamCount(h.method) == 0)
        return false;
    h.chunks.assign(static_cast<std::size_t>(chunkCount), Chunk{});
    std::uint64_t explicitData = 0;
    for (std::size_t i = 0; i < h.chunks.size(); ++i) {
        Chunk& c = h.chunks[i];
        if (chunkCount == 1) {
            c = {h.method, 0, h.oldSize, h.newSize, {}};
        } else {
            std::uint8_t method = 0;
            if (!in.bytes(&method, 1) || !in.varint(c.refOffset) || !in.varint(c.refSize) ||
                !in.varint(c.newSize))
                return false;
            c.method = static_cast<Method>(method);
            if (streamCount(c.method) == 0) return false;
        }
        const int streams = streamCount(c.method) - (i + 1 == h.chunks.size() ? 1 : 0);
        for (int s = 0; s < streams; ++s) {
            std::uint64_t& size = c.sizes[static_cast<std::size_t>(s)];
            if (!in.varint(size) || size > reader.size() - explicitData) return false;
            explicitData += size;
        }
    }
    const std::uint32_t crc = in.crc();
    std::uint8_t stored[4];
    if (!in.bytes(stored, 4) ||
        crc != (stored[0] | (stored[1] << 8) | (stored[2] << 16) | (static_cast<std::uint32_t>(stored[3]) << 24)))
        return false;
    const std::uint64_t headerSize = in.consumed();
    if (explicitData > reader.size() - headerSize) return false;
    Chunk& last = h.chunks.back();
    last.sizes[static_cast<std::size_t>(streamCount(last.method) - 1)] = reader.size() - headerSize - explicitData;
    return checkParsedHeader(h, headerSize, reader.size());
}

bool checkParsedHeader(Header& h, std::uint64_t headerSize, std::uint64_t fileSize) {
    if (!isSafeName(h.name)) return false;
    std::uint64_t newTotal = 0;
    std::uint64_t dataTotal = 0;
    for (const Chunk& c : h.chunks) {
        const int streams = streamCount(c.method);
        if (streams == 0) return false;
        // Every size is bounded by the file it describes, so the sums below cannot wrap.
        if (c.refOffset > h.oldSize || c.refSize > h.oldSize - c.refOffset) return false;
        if (c.newSize > h.newSize - newTotal) return false;
        for (std::size_t s = 0; s < c.sizes.size(); ++s) {
            if (c.sizes[s] > fileSize || (static_cast<int>(s) >= streams && c.sizes[s] != 0)) return false;
        }
        newTotal += c.newSize;
        dataTotal += c.dataSize();
        if (dataTotal > fileSize) return false;
    }
    if (newTotal != h.newSize || headerSize > fileSize || headerSize + dataTotal != fileSize) return false;
    h.dataOffset = headerSize;
    return true;
}

}  // namespace quadrel
