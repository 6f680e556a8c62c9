// Zip extraction into a staging folder: whatever the archive says, nothing is written outside it.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string_view>

#include "mendwell/base/zip_extractor.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;

std::set<fs::path> everythingBelow(const fs::path& root) {
    std::set<fs::path> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        out.insert(it->path());
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const fs::path archive = fuzz::host(L"C:\\Work\\Zipped\\PatchFiles.zip");
    static const fs::path staging = fuzz::host(L"C:\\Work\\StagingArea");
    static const std::set<fs::path> before = [] {
        fuzz::writeHostFile(archive, "");
        return everythingBelow(fuzz::machineRoot().parent_path());
    }();
    fuzz::writeHostFile(archive, std::string_view(reinterpret_cast<const char*>(data), size));

    char archivePath[mw::kAnsiPathBuffer];
    char stagingPath[mw::kAnsiPathBuffer];
    mw::ansiPath(L"C:\\Work\\Zipped\\PatchFiles.zip", archivePath);
    mw::ansiPath(L"C:\\Work\\StagingArea", stagingPath);
    mw::TVRZipExtractor zip;
    if (zip.open(archivePath)) zip.extractAll(stagingPath, size % 2 == 1);
    zip.close();

    const std::string stagingText = staging.string() + "/";
    const std::string machineText = fuzz::machineRoot().string() + "/";
    for (const fs::path& p : everythingBelow(fuzz::machineRoot().parent_path())) {
        if (before.count(p) || p == staging || p.string().rfind(stagingText, 0) == 0) continue;
        // The machine's own bookkeeping beside its drives (share locks, the store) is the platform's.
        if (p.string().rfind(machineText, 0) == 0 && p.string().rfind(machineText + "drive_", 0) != 0)
            continue;
        fuzz::fail("written outside the staging folder", p.string());
    }
    std::error_code ec;
    fs::remove_all(staging, ec);
    return 0;
}
