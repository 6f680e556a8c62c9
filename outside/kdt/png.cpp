#include "outside/kdt/png.h"

namespace kdt {

namespace {

unsigned bigEndian(const std::string& b, std::size_t at) {
    return (static_cast<unsigned>(static_cast<unsigned char>(b[at])) << 24) |
           (static_cast<unsigned>(static_cast<unsigned char>(b[at + 1])) << 16) |
           (static_cast<unsigned>(static_cast<unsigned char>(b[at + 2])) << 8) |
           static_cast<unsigned>(static_cast<unsigned char>(b[at + 3]));
}

}  // namespace

bool pngSize(const std::string& bytes, unsigned& width, unsigned& height) {
    static const std::string signature("\x89PNG\r\n\x1a\n", 8);
    // Signature, then the IHDR chunk first: length 13, type, width, height.
    if (bytes.size() < 24 || bytes.compare(0, 8, signature) != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return false;
    if (bigEndian(bytes, 8) != 13) return false;
    width = bigEndian(bytes, 16);
    height = bigEndian(bytes, 20);
    return width > 0 && height > 0;
}

}  // namespace kdt
