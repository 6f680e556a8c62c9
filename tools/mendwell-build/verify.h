// `mendwell-build verify`: applies a patcher on fresh machines seeded with the old tree and checks the
// outcome byte for byte: the patched product equals the new tree, and a run made to fail on its last
// entry leaves the old tree exactly as it was.
#pragma once
#include <filesystem>
#include <ostream>
#include <string>

namespace mwbuild {

struct VerifyRequest {
    std::filesystem::path patcher;
    std::filesystem::path oldTree;
    std::filesystem::path newTree;
    std::filesystem::path binDir;  // machine and tally
    std::wstring installDir;       // "" = C:\Program Files\Orvex\<product name>
    bool keep = false;             // leave the machines for a look
};

bool verifyPatcher(const VerifyRequest& request, std::ostream& out, std::ostream& err);

}  // namespace mwbuild
