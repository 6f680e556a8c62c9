// "zstd": the new range compressed with the old range as reference prefix ("patch-from").
#include <zstd.h>

#include <algorithm>
#include <bit>
#include <vector>

#include "outside/quadrel/methods.h"
#include "outside/quadrel/zstd_stream.h"

namespace quadrel {

int zstdWindowLog(std::uint64_t refSize, std::uint64_t newSize) {
    // The window must reach from the end of the new range back to the start of the prefix, and be
    // at least one above log2 of the larger side.
    const std::uint64_t larger = std::max<std::uint64_t>({refSize, newSize, 1});
    const int reach = static_cast<int>(std::bit_width(refSize + newSize));
    const int above = static_cast<int>(std::bit_width(larger));  // floor(log2) + 1
    return std::clamp(std::max(reach, above), 10, 31);
}

bool makeZstd(Bytes ref, Bytes neu, std::string& frame) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    if (cctx == nullptr) return false;
    // No frame checksum: the new file's MD5 in the header checks the whole result.
    bool ok = !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, 19)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_enableLongDistanceMatching, 1)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 0)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_nbWorkers, 0)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog,
                                                   zstdWindowLog(ref.size(), neu.size()))) &&
              !ZSTD_isError(ZSTD_CCtx_setPledgedSrcSize(cctx, neu.size()));
    if (ok && !ref.empty()) ok = !ZSTD_isError(ZSTD_CCtx_refPrefix(cctx, ref.data(), ref.size()));
    if (ok) {
        frame.resize(ZSTD_compressBound(neu.size()));
        const std::size_t n = ZSTD_compress2(cctx, frame.data(), frame.size(), neu.data(), neu.size());
        ok = !ZSTD_isError(n);
        frame.resize(ok ? n : 0);
        frame.shrink_to_fit();
    }
    ZSTD_freeCCtx(cctx);
    return ok;
}

Outcome applyZstdChunk(const Chunk& chunk, Bytes ref, DiffReader& reader, std::uint64_t offset, NewSink& sink) {
    RangeStream source(reader, offset, chunk.sizes[0]);
    ZstdInput input(source, ref, zstdWindowLog(chunk.refSize, chunk.newSize));
    std::vector<std::uint8_t> out(1 << 20);
    std::uint64_t left = chunk.newSize;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), left));
        std::size_t got = 0;
        if (!input.read(out.data(), want, got) || got != want) return Outcome::corrupt;
        const Outcome o = sink.write(out.data(), got);
        if (o != Outcome::ok) return o;
        left -= got;
    }
    // The frame must end exactly here (its checksum is checked as it ends).
    std::uint8_t extra = 0;
    std::size_t got = 0;
    if (!input.read(&extra, 1, got) || got != 0 || !input.finished()) return Outcome::corrupt;
    return Outcome::ok;
}

}  // namespace quadrel
