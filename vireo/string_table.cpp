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

std::wstring loadString(std::uint16_t id) {
    // Mapped once: the library's file does not change while it is loaded. A static object, so that
    // unloading the library unmaps it.
    static win::Module module;
    static const bool opened = [] {
        std::filesystem::path file;
        return win::loadedModuleFile(L"Vireo.dll", file) && module.open(file);
    }();
    std::wstring text;
    if (!opened) return text;
    const auto block = module.find(kStringResourceType, static_cast<std::uint16_t>(id / 16 + 1));
    stringFromBlock(block, id, text);
    return text;
}

}  // namespace vireo
