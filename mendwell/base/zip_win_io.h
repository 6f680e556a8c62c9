// minizip's file functions over the platform's files, so that archives are read by Windows path.
#pragma once
#include <ioapi.h>

namespace mw {

// Read-only functions; the file name handed to unzOpen2_64 must be a `const wchar_t*` Windows path.
zlib_filefunc64_def windowsFileFunctions();

}  // namespace mw
