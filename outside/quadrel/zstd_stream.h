// Decompressing one zstd frame from a range of the difference file, piece by piece.
#pragma once
#include <zstd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "outside/quadrel/methods.h"

namespace quadrel {

class ZstdInput {
  public:
    // `prefix` is the reference the frame was made against (may be empty); `windowLogMax` bounds the
    // window a damaged frame could ask for.
    ZstdInput(RangeStream& source, Bytes prefix, int windowLogMax);
    ~ZstdInput();
    ZstdInput(const ZstdInput&) = delete;
    ZstdInput& operator=(const ZstdInput&) = delete;

    // Up to `count` bytes; fewer only at the end of the frame. False on damaged or truncated data.
    bool read(std::uint8_t* buffer, std::size_t count, std::size_t& got);
    // The frame ended and nothing follows it in the range.
    bool finished() const { return frameDone_ && in_.pos == in_.size && source_.atEnd(); }

  private:
    RangeStream& source_;
    ZSTD_DCtx* dctx_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(ZSTD_DStreamInSize());
    ZSTD_inBuffer in_{nullptr, 0, 0};
    bool frameDone_ = false;
    bool broken_ = false;
};

}  // namespace quadrel
