// The ".QDR" difference file: header, chunk table and the readers and writers the methods share.
// Layout in docs/formats.md.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quadrel {

// Version 2 is the compact header every new file gets; version 1 files stay readable.
constexpr std::uint16_t kFormatVersion = 2;
constexpr std::uint16_t kFirstFormatVersion = 1;
constexpr std::size_t kMaxNameBytes = 1024;
constexpr std::uint32_t kMaxChunks = 1u << 16;
// Files above this are split into chunks; each chunk is a new range with its own old reference range.
constexpr std::uint64_t kChunkThreshold = 2ull << 30;
constexpr std::uint64_t kDefaultChunk = 768ull << 20;

enum class Method : std::uint8_t { zstd = 1, match = 2, mixed = 3, exe = 4 };
// The data streams a chunk of this method holds (in Chunk::sizes); 0 for no chunk method.
int streamCount(Method method);
using Md5 = std::array<std::uint8_t, 16>;

struct Chunk {
    Method method = Method::zstd;
    std::uint64_t refOffset = 0;  // old reference range
    std::uint64_t refSize = 0;
    std::uint64_t newSize = 0;
    // zstd: sizes[0] is the frame; match: control, difference and extra streams; exe: as the inner
    // method's, the first with the inner method and the rewritten size before it.
    std::array<std::uint64_t, 3> sizes{};
    std::uint64_t dataSize() const { return sizes[0] + sizes[1] + sizes[2]; }
};

struct Header {
    Method method = Method::zstd;
    std::uint64_t oldSize = 0;
    Md5 oldMd5{};
    std::uint64_t newSize = 0;
    Md5 newMd5{};
    std::string name;  // UTF-8 file name inside the folder
    std::vector<Chunk> chunks;
    std::uint64_t dataOffset = 0;  // where the first chunk's data starts (set by encode/parse)
    std::uint16_t version = kFormatVersion;  // set by parse
};

// Reads byte ranges of a difference file.
class DiffReader {
  public:
    virtual ~DiffReader() = default;
    virtual std::uint64_t size() const = 0;
    // Exactly `count` bytes at `offset`, or false.
    virtual bool readAt(std::uint64_t offset, void* buffer, std::size_t count) = 0;
};

class MemoryReader : public DiffReader {
  public:
    explicit MemoryReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) override;

  private:
    std::span<const std::uint8_t> bytes_;
};

// A sequential, buffered view of one byte range of a difference file.
class RangeStream {
  public:
    RangeStream(DiffReader& reader, std::uint64_t offset, std::uint64_t size)
        : reader_(reader), pos_(offset), end_(offset + size) {}
    // Up to `count` bytes; 0 at the end of the range. False on a read error.
    bool read(std::uint8_t* buffer, std::size_t count, std::size_t& got);
    bool atEnd() const { return pos_ == end_ && have_ == used_; }

  private:
    DiffReader& reader_;
    std::uint64_t pos_;
    std::uint64_t end_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(64 * 1024);
    std::size_t have_ = 0;
    std::size_t used_ = 0;
};

// Header bytes in the current version (including the trailing CRC), made once every chunk's data sizes
// are known; sets header.dataOffset.
std::string encodeHeader(Header& header);
// Checks everything the header claims that can be checked without the old file: magic, version,
// name, chunk table against the file size, CRC. False for anything else. Reads both versions.
bool parseHeader(DiffReader& reader, Header& header);

// Used by parseHeader: the version 1 layout, and the checks both layouts share once the chunk table is
// read (name, ranges, sizes adding up to the file).
bool parseFirstFormat(DiffReader& reader, Header& header);
bool checkParsedHeader(Header& header, std::uint64_t headerSize, std::uint64_t fileSize);
// A plain file name: no separators, drive, device-like or dot-only name, no control characters.
bool isSafeName(const std::string& utf8Name);

const char* methodName(Method method);

}  // namespace quadrel
