#include "outside/quadrel/exe_filter.h"

#include <algorithm>
#include <cstring>

#include "outside/quadrel/exe_labels.h"
#include "outside/quadrel/exe_layout.h"

namespace quadrel {
namespace {

constexpr char kMagic[4] = {'Q', 'X', 'F', '\x01'};
constexpr std::uint8_t kPlain = 0;
constexpr std::uint8_t kRewritten = 1;
constexpr std::uint64_t kMaxRegions = 4096;

enum class Site { rel, abs32, abs64 };

// One-byte opcodes taking a ModRM operand and no immediate (moves, lea, arithmetic, tests, exchanges):
// with ModRM mod 00 r/m 101 the four bytes after it are a RIP-relative (x86-64) or absolute (x86) address.
bool takesModrm(std::uint8_t op) {
    switch (op) {
        case 0x01: case 0x03: case 0x09: case 0x0b: case 0x13: case 0x1b: case 0x21: case 0x23:
        case 0x29: case 0x2b: case 0x31: case 0x33: case 0x39: case 0x3b: case 0x63: case 0x84:
        case 0x85: case 0x86: case 0x87: case 0x88: case 0x89: case 0x8a: case 0x8b: case 0x8d:
        case 0x02: case 0x0a: case 0x22: case 0x2a: case 0x32: case 0x38: case 0x3a:
            return true;
        default:
            return false;
    }
}

std::uint64_t load(const std::uint8_t* p, int n) {
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}
void store(std::uint8_t* p, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Calls `visit(site, operand position, address after the operand)` for every place in the region
// that may hold an address; a negative answer stops the walk. Code is scanned past each operand
// whatever became of it, so the places found depend only on bytes no rewrite touches and the decoder
// walks through exactly the places the encoder did.
template <class Visit>
bool walk(const Region& r, std::uint8_t* d, Visit&& visit) {
    const std::uint64_t end = r.offset + r.size;
    if (r.kind == RegionKind::words32 || r.kind == RegionKind::words64) {
        const std::uint64_t w = r.kind == RegionKind::words32 ? 4 : 8;
        const Site s = w == 4 ? Site::abs32 : Site::abs64;
        std::uint64_t p = r.offset + (w - r.address % w) % w;
        for (; p + w <= end && p + w > p; p += w) {
            if (visit(s, p, 0) < 0) return false;
        }
        return true;
    }
    const bool wide = r.kind == RegionKind::code64;
    for (std::uint64_t p = r.offset; p + 5 <= end;) {
        const std::uint8_t b = d[p], n = d[p + 1];
        std::uint64_t k = 0;
        Site s = Site::rel;
        if (b == 0xe8 || b == 0xe9) {
            k = 1;
        } else if (b == 0x0f && (n & 0xf0) == 0x80) {
            k = 2;
        } else if (wide) {
            if ((b & 0xf0) == 0x40 && p + 7 <= end && takesModrm(n) && (d[p + 2] & 0xc7) == 0x05)
                k = 3;
            else if ((takesModrm(b) && (n & 0xc7) == 0x05) || (b == 0xff && (n == 0x15 || n == 0x25)))
                k = 2;
        } else {
            s = Site::abs32;
            if ((takesModrm(b) && (n & 0xc7) == 0x05) || (b == 0xff && (n == 0x15 || n == 0x25)) ||
                (b == 0xc7 && n == 0x05))
                k = 2;
            else if (b == 0xa1 || b == 0xa3 || b == 0x68 || (b >= 0xb8 && b <= 0xbf))
                k = 1;
        }
        if (k == 0 || p + k + 4 > end) {
            ++p;
            continue;
        }
        const std::uint64_t at = p + k;
        if (visit(s, at, r.address + (at + 4 - r.offset)) < 0) return false;
        p = at + 4;
    }
    return true;
}

bool is32(RegionKind k) { return k == RegionKind::code32 || k == RegionKind::words32; }

// The target of a rel32 operand, in the width of the code.
std::uint64_t relTarget(bool wide, std::uint64_t after, std::uint32_t rel) {
    if (wide) return after + static_cast<std::uint64_t>(static_cast<std::int64_t>(static_cast<std::int32_t>(rel)));
    return static_cast<std::uint32_t>(after + rel);
}

void putVarint(std::string& out, std::uint64_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
}

struct Cursor {
    std::span<const std::uint8_t> b;
    std::size_t at = 0;
    bool ok = true;
    std::uint64_t varint() {
        std::uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            if (at >= b.size()) break;
            const std::uint8_t c = b[at++];
            v |= static_cast<std::uint64_t>(c & 0x7f) << shift;
            if ((c & 0x80) == 0) {
                if (shift == 63 && c > 1) break;
                return v;
            }
        }
        ok = false;
        return 0;
    }
    std::size_t left() const { return b.size() - at; }
};

struct Ref {
    std::uint64_t at;
    Site site;
    std::uint64_t target;
};

std::string header(std::uint8_t kind) {
    std::string out(kMagic, 4);
    out.push_back(static_cast<char>(kind));
    return out;
}

}  // namespace

std::uint64_t maxEncodedSize(std::uint64_t size) { return 4 * size + (1u << 20); }

bool isRewritable(std::span<const std::uint8_t> image) {
    Layout l;
    return readLayout(image, l);
}

std::string encodeExeRaw(std::span<const std::uint8_t> image) {
    std::string out = header(kPlain);
    out.append(reinterpret_cast<const char*>(image.data()), image.size());
    return out;
}

std::string encodeExe(std::span<const std::uint8_t> image, const ExeLabels* reference, ExeLabels* labels) {
    if (labels != nullptr) *labels = {};
    Layout l;
    if (!readLayout(image, l)) return encodeExeRaw(image);
    for (const Region& r : l.regions) {
        if (is32(r.kind) && l.high > (1ull << 32)) return encodeExeRaw(image);
    }
    std::string body(reinterpret_cast<const char*>(image.data()), image.size());
    auto* d = reinterpret_cast<std::uint8_t*>(body.data());

    // Every address operand pointing into the image, and the rel32 operands left alone whose bytes
    // could be read as an index.
    std::vector<Ref> refs;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> plainRel;
    for (const Region& r : l.regions) {
        const bool wide = r.kind == RegionKind::code64;
        walk(r, d, [&](Site s, std::uint64_t at, std::uint64_t after) -> int {
            const std::uint64_t raw = load(d + at, s == Site::abs64 ? 8 : 4);
            const std::uint64_t target =
                s == Site::rel ? relTarget(wide, after, static_cast<std::uint32_t>(raw)) : raw;
            if (target >= l.low && target < l.high) {
                refs.push_back({at, s, target});
                return 1;
            }
            if (s == Site::rel && raw < l.high - l.low) plainRel.emplace_back(at, static_cast<std::uint32_t>(raw));
            return 0;
        });
    }
    std::vector<std::uint64_t> sorted;
    sorted.reserve(refs.size());
    for (const Ref& r : refs) sorted.push_back(r.target);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());

