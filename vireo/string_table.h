// String resources in the Windows layout: type 6, strings in blocks of 16 (block id = string id / 16 + 1),
// each string a 16-bit length followed by that many UTF-16LE code units.
#pragma once
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace vireo {

inline constexpr std::uint16_t kStringResourceType = 6;

// The blocks for a set of strings: block id -> block bytes.
std::map<std::uint16_t, std::vector<std::uint8_t>> buildStringBlocks(
    const std::map<std::uint16_t, std::wstring>& strings);
// String `id` from its block; false when the block is too short to hold it or the string is empty.
bool stringFromBlock(std::span<const std::uint8_t> block, std::uint16_t id, std::wstring& text);

// The library's own string `id`, looked up in the loaded module "Vireo.dll"; empty when missing.
std::wstring loadString(std::uint16_t id);

inline constexpr std::uint16_t kBitmapResourceType = 2;
// The library's bitmap `id` (RT_BITMAP: a DIB without its file header) as the bytes of a .bmp file, which
// image readers take; empty when missing.
std::vector<std::uint8_t> loadBitmapFile(std::uint16_t id);
// A .bmp file's bytes as an RT_BITMAP resource; empty when they are not a bitmap file.
std::vector<std::uint8_t> bitmapResourceFromFile(const std::vector<std::uint8_t>& file);

}  // namespace vireo
