// A reversible rewrite of x86 and x86-64 executables for differencing. The addresses code and data hold
// (rel32 calls and jumps, RIP-relative and absolute operands, pointers in data and relocation tables)
// move whenever the layout shifts; the rewrite replaces each by the index of its target in a label
// table, so two builds whose layouts differ by a few bytes give mostly the same rewritten bytes.
#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "outside/quadrel/exe_labels.h"

namespace quadrel {

// The rewritten form of `image`. An image whose layout is not understood is kept as it is, behind a
// small marker. With `reference` (the labels of the build this one is differenced against), labels
// that correspond to the reference's keep its indexes. `labels`, when given, receives this image's.
std::string encodeExe(std::span<const std::uint8_t> image, const ExeLabels* reference = nullptr,
                      ExeLabels* labels = nullptr);
// An ELF or PE image of x86 or x86-64 whose layout the rewrite understands.
bool isRewritable(std::span<const std::uint8_t> image);

// The plain form only (when a rewrite does not come back exactly).
std::string encodeExeRaw(std::span<const std::uint8_t> image);

// The image back from its rewritten form; false for anything encodeExe could not have written or an
// image larger than `maxSize`.
bool decodeExe(std::span<const std::uint8_t> encoded, std::uint64_t maxSize, std::string& image);

// The most bytes the rewritten form of an image of `size` bytes may take (the decoder's bound).
std::uint64_t maxEncodedSize(std::uint64_t size);

}  // namespace quadrel
