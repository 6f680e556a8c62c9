// The difference methods: "zstd" (a zstd frame with the old range as its reference prefix), "match"
// (approximate matching over a suffix array of the old range, in the manner of bsdiff, with its
// control, difference and extra streams each a zstd frame) and "exe" (either of them over executables
// whose addresses were rewritten to layout-independent labels, exe_filter.h).
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "outside/quadrel/qdr_format.h"

namespace quadrel {

using Bytes = std::span<const std::uint8_t>;

enum class Outcome { ok, corrupt, writeFailed, stopped };

// Where applied bytes go, in order.
class NewSink {
  public:
    virtual ~NewSink() = default;
    virtual Outcome write(const std::uint8_t* data, std::size_t size) = 0;
};

// The window a "zstd" chunk is made with, and the most its decoder accepts.
int zstdWindowLog(std::uint64_t refSize, std::uint64_t newSize);

// Making; false when the library fails (for example out of memory).
bool makeZstd(Bytes ref, Bytes neu, std::string& frame);
bool makeMatch(Bytes ref, Bytes neu, std::array<std::string, 3>& streams);
// The chunk's data and its three data sizes.
bool makeExe(Bytes ref, Bytes neu, std::string& data, std::array<std::uint64_t, 3>& sizes);

// Applying one chunk: reads its data from `reader` at `offset`, writes exactly chunk.newSize bytes.
Outcome applyChunk(const Chunk& chunk, Bytes ref, DiffReader& reader, std::uint64_t offset, NewSink& sink);

}  // namespace quadrel
