#include "outside/quadrel/differ.h"

#include <algorithm>
#include <fstream>

#include "outside/quadrel/exe_filter.h"
#include "outside/quadrel/md5.h"

namespace quadrel {

std::vector<Chunk> planChunks(std::uint64_t oldSize, std::uint64_t newSize, std::uint64_t chunkSize,
                              std::uint64_t threshold) {
    std::vector<Chunk> chunks;
    if (std::max(oldSize, newSize) < threshold || chunkSize == 0) {
        Chunk c;
        c.refSize = oldSize;
        c.newSize = newSize;
        chunks.push_back(c);
        return chunks;
    }
    const std::uint64_t margin = chunkSize / 8;
    for (std::uint64_t start = 0; start < newSize; start += chunkSize) {
        Chunk c;
        c.newSize = std::min(chunkSize, newSize - start);
        // The matching old position, scaled when the file grew or shrank.
        const auto scaled = [&](std::uint64_t at) {
            return static_cast<std::uint64_t>(static_cast<unsigned __int128>(at) * oldSize / newSize);
        };
        const std::uint64_t from = scaled(start);
        const std::uint64_t to = scaled(start + c.newSize);
        c.refOffset = from > margin ? from - margin : 0;
        c.refSize = std::min(oldSize, to + margin) - c.refOffset;
        chunks.push_back(c);
    }
    return chunks;
}

bool makeDifference(Bytes old, Bytes neu, const std::string& name, Request request, const std::filesystem::path& out,
                    MakeReport& report, std::string& error, std::uint64_t chunkSize,
                    std::uint64_t threshold) {
    if (!isSafeName(name)) {
        error = "the name must be a plain file name: " + name;
        return false;
    }
    Header h;
    h.oldSize = old.size();
    h.newSize = neu.size();
    h.oldMd5 = md5Of(old);
    h.newMd5 = md5Of(neu);
    h.name = name;
    h.chunks = planChunks(old.size(), neu.size(), chunkSize, threshold);
    // The compact header holds the data sizes, so the data is made first and the file written at the end.
    std::vector<std::string> data;
    report = {};
    bool sawZstd = false, sawMatch = false, sawExe = false;
    std::uint64_t newStart = 0;
    for (Chunk& c : h.chunks) {
        const Bytes ref = old.subspan(c.refOffset, c.refSize);
        const Bytes part = neu.subspan(newStart, c.newSize);
        newStart += c.newSize;
        std::string frame;
        std::array<std::string, 3> streams;
        const bool wantZstd = request == Request::zstd || request == Request::automatic;
        const bool wantMatch = request == Request::match || request == Request::automatic;
        const bool wantExe = request == Request::exe ||
                             (request == Request::automatic && h.chunks.size() == 1 &&
                              std::max(old.size(), neu.size()) <= kAutoExeLimit && isRewritable(part));
        if (wantZstd && !makeZstd(ref, part, frame)) {
            error = "zstd failed to make a difference";
            return false;
        }
        if (wantMatch && !makeMatch(ref, part, streams)) {
            error = "the match method failed (out of memory?)";
            return false;
        }
        std::string exe;
        std::array<std::uint64_t, 3> exeSizes{};
        if (wantExe && !makeExe(ref, part, exe, exeSizes)) {
            error = "the exe method failed (out of memory?)";
            return false;
        }
        const std::uint64_t matchSize = streams[0].size() + streams[1].size() + streams[2].size();
        report.zstdBytes += frame.size();
        report.matchBytes += matchSize;
        report.exeBytes += exe.size();
        if (wantExe && (!wantZstd || exe.size() < frame.size()) && (!wantMatch || exe.size() < matchSize)) {
            c.method = Method::exe;
            c.sizes = exeSizes;
            data.push_back(std::move(exe));
            sawExe = true;
        } else if (wantZstd && (!wantMatch || frame.size() <= matchSize)) {
            c.method = Method::zstd;
            c.sizes = {frame.size(), 0, 0};
            data.push_back(std::move(frame));
            sawZstd = true;
        } else {
            c.method = Method::match;
            for (int s = 0; s < 3; ++s) {
                c.sizes[s] = streams[s].size();
                data.push_back(std::move(streams[s]));
            }
            sawMatch = true;
        }
    }
    h.method = int(sawZstd) + int(sawMatch) + int(sawExe) > 1 ? Method::mixed
               : sawExe                                     ? Method::exe
               : sawMatch                                   ? Method::match
                                                            : Method::zstd;
    const std::string header = encodeHeader(h);
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    file.write(header.data(), static_cast<std::streamsize>(header.size()));
    report.fileSize = header.size();
    for (const std::string& d : data) {
        file.write(d.data(), static_cast<std::streamsize>(d.size()));
        report.fileSize += d.size();
    }
    report.method = h.method;
    file.close();
    if (!file) {
        error = "cannot write " + out.string();
        return false;
    }
    return true;
}

Outcome applyDifference(const Header& h, DiffReader& reader, Bytes old, NewSink& sink) {
    std::uint64_t offset = h.dataOffset;
    for (const Chunk& c : h.chunks) {
        if (c.refOffset > old.size() || c.refSize > old.size() - c.refOffset) return Outcome::corrupt;
        const Outcome o = applyChunk(c, old.subspan(c.refOffset, c.refSize), reader, offset, sink);
        if (o != Outcome::ok) return o;
        offset += c.dataSize();
    }
    return Outcome::ok;
}

}  // namespace quadrel
