// "match": approximate matches against a suffix array of the old range, in the manner of bsdiff.
// Each match contributes byte differences (mostly zeros when only addresses moved), the bytes between
// matches go to the extra stream, and the control stream holds (difference length, extra length,
// old seek) triples as varints.
#include <divsufsort.h>
#include <zstd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "outside/quadrel/methods.h"
#include "outside/quadrel/zstd_stream.h"

namespace quadrel {
namespace {

using i64 = std::int64_t;
constexpr int kStreamWindowLog = 23;  // keeps each stream's decoder within 8 MiB

i64 matchLength(const std::uint8_t* a, i64 aSize, const std::uint8_t* b, i64 bSize) {
    const i64 n = std::min(aSize, bSize);
    i64 i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Longest match of `neu` among the suffixes sa[lo..hi].
i64 search(const std::vector<saidx_t>& sa, Bytes old, const std::uint8_t* neu, i64 neuSize, i64 lo, i64 hi,
           i64& pos) {
    const i64 oldSize = static_cast<i64>(old.size());
    while (hi - lo >= 2) {
        const i64 mid = lo + (hi - lo) / 2;
        const i64 at = sa[static_cast<std::size_t>(mid)];
        // Compared by hand up to the first difference: memcmp over the whole length costs as much as
        // the length under some tools, which makes the search quadratic.
        const i64 n = std::min(oldSize - at, neuSize);
        const i64 same = matchLength(old.data() + at, n, neu, n);
        if (same < n && old[static_cast<std::size_t>(at + same)] < neu[same])
            lo = mid;
        else
            hi = mid;
    }
    const i64 a = sa[static_cast<std::size_t>(lo)];
    const i64 b = sa[static_cast<std::size_t>(hi)];
    const i64 x = matchLength(old.data() + a, oldSize - a, neu, neuSize);
    const i64 y = matchLength(old.data() + b, oldSize - b, neu, neuSize);
    pos = x > y ? a : b;
    return std::max(x, y);
}

void putVarint(std::string& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
}

bool compress(const std::string& raw, std::string& out) {
    ZSTD_CCtx* cctx = ZSTD_createCCtx();
    if (cctx == nullptr) return false;
    // No frame checksum: the new file's MD5 in the header checks the whole result.
    bool ok = !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, 19)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_windowLog, kStreamWindowLog)) &&
              !ZSTD_isError(ZSTD_CCtx_setParameter(cctx, ZSTD_c_checksumFlag, 0));
    if (ok) {
        out.resize(ZSTD_compressBound(raw.size()));
        const std::size_t n = ZSTD_compress2(cctx, out.data(), out.size(), raw.data(), raw.size());
        ok = !ZSTD_isError(n);
        out.resize(ok ? n : 0);
        out.shrink_to_fit();
    }
    ZSTD_freeCCtx(cctx);
    return ok;
}

bool readVarint(ZstdInput& in, std::uint64_t& v) {
    v = 0;
    for (int shift = 0; shift < 64; shift += 7) {
        std::uint8_t b = 0;
        std::size_t got = 0;
        if (!in.read(&b, 1, got) || got != 1) return false;
        v |= static_cast<std::uint64_t>(b & 0x7f) << shift;
        if ((b & 0x80) == 0) return shift < 63 || b <= 1;
    }
    return false;
}

}  // namespace

bool makeMatch(Bytes old, Bytes neu, std::array<std::string, 3>& streams) {
    const i64 oldSize = static_cast<i64>(old.size());
    const i64 newSize = static_cast<i64>(neu.size());
    if (oldSize >= std::numeric_limits<saidx_t>::max()) return false;
    std::vector<saidx_t> sa(old.size() + 1);
    if (oldSize > 0 && divsufsort(old.data(), sa.data(), static_cast<saidx_t>(oldSize)) != 0) return false;

    std::string ctrl, diff, extra;
    diff.reserve(neu.size());
    i64 scan = 0, len = 0, pos = 0, lastScan = 0, lastPos = 0, lastOffset = 0;
    while (scan < newSize) {
        i64 oldScore = 0;
        i64 scsc = scan += len;
        for (; scan < newSize; ++scan) {
            len = oldSize == 0 ? 0 : search(sa, old, neu.data() + scan, newSize - scan, 0, oldSize - 1, pos);
            for (; scsc < scan + len; ++scsc) {
                if (scsc + lastOffset < oldSize && old[scsc + lastOffset] == neu[scsc]) ++oldScore;
            }
            if ((len == oldScore && len != 0) || len > oldScore + 8) break;
            if (scan + lastOffset < oldSize && old[scan + lastOffset] == neu[scan]) --oldScore;
        }
        if (len == oldScore && scan != newSize) continue;

        // Extend the previous match forwards and this one backwards while they mostly agree.
        i64 lenF = 0;
        for (i64 i = 0, s = 0, best = 0; lastScan + i < scan && lastPos + i < oldSize;) {
            if (old[lastPos + i] == neu[lastScan + i]) ++s;
            ++i;
            if (s * 2 - i > best * 2 - lenF) {
                best = s;
                lenF = i;
            }
        }
        i64 lenB = 0;
        if (scan < newSize) {
            for (i64 i = 1, s = 0, best = 0; scan >= lastScan + i && pos >= i; ++i) {
                if (old[pos - i] == neu[scan - i]) ++s;
                if (s * 2 - i > best * 2 - lenB) {
                    best = s;
                    lenB = i;
                }
            }
        }
        if (lastScan + lenF > scan - lenB) {
            const i64 overlap = (lastScan + lenF) - (scan - lenB);
            i64 s = 0, best = 0, lenS = 0;
            for (i64 i = 0; i < overlap; ++i) {
                if (neu[lastScan + lenF - overlap + i] == old[lastPos + lenF - overlap + i]) ++s;
                if (neu[scan - lenB + i] == old[pos - lenB + i]) --s;
                if (s > best) {
                    best = s;
                    lenS = i + 1;
                }
            }
            lenF += lenS - overlap;
            lenB -= lenS;
        }
        for (i64 i = 0; i < lenF; ++i)
            diff.push_back(static_cast<char>(neu[lastScan + i] - old[lastPos + i]));
        const i64 extraLen = (scan - lenB) - (lastScan + lenF);
        extra.append(reinterpret_cast<const char*>(neu.data() + lastScan + lenF), static_cast<std::size_t>(extraLen));
        const i64 seek = (pos - lenB) - (lastPos + lenF);
        putVarint(ctrl, static_cast<std::uint64_t>(lenF));
        putVarint(ctrl, static_cast<std::uint64_t>(extraLen));
        putVarint(ctrl, (static_cast<std::uint64_t>(seek) << 1) ^ static_cast<std::uint64_t>(seek >> 63));
        lastScan = scan - lenB;
        lastPos = pos - lenB;
        lastOffset = pos - scan;
    }
    std::vector<saidx_t>().swap(sa);
    return compress(ctrl, streams[0]) && compress(diff, streams[1]) && compress(extra, streams[2]);
}

