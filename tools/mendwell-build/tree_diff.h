// `mendwell-build diff`: turns an old and a new product tree into a patch folder (config.xml, manifest.xml,
// payload/) that `assemble` makes into a patcher. Deterministic: the same trees give the same bytes.
#pragma once
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace mwbuild {

struct DiffRequest {
    std::filesystem::path oldTree;
    std::filesystem::path newTree;
    std::filesystem::path config;  // copied into the patch folder
    std::filesystem::path output;  // the patch folder; must be missing or empty
    std::filesystem::path
        extras;  // services, registry, Add/Remove entries; "" = patch-extras.xml beside config
    std::filesystem::path rules;   // optional rule file (blindoverwrite GLOB per line)
    std::filesystem::path binDir;  // where qdiff is
    std::wstring installToken = L"[INSTALLDIR]";
    unsigned jobs = 0;      // differences made at once; 0: one per core
    bool progress = false;  // count the differences made on the output (for a terminal)
};

// Counts of what the manifest does, for the summary line and the tests.
struct DiffSummary {
    int added = 0, removed = 0, renamed = 0, patched = 0, overwritten = 0, blind = 0, unchanged = 0;
    int foldersAdded = 0, foldersRemoved = 0;
    std::uintmax_t payloadBytes = 0;
};

// False with one "mendwell-build: ..." line per problem on `err`, each naming its file; nothing is left
// in the output folder then.
bool diffTrees(const DiffRequest& request, std::ostream& out, std::ostream& err, DiffSummary& summary);

}  // namespace mwbuild
