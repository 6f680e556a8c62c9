// The differences of changed files, made by qdiff several at a time. Each job's outcome depends on its own
// files only, so the patch folder is the same whatever the number of workers.
#pragma once
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace mwbuild {

struct DifferenceJob {
    std::filesystem::path oldFile, newFile;
    std::filesystem::path out;  // the payload file; removed again unless `patched`
    std::string name;           // the file the difference names inside its folder
    bool patched = false;       // the difference costs less in the payload archive than the new file
    std::uintmax_t size = 0;    // of the difference, when patched
};

// The size of the file deflated as the payload archive deflates its entries; 0 when it cannot be read.
std::uintmax_t deflatedSize(const std::filesystem::path& file);

// What a payload file costs in the payload archive: its entry's two headers, each holding the name, and
// its data deflated.
std::uintmax_t archiveCost(const std::filesystem::path& file, const std::string& entryName);

// Runs every job on `workers` threads (0: one per core); with `progress`, a line on `out` that counts
// the files done.
void runDifferenceJobs(const std::filesystem::path& qdiff, std::vector<DifferenceJob>& jobs, unsigned workers,
                       bool progress, std::ostream& out);

}  // namespace mwbuild
