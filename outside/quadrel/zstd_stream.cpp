#include "outside/quadrel/zstd_stream.h"

namespace quadrel {

ZstdInput::ZstdInput(RangeStream& source, Bytes prefix, int windowLogMax)
    : source_(source), dctx_(ZSTD_createDCtx()) {
    broken_ = dctx_ == nullptr ||
              ZSTD_isError(ZSTD_DCtx_setParameter(dctx_, ZSTD_d_windowLogMax, windowLogMax)) ||
              (!prefix.empty() && ZSTD_isError(ZSTD_DCtx_refPrefix(dctx_, prefix.data(), prefix.size())));
    in_.src = buffer_.data();
}

ZstdInput::~ZstdInput() { ZSTD_freeDCtx(dctx_); }

bool ZstdInput::read(std::uint8_t* buffer, std::size_t count, std::size_t& got) {
    got = 0;
    if (broken_) return false;
    while (got < count && !frameDone_) {
        if (in_.pos == in_.size) {
            std::size_t n = 0;
            if (!source_.read(buffer_.data(), buffer_.size(), n) || n == 0) {
                broken_ = true;
                return false;
            }
            in_ = {buffer_.data(), n, 0};
        }
        ZSTD_outBuffer out{buffer + got, count - got, 0};
        const std::size_t r = ZSTD_decompressStream(dctx_, &out, &in_);
        if (ZSTD_isError(r)) {
            broken_ = true;
            return false;
        }
        got += out.pos;
        if (r == 0) frameDone_ = true;
    }
    return true;
}

}  // namespace quadrel
