// mendwell-build inspect: what the patcher sees of a file before a manifest entry is written for it.
#pragma once
#include <ostream>
#include <string>
#include <vector>

namespace mwbuild {

// Prints, for each file, its MD5 text and the versioner that recognises it with kind and version,
// else its OS file version and FileDescription. A file given as a Windows path ("C:\...") is read on
// the current machine; any other is a host file, read where it lies. False when a file could not be read.
bool inspectFiles(const std::vector<std::string>& files, std::ostream& out, std::ostream& err);

}  // namespace mwbuild
