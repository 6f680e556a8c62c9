#include "vireo/string_table.h"

#include <filesystem>

#include "platform/resources/resources.h"
#include "platform/system/library.h"
#include "platform/text/text.h"

namespace vireo {

std::map<std::uint16_t, std::vector<std::uint8_t>> buildStringBlocks(
    const std::map<std::uint16_t, std::wstring>& strings) {
    std::map<std::uint16_t, std::map<unsigned, std::string>> grouped;
    for (const auto& [id, text] : strings)
        grouped[static_cast<std::uint16_t>(id / 16 + 1)][id % 16] = win::toUtf16le(text);
    std::map<std::uint16_t, std::vector<std::uint8_t>> blocks;
    for (const auto& [blockId, members] : grouped) {
        auto& bytes = blocks[blockId];
        for (unsigned slot = 0; slot < 16; ++slot) {
            auto it = members.find(slot);
            const std::string units = it == members.end() ? std::string() : it->second;
            const std::size_t length = std::min<std::size_t>(units.size() / 2, 0xFFFF);
            bytes.push_back(static_cast<std::uint8_t>(length & 0xFF));
            bytes.push_back(static_cast<std::uint8_t>(length >> 8));
            bytes.insert(bytes.end(), units.begin(), units.begin() + static_cast<std::ptrdiff_t>(length * 2));
        }
    }
    return blocks;
}

bool stringFromBlock(std::span<const std::uint8_t> block, std::uint16_t id, std::wstring& text) {
    std::size_t pos = 0;
    for (unsigned slot = 0; slot < 16; ++slot) {
        if (pos + 2 > block.size()) return false;
        const std::size_t length = block[pos] | (static_cast<std::size_t>(block[pos + 1]) << 8);
        pos += 2;
        if (pos + length * 2 > block.size()) return false;
        if (slot == id % 16u) {
            if (length == 0) return false;
            text = win::fromUtf16le(
                std::string_view(reinterpret_cast<const char*>(block.data() + pos), length * 2));
            return true;
        }
        pos += length * 2;
    }
    return false;
}

namespace {

// The library's own file, mapped once: it does not change while it is loaded. A static object, so that
// unloading the library unmaps it. Null when the library is not loaded as "Vireo.dll".
const win::Module* libraryModule() {
    static win::Module module;
    static const bool opened = [] {
        std::filesystem::path file;
        return win::loadedModuleFile(L"Vireo.dll", file) && module.open(file);
    }();
    return opened ? &module : nullptr;
}

std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void putLe32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace

std::wstring loadString(std::uint16_t id) {
    std::wstring text;
    const win::Module* module = libraryModule();
    if (!module) return text;
    const auto block = module->find(kStringResourceType, static_cast<std::uint16_t>(id / 16 + 1));
    stringFromBlock(block, id, text);
    return text;
}

std::vector<std::uint8_t> loadBitmapFile(std::uint16_t id) {
    const win::Module* module = libraryModule();
    if (!module) return {};
    const auto dib = module->find(kBitmapResourceType, id);
    if (dib.size() < 40) return {};
    const std::vector<std::uint8_t> info(dib.begin(), dib.end());
    const std::uint32_t headerSize = le32(info, 0);
    const unsigned bits = info[14] | (info[15] << 8);
    const std::uint32_t compression = le32(info, 16);
    std::uint32_t colours = le32(info, 32);
    if (colours == 0 && bits <= 8) colours = 1u << bits;
    std::uint64_t offset = 14 + std::uint64_t(headerSize) + 4ull * colours;
    if (compression == 3 && headerSize == 40) offset += 12;  // the three colour masks after the header
    if (headerSize < 40 || offset > 14 + dib.size()) return {};
    // BITMAPFILEHEADER: "BM", file size, two reserved words, offset of the pixels.
    std::vector<std::uint8_t> file(14, 0);
    file[0] = 'B';
    file[1] = 'M';
    putLe32(file, 2, static_cast<std::uint32_t>(14 + dib.size()));
    putLe32(file, 10, static_cast<std::uint32_t>(offset));
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

std::vector<std::uint8_t> bitmapResourceFromFile(const std::vector<std::uint8_t>& file) {
    if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M') return {};
    return std::vector<std::uint8_t>(file.begin() + 14, file.end());
}

}  // namespace vireo