Outcome applyMatchChunk(const Chunk& chunk, Bytes old, DiffReader& reader, std::uint64_t offset, NewSink& sink) {
    RangeStream ctrlRange(reader, offset, chunk.sizes[0]);
    RangeStream diffRange(reader, offset + chunk.sizes[0], chunk.sizes[1]);
    RangeStream extraRange(reader, offset + chunk.sizes[0] + chunk.sizes[1], chunk.sizes[2]);
    ZstdInput ctrl(ctrlRange, {}, kStreamWindowLog);
    ZstdInput diff(diffRange, {}, kStreamWindowLog);
    ZstdInput extra(extraRange, {}, kStreamWindowLog);
    std::vector<std::uint8_t> buffer(1 << 16);
    const std::uint64_t oldSize = old.size();
    std::uint64_t left = chunk.newSize;
    std::uint64_t oldPos = 0;  // kept within [0, oldSize] between steps
    while (left > 0) {
        std::uint64_t addLen = 0, extraLen = 0, seekCode = 0;
        if (!readVarint(ctrl, addLen) || !readVarint(ctrl, extraLen) || !readVarint(ctrl, seekCode))
            return Outcome::corrupt;
        if (addLen > left || addLen > oldSize - oldPos) return Outcome::corrupt;
        for (std::uint64_t done = 0; done < addLen;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), addLen - done));
            std::size_t got = 0;
            if (!diff.read(buffer.data(), n, got) || got != n) return Outcome::corrupt;
            const std::uint8_t* o = old.data() + oldPos + done;
            for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<std::uint8_t>(buffer[i] + o[i]);
            if (Outcome r = sink.write(buffer.data(), n); r != Outcome::ok) return r;
            done += n;
        }
        left -= addLen;
        oldPos += addLen;
        if (extraLen > left) return Outcome::corrupt;
        for (std::uint64_t done = 0; done < extraLen;) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), extraLen - done));
            std::size_t got = 0;
            if (!extra.read(buffer.data(), n, got) || got != n) return Outcome::corrupt;
            if (Outcome r = sink.write(buffer.data(), n); r != Outcome::ok) return r;
            done += n;
        }
        left -= extraLen;
        const std::uint64_t magnitude = seekCode >> 1;
        if ((seekCode & 1) == 0) {
            if (magnitude > oldSize - oldPos) return Outcome::corrupt;
            oldPos += magnitude;
        } else {
            // Negative: zigzag maps -1 to 1, so the magnitude is one more than the stored half.
            if (magnitude + 1 > oldPos) return Outcome::corrupt;
            oldPos -= magnitude + 1;
        }
    }
    std::uint8_t probe = 0;
    std::size_t got = 0;
    for (ZstdInput* s : {&ctrl, &diff, &extra}) {
        if (!s->read(&probe, 1, got) || got != 0 || !s->finished()) return Outcome::corrupt;
    }
    return Outcome::ok;
}

Outcome applyZstdChunk(const Chunk& chunk, Bytes ref, DiffReader& reader, std::uint64_t offset, NewSink& sink);
Outcome applyExeChunk(const Chunk& chunk, Bytes ref, DiffReader& reader, std::uint64_t offset, NewSink& sink);

Outcome applyChunk(const Chunk& chunk, Bytes ref, DiffReader& reader, std::uint64_t offset, NewSink& sink) {
    if (chunk.method == Method::exe) return applyExeChunk(chunk, ref, reader, offset, sink);
    return chunk.method == Method::zstd ? applyZstdChunk(chunk, ref, reader, offset, sink)
                                        : applyMatchChunk(chunk, ref, reader, offset, sink);
}

}  // namespace quadrel