    std::string masked = body;
    for (const Ref& r : refs) std::memset(masked.data() + r.at, 0, r.site == Site::abs64 ? 8 : 4);
    std::vector<std::uint64_t> prints(sorted.size());
    for (std::size_t j = 0; j < sorted.size(); ++j) prints[j] = labelPrint(masked, l, sorted[j]);

    std::uint64_t count = sorted.size();
    std::vector<std::uint64_t> index;
    if (reference != nullptr && reference->addresses.size() == reference->prints.size())
        index = alignLabels(*reference, sorted, prints, count);
    if (index.empty() || count > l.high - l.low || count > image.size()) {
        count = sorted.size();
        index.resize(sorted.size());
        for (std::size_t j = 0; j < sorted.size(); ++j) index[j] = j;
    }
    // The table in index order; an index nothing here uses repeats the entry before it.
    std::vector<std::uint64_t> table(count, UINT64_MAX), tablePrints(count, 0);
    for (std::size_t j = 0; j < sorted.size(); ++j) {
        table[index[j]] = sorted[j];
        tablePrints[index[j]] = prints[j];
    }
    for (std::size_t i = 0; i < count; ++i) {
        if (table[i] == UINT64_MAX) table[i] = i == 0 ? l.low : table[i - 1];
    }

    for (const Ref& r : refs) {
        const std::size_t j = static_cast<std::size_t>(std::lower_bound(sorted.begin(), sorted.end(), r.target) - sorted.begin());
        if (r.site == Site::rel) store(d + r.at, index[j], 4);
        else store(d + r.at, l.low + index[j], r.site == Site::abs64 ? 8 : 4);
    }

