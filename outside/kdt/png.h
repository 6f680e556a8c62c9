// Width and height of a PNG file, from its signature and IHDR chunk.
#pragma once
#include <string>

namespace kdt {

// False when the bytes are not a PNG image.
bool pngSize(const std::string& bytes, unsigned& width, unsigned& height);

}  // namespace kdt
