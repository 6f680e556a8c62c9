// Case-insensitive name lookup with the folded names of folders kept between calls. Each kept folder is
// watched with inotify, so every change to its names (made by this process or any other) reaches the
// cache before the next lookup trusts it; a folder is only kept when every folder above it, up to the
// drive folder, is kept too, so renaming any of them is seen as well.
#pragma once
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

namespace win::hostfs {

// Host path of the names below `drive` (an existing drive folder), each matched against what exists
// without regard to case, the exact spelling first; names below the first missing one are kept as
// written, and `found` is false. `parts` are the names as the caller wrote them, `names` the same in
// UTF-8; `driveId` the drive folder's stat, taken just before (a machine folder moved or made again is
// another folder). False when the cache cannot answer (no inotify, or a folder that cannot be watched):
// the caller looks the names up itself.
bool resolveFolded(const std::filesystem::path& drive, const struct stat& driveId,
                   const std::vector<std::wstring>& parts, const std::vector<std::string>& names,
                   std::filesystem::path& out, bool& found);

// How many folders are kept (for tests).
std::size_t keptFolders();

}  // namespace win::hostfs
