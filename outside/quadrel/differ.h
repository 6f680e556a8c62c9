// Making and applying whole difference files from byte views (used by qdiff, the engine and tests).
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "outside/quadrel/methods.h"

namespace quadrel {

// automatic: the smallest of the three methods ("exe" only for an executable made of one chunk and
// no larger than kAutoExeLimit).
enum class Request { automatic, zstd, match, exe };

// Rewriting and differencing both images takes about half an hour on a 110 MB pair; "automatic" leaves
// larger images to the other methods, an explicit "exe" request still makes it.
constexpr std::uint64_t kAutoExeLimit = 64ull << 20;

// New ranges and their old reference ranges. Below kChunkThreshold one chunk covers both files;
// above it the new file is cut into `chunkSize` pieces, each referring to the old range at the same
// relative position widened by an eighth of a chunk on both sides.
std::vector<Chunk> planChunks(std::uint64_t oldSize, std::uint64_t newSize, std::uint64_t chunkSize = kDefaultChunk,
                              std::uint64_t threshold = kChunkThreshold);

struct MakeReport {
    std::uint64_t fileSize = 0;
    std::uint64_t zstdBytes = 0;   // summed over chunks where made
    std::uint64_t matchBytes = 0;
    std::uint64_t exeBytes = 0;
    Method method = Method::zstd;
};

// Writes OUT (replacing it). False with a message in `error`.
bool makeDifference(Bytes old, Bytes neu, const std::string& name, Request request, const std::filesystem::path& out,
                    MakeReport& report, std::string& error, std::uint64_t chunkSize = kDefaultChunk,
                    std::uint64_t threshold = kChunkThreshold);

// Applies every chunk in order to `sink` (the caller checks the old file and the new checksum).
Outcome applyDifference(const Header& header, DiffReader& reader, Bytes old, NewSink& sink);

}  // namespace quadrel
