// Deflate zip archives built in memory: the payload and the dictionaries go into the patcher's resources
// as whole archives, so nothing is staged on disk.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace mwbuild {

// Zips every regular file below `folder`, entries named by their path relative to it with '/' and
// sorted, so the same folder always gives the same archive; `prefix` (e.g. "TVRLocalization/") goes before
// every name. False with a message naming the file.
bool zipFolder(const std::filesystem::path& folder, const std::string& prefix,
               std::vector<std::uint8_t>& archive, std::string& error);

}  // namespace mwbuild
