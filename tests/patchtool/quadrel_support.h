// Making and applying difference files in the test process, and sample data.
#pragma once
#include <cstdint>
#include <filesystem>
#include <random>
#include <string>

#include "outside/quadrel/differ.h"
#include "outside/quadrel/md5.h"

namespace quadrel_test {

inline quadrel::Bytes bytes(const std::string& s) {
    return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

inline std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::string out(size, '\0');
    for (auto& c : out) c = static_cast<char>(rng() & 0xff);
    return out;
}

// A made-up "native code" update: the same bytes with scattered small changes, an insertion and a
// removed block, as between two builds.
inline std::string edited(std::string s, unsigned seed) {
    std::mt19937 rng(seed);
    for (std::size_t i = 0; i < s.size() / 512; ++i) s[rng() % s.size()] ^= 0x5a;
    if (s.size() > 4096) {
        s.insert(s.size() / 3, randomBytes(777, seed + 1));
        s.erase(s.size() / 2, 1000);
    }
    return s;
}

struct VectorSink : quadrel::NewSink {
    std::string data;
    quadrel::Outcome write(const std::uint8_t* p, std::size_t n) override {
        data.append(reinterpret_cast<const char*>(p), n);
        return quadrel::Outcome::ok;
    }
};

// Applies `diff` to `old` in memory: ok only when the header parses, every chunk applies and the
// result has the header's checksum.
inline quadrel::Outcome applyInMemory(const std::string& diff, const std::string& old, std::string& result) {
    quadrel::MemoryReader reader(bytes(diff));
    quadrel::Header h;
    if (!quadrel::parseHeader(reader, h)) return quadrel::Outcome::corrupt;
    if (h.oldSize != old.size() || h.oldMd5 != quadrel::md5Of(bytes(old))) return quadrel::Outcome::corrupt;
    VectorSink sink;
    const quadrel::Outcome o = quadrel::applyDifference(h, reader, bytes(old), sink);
    if (o != quadrel::Outcome::ok) return o;
    if (quadrel::md5Of(bytes(sink.data)) != h.newMd5) return quadrel::Outcome::corrupt;
    result = sink.data;
    return o;
}

}  // namespace quadrel_test
