// The patch folder's config.xml and manifest.xml judged as the patcher reads them, before they are
// carried: what the patcher would refuse, or silently pass over, is named with its line.
#pragma once
#include <string>
#include <vector>

namespace mwbuild {

// "config.xml line 12: ..." per finding; empty when the patcher reads both as meant.
std::vector<std::string> checkConfig(const std::string& bytes);
std::vector<std::string> checkManifest(const std::string& bytes);

}  // namespace mwbuild
