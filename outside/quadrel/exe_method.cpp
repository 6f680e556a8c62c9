// "exe": both images rewritten so that addresses no longer move with the layout (exe_filter.h), the
// rewritten new image then made from the rewritten old one with "zstd" or "match", whichever is
// smaller. The chunk's data starts with the inner method (1 byte) and the size of the rewritten new
// image (8 bytes); the first data size counts them.
#include <algorithm>
#include <cstring>

#include "outside/quadrel/exe_filter.h"
#include "outside/quadrel/methods.h"

namespace quadrel {
namespace {

constexpr std::uint64_t kPrefix = 9;

Bytes view(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

// Collects the rewritten new image, never beyond the size its prefix announced.
struct FormSink : NewSink {
    std::string data;
    std::uint64_t limit = 0;
    Outcome write(const std::uint8_t* p, std::size_t n) override {
        if (n > limit - data.size()) return Outcome::corrupt;
        data.append(reinterpret_cast<const char*>(p), n);
        return Outcome::ok;
    }
};

}  // namespace

bool makeExe(Bytes ref, Bytes neu, std::string& data, std::array<std::uint64_t, 3>& sizes) {
    ExeLabels oldLabels;
    const std::string oldForm = encodeExe(ref, nullptr, &oldLabels);
    std::string newForm = encodeExe(neu, &oldLabels);
    std::string back;
    if (!decodeExe(view(newForm), neu.size(), back) || back.size() != neu.size() ||
        (!back.empty() && std::memcmp(back.data(), neu.data(), back.size()) != 0))
        newForm = encodeExeRaw(neu);  // never expected; the difference stays right all the same
    std::string frame;
    std::array<std::string, 3> streams;
    if (!makeZstd(view(oldForm), view(newForm), frame) || !makeMatch(view(oldForm), view(newForm), streams))
        return false;
    const std::uint64_t matchSize = streams[0].size() + streams[1].size() + streams[2].size();
    const bool zstd = frame.size() <= matchSize;
    data.assign(1, static_cast<char>(zstd ? Method::zstd : Method::match));
    for (int i = 0; i < 8; ++i) data.push_back(static_cast<char>(static_cast<std::uint64_t>(newForm.size()) >> (8 * i)));
    if (zstd) {
        data += frame;
        sizes = {kPrefix + frame.size(), 0, 0};
    } else {
        for (const std::string& s : streams) data += s;
        sizes = {kPrefix + streams[0].size(), streams[1].size(), streams[2].size()};
    }
    return true;
}

Outcome applyExeChunk(const Chunk& chunk, Bytes ref, DiffReader& reader, std::uint64_t offset, NewSink& sink) {
    std::uint8_t prefix[kPrefix];
    if (chunk.sizes[0] < kPrefix || chunk.newSize > kChunkThreshold || !reader.readAt(offset, prefix, kPrefix))
        return Outcome::corrupt;
    std::uint64_t formSize = 0;
    for (int i = 7; i >= 0; --i) formSize = (formSize << 8) | prefix[1 + i];
    Chunk inner;
    inner.method = static_cast<Method>(prefix[0]);
    inner.newSize = formSize;
    inner.sizes = {chunk.sizes[0] - kPrefix, chunk.sizes[1], chunk.sizes[2]};
    if ((inner.method != Method::zstd && inner.method != Method::match) || formSize > maxEncodedSize(chunk.newSize) ||
        (inner.method == Method::zstd && (inner.sizes[1] != 0 || inner.sizes[2] != 0)))
        return Outcome::corrupt;
    const std::string oldForm = encodeExe(ref);
    inner.refSize = oldForm.size();
    FormSink form;
    form.limit = formSize;
    const Outcome o = applyChunk(inner, view(oldForm), reader, offset + kPrefix, form);
    if (o != Outcome::ok) return o;
    std::string image;
    if (!decodeExe(view(form.data), chunk.newSize, image) || image.size() != chunk.newSize) return Outcome::corrupt;
    const auto* p = reinterpret_cast<const std::uint8_t*>(image.data());
    for (std::size_t done = 0; done < image.size();) {
        const std::size_t n = std::min<std::size_t>(1 << 20, image.size() - done);
        if (Outcome r = sink.write(p + done, n); r != Outcome::ok) return r;
        done += n;
    }
    return Outcome::ok;
}

}  // namespace quadrel