    std::string out = header(kRewritten);
    putVarint(out, body.size());
    putVarint(out, l.low);
    putVarint(out, l.high);
    putVarint(out, l.regions.size());
    for (const Region& r : l.regions) {
        out.push_back(static_cast<char>(r.kind));
        putVarint(out, r.offset);
        putVarint(out, r.size);
        putVarint(out, r.address);
    }
    putVarint(out, count);
    std::uint64_t last = 0;
    for (std::uint64_t a : table) {
        const std::uint64_t delta = a - last;
        putVarint(out, (delta << 1) ^ (static_cast<std::uint64_t>(static_cast<std::int64_t>(delta) >> 63)));
        last = a;
    }
    std::vector<std::uint64_t> exceptions;
    for (const auto& [at, raw] : plainRel) {
        if (raw < count) exceptions.push_back(at);
    }
    putVarint(out, exceptions.size());
    std::uint64_t next = 0;
    for (std::uint64_t at : exceptions) {
        putVarint(out, at - next);
        next = at + 1;
    }
    out += body;
    if (out.size() > maxEncodedSize(image.size())) return encodeExeRaw(image);
    if (labels != nullptr) {
        labels->addresses = sorted;
        labels->prints = prints;
        if (reference != nullptr) {  // a reference-aligned table is only ever a new side
            labels->addresses = table;
            labels->prints = tablePrints;
        }
    }
    return out;
}

bool decodeExe(std::span<const std::uint8_t> encoded, std::uint64_t maxSize, std::string& image) {
    image.clear();
    if (encoded.size() < 5 || std::memcmp(encoded.data(), kMagic, 4) != 0) return false;
    if (encoded[4] == kPlain) {
        if (encoded.size() - 5 > maxSize) return false;
        image.assign(reinterpret_cast<const char*>(encoded.data() + 5), encoded.size() - 5);
        return true;
    }
    if (encoded[4] != kRewritten) return false;
    Cursor c{encoded, 5};
    const std::uint64_t size = c.varint();
    Layout l;
    l.low = c.varint();
    l.high = c.varint();
    const std::uint64_t regions = c.varint();
    if (!c.ok || size > maxSize || l.low >= l.high || regions == 0 || regions > kMaxRegions) return false;
    std::uint64_t covered = 0;
    for (std::uint64_t i = 0; i < regions; ++i) {
        if (c.left() < 1) return false;
        const std::uint8_t kind = encoded[c.at++];
        Region r{static_cast<RegionKind>(kind), c.varint(), c.varint(), c.varint()};
        if (!c.ok || kind < 1 || kind > 4 || r.size == 0 || r.offset < covered || r.offset > size ||
            r.size > size - r.offset || (is32(r.kind) && l.high > (1ull << 32)))
            return false;
        covered = r.offset + r.size;
        l.regions.push_back(r);
    }
    const std::uint64_t count = c.varint();
    if (!c.ok || count > c.left() || count > l.high - l.low) return false;
    std::vector<std::uint64_t> table(static_cast<std::size_t>(count));
    std::uint64_t last = 0;
    for (std::uint64_t& a : table) {
        const std::uint64_t z = c.varint();
        last += (z >> 1) ^ (0 - (z & 1));
        a = last;
    }
    const std::uint64_t exceptionCount = c.varint();
    if (!c.ok || exceptionCount > c.left()) return false;
    std::vector<std::uint64_t> exceptions(static_cast<std::size_t>(exceptionCount));
    std::uint64_t next = 0;
    for (std::uint64_t& at : exceptions) {
        const std::uint64_t gap = c.varint();
        if (gap > size || next > size - gap) return false;
        at = next + gap;
        next = at + 1;
    }
    if (!c.ok || c.left() != size) return false;
    image.assign(reinterpret_cast<const char*>(encoded.data() + c.at), static_cast<std::size_t>(size));
    auto* d = reinterpret_cast<std::uint8_t*>(image.data());
    std::size_t e = 0;
    for (const Region& r : l.regions) {
        const bool wide = r.kind == RegionKind::code64;
        const bool ok = walk(r, d, [&](Site s, std::uint64_t at, std::uint64_t after) -> int {
            const int width = s == Site::abs64 ? 8 : 4;
            const std::uint64_t v = load(d + at, width);
            if (s == Site::rel) {
                const bool listed = e < exceptions.size() && exceptions[e] == at;
                if (listed) ++e;
                if ((v < count) == listed) return 0;
                if (v >= count) return -1;
                const std::uint64_t target = table[static_cast<std::size_t>(v)];
                store(d + at, target - relTarget(wide, after, 0), 4);
                return 1;
            }
            if (v < l.low || v >= l.high) return 0;
            if (v - l.low >= count) return -1;
            store(d + at, table[static_cast<std::size_t>(v - l.low)], width);
            return 1;
        });
        if (!ok) {
            image.clear();
            return false;
        }
    }
    if (e != exceptions.size()) {
        image.clear();
        return false;
    }
    return true;
}

}  // namespace quadrel
