// The label table of a rewritten executable: fingerprints of what lies at each label, and giving a new
// build's labels the indexes of the old build's labels they correspond to.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "outside/quadrel/exe_layout.h"

namespace quadrel {

// Labels in index order, with a fingerprint of the code or data at each (0: none).
struct ExeLabels {
    std::vector<std::uint64_t> addresses;
    std::vector<std::uint64_t> prints;
};

// The fingerprint of the bytes at `address` in `masked` (the image with every rewritten operand zeroed).
std::uint64_t labelPrint(const std::string& masked, const Layout& layout, std::uint64_t address);

// Gives each label of `mine` (sorted addresses) an index: the reference's index of the label it
// corresponds to, or one past the reference's when none does; `count` receives the table size.
std::vector<std::uint64_t> alignLabels(const ExeLabels& reference, const std::vector<std::uint64_t>& mine,
                                       const std::vector<std::uint64_t>& prints, std::uint64_t& count);

}  // namespace quadrel
