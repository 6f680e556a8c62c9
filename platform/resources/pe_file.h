// Reading resources from the resource section of a Windows PE file.
#pragma once
#include <cstdint>
#include <span>

namespace win::rsrc {

// The data of the first resource of `type` (first name, first language), as GetFileVersionInfo takes
// the version block. Empty when the file is not a PE file, has no such resource or is damaged.
std::span<const std::uint8_t> findPeResource(std::span<const std::uint8_t> file, std::uint16_t type);

}  // namespace win::rsrc
