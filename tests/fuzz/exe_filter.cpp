// The address rewrite of the "exe" difference method and its reader. Any input is rewritten and must
// come back byte for byte; the rewritten form, damaged at a place the input picks, and the input itself
// go through the reader, and the input is applied as an "exe" chunk's data. Must hold besides no crash:
// the reader never gives more than its bound, the chunk never more than its size.
#include <cstdint>
#include <cstring>
#include <string>

#include "outside/quadrel/exe_filter.h"
#include "outside/quadrel/methods.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Bytes = std::span<const std::uint8_t>;
Bytes view(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

struct CountingSink : quadrel::NewSink {
    std::uint64_t written = 0;
    quadrel::Outcome write(const std::uint8_t*, std::size_t n) override {
        written += n;
        return quadrel::Outcome::ok;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes input(data, size);
    const std::string form = quadrel::encodeExe(input);
    std::string back;
    FUZZ_CHECK(quadrel::decodeExe(view(form), size, back), "a rewritten form was refused");
    FUZZ_CHECK(back.size() == size && (size == 0 || std::memcmp(back.data(), data, size) == 0),
               "the rewrite did not come back byte for byte");

    if (!form.empty()) {
        std::string damaged = form;
        std::uint64_t h = 0;
        for (std::size_t i = 0; i < size && i < 64; ++i) h = h * 131 + data[i];
        damaged[h % damaged.size()] = static_cast<char>(damaged[h % damaged.size()] ^ (1 << (h % 8)));
        if (quadrel::decodeExe(view(damaged), size + 64, back)) FUZZ_CHECK(back.size() <= size + 64, "over the bound");
    }
    if (quadrel::decodeExe(input, 1 << 20, back)) FUZZ_CHECK(back.size() <= (1u << 20), "over the bound");

    // The input as an "exe" chunk turning a fixed small image into 4096 bytes.
    static const std::string old = [] {
        std::string s(2048, '\0');
        for (std::size_t i = 0; i < s.size(); ++i) s[i] = static_cast<char>(i % 5 == 0 ? 0xe8 : i * 7);
        return s;
    }();
    quadrel::Chunk chunk;
    chunk.method = quadrel::Method::exe;
    chunk.refSize = old.size();
    chunk.newSize = 4096;
    chunk.sizes = {size, 0, 0};
    quadrel::MemoryReader reader(input);
    CountingSink sink;
    const quadrel::Outcome o = quadrel::applyChunk(chunk, view(old), reader, 0, sink);
    FUZZ_CHECK(sink.written <= chunk.newSize && (o != quadrel::Outcome::ok || sink.written == chunk.newSize),
               "the chunk wrote " + std::to_string(sink.written) + " bytes");
    return 0;
}
