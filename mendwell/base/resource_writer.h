// Writes one of the program's resources out to a file.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace win {
class Module;
}

namespace mw {

// Finds resource `typeName`/`id` (language-neutral preferred) and writes all of it, in chunks, to
// `outputPath`, replacing any existing file. 0 on success, -1 when the resource is missing or the file
// cannot be created or written.
int writeResourceToFile(const win::Module& module, std::uint16_t id, std::wstring_view typeName,
                        const std::wstring& outputPath);

}  // namespace mw
