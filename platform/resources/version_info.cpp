#include <cwctype>

#include "platform/fs/path.h"
#include "platform/resources/mapped_file.h"
#include "platform/resources/pe_file.h"
#include "platform/resources/resources.h"
#include "platform/resources/table_format.h"
#include "platform/text/text.h"

namespace win {

namespace {

constexpr std::uint32_t kFixedSignature = 0xFEEF04BDu;
constexpr std::size_t kFixedSize = 52;

std::size_t align4(std::size_t n) {
    return (n + 3) & ~std::size_t{3};
}

std::uint32_t le(std::span<const std::uint8_t> b, std::size_t at, int width) {
    std::uint32_t v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<std::uint32_t>(b[at + i]) << (8 * i);
    return v;
}

// One node of the version tree: wLength, wValueLength, wType, key, value, children.
struct Node {
    std::wstring key;
    std::uint16_t type = 0;
    std::span<const std::uint8_t> value;
    std::span<const std::uint8_t> children;
    std::size_t length = 0;  // bytes to the next sibling
};

bool parseNode(std::span<const std::uint8_t> bytes, Node& node) {
    if (bytes.size() < 6) return false;
    const std::size_t length = le(bytes, 0, 2);
    if (length < 6 || length > bytes.size()) return false;
    auto block = bytes.first(length);
    const std::size_t valueLength = le(block, 2, 2);
    node.type = static_cast<std::uint16_t>(le(block, 4, 2));
    std::size_t at = 6;
    std::u16string key;
    for (;; at += 2) {
        if (at + 2 > block.size()) return false;
        const auto unit = static_cast<char16_t>(le(block, at, 2));
        if (unit == 0) break;
        key.push_back(unit);
    }
    node.key = fromUtf16le(std::string_view(reinterpret_cast<const char*>(block.data() + 6), key.size() * 2));
    const std::size_t valueStart = std::min(align4(at + 2), block.size());
    const std::size_t valueBytes =
        std::min(node.type == 1 ? valueLength * 2 : valueLength, block.size() - valueStart);
    node.value = block.subspan(valueStart, valueBytes);
    const std::size_t childStart = std::min(align4(valueStart + valueBytes), block.size());
    node.children = block.subspan(childStart);
    node.length = std::min(align4(length), bytes.size());
    return true;
}

template <class F>
void forEachChild(std::span<const std::uint8_t> children, F f) {
    Node child;
    while (parseNode(children, child)) {
        if (!f(child)) return;
        children = children.subspan(child.length);
    }
}

std::wstring textValue(std::span<const std::uint8_t> value) {
    std::size_t units = 0;
    while (units * 2 + 1 < value.size() && le(value, units * 2, 2) != 0) ++units;
    return fromUtf16le(std::string_view(reinterpret_cast<const char*>(value.data()), units * 2));
}

// Builder of a node: appends itself (children given already built) to `out`.
void putU16(std::vector<std::uint8_t>& out, std::size_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    putU16(out, v & 0xFFFF);
    putU16(out, v >> 16);
}
void pad4(std::vector<std::uint8_t>& out) {
    while (out.size() % 4) out.push_back(0);
}

std::vector<std::uint8_t> node(std::wstring_view key, std::uint16_t type,
                               const std::vector<std::uint8_t>& value, std::size_t valueLength,
                               const std::vector<std::vector<std::uint8_t>>& children) {
    std::vector<std::uint8_t> out(6);
    std::string k = toUtf16le(key);
    out.insert(out.end(), k.begin(), k.end());
    putU16(out, 0);
    pad4(out);
    out.insert(out.end(), value.begin(), value.end());
    for (const auto& c : children) {
        pad4(out);
        out.insert(out.end(), c.begin(), c.end());
    }
    out[0] = static_cast<std::uint8_t>(out.size());
    out[1] = static_cast<std::uint8_t>(out.size() >> 8);
    out[2] = static_cast<std::uint8_t>(valueLength);
    out[3] = static_cast<std::uint8_t>(valueLength >> 8);
    out[4] = static_cast<std::uint8_t>(type);
    out[5] = 0;
    return out;
}

std::wstring tableKey(std::uint16_t language, std::uint16_t codePage) {
    static const wchar_t* digits = L"0123456789abcdef";
    std::wstring key;
    const std::uint32_t v = (static_cast<std::uint32_t>(language) << 16) | codePage;
    for (int shift = 28; shift >= 0; shift -= 4) key.push_back(digits[(v >> shift) & 0xF]);
    return key;
}

bool rootNode(std::span<const std::uint8_t> block, Node& root) {
    return parseNode(block, root) && root.key == L"VS_VERSION_INFO";
}

}  // namespace

bool parseVersionInfo(std::span<const std::uint8_t> block, VersionInfo& info) {
    Node root;
    if (!rootNode(block, root) || root.value.size() < kFixedSize || le(root.value, 0, 4) != kFixedSignature) {
        setLastError(err::invalidData);
        return false;
    }
    info.fileVersionMS = le(root.value, 8, 4);
    info.fileVersionLS = le(root.value, 12, 4);
    info.productVersionMS = le(root.value, 16, 4);
    info.productVersionLS = le(root.value, 20, 4);
    return true;
}

std::vector<std::uint8_t> buildVersionInfo(const VersionInfo& info) {
    return buildVersionInfo(info, {});
}

std::vector<std::uint8_t> buildVersionInfo(const VersionInfo& info,
                                           const std::vector<VersionStrings>& strings) {
    std::vector<std::uint8_t> fixed;
    for (std::uint32_t v :
         {kFixedSignature, 0x00010000u, info.fileVersionMS, info.fileVersionLS, info.productVersionMS,
          info.productVersionLS, 0x3Fu, 0u, 0x00040004u, 1u, 0u, 0u, 0u})
        putU32(fixed, v);

    std::vector<std::vector<std::uint8_t>> tables;
    std::vector<std::uint8_t> translations;
    for (const auto& t : strings) {
        std::vector<std::vector<std::uint8_t>> values;
        for (const auto& [name, text] : t.values) {
            std::string bytes = toUtf16le(text);
            std::vector<std::uint8_t> value(bytes.begin(), bytes.end());
            putU16(value, 0);
            values.push_back(node(name, 1, value, text.size() + 1, {}));
        }
        tables.push_back(node(tableKey(t.language, t.codePage), 1, {}, 0, values));
        putU16(translations, t.language);
        putU16(translations, t.codePage);
    }
    std::vector<std::vector<std::uint8_t>> children{node(L"StringFileInfo", 1, {}, 0, tables)};
    if (!strings.empty()) {
        auto var = node(L"Translation", 0, translations, translations.size(), {});
        children.push_back(node(L"VarFileInfo", 1, {}, 0, {var}));
    }
    return node(L"VS_VERSION_INFO", 0, fixed, fixed.size(), children);
}

std::vector<std::pair<std::uint16_t, std::uint16_t>> versionTranslations(
    std::span<const std::uint8_t> block) {
    std::vector<std::pair<std::uint16_t, std::uint16_t>> out;
    Node root;
    if (!rootNode(block, root)) return out;
    forEachChild(root.children, [&](const Node& child) {
        if (!iequals(child.key, L"VarFileInfo")) return true;
        forEachChild(child.children, [&](const Node& var) {
            if (!iequals(var.key, L"Translation")) return true;
            for (std::size_t at = 0; at + 4 <= var.value.size(); at += 4)
                out.emplace_back(static_cast<std::uint16_t>(le(var.value, at, 2)),
                                 static_cast<std::uint16_t>(le(var.value, at + 2, 2)));
            return false;
        });
        return false;
    });
    return out;
}

bool versionString(std::span<const std::uint8_t> block, std::uint16_t language, std::uint16_t codePage,
                   std::wstring_view name, std::wstring& value) {
    Node root;
    if (!rootNode(block, root)) return false;
    const std::wstring wantedTable = tableKey(language, codePage);
    bool found = false;
    forEachChild(root.children, [&](const Node& info) {
        if (!iequals(info.key, L"StringFileInfo")) return true;
        forEachChild(info.children, [&](const Node& table) {
            if (!iequals(table.key, wantedTable)) return true;
            forEachChild(table.children, [&](const Node& entry) {
                if (!iequals(entry.key, name)) return true;
                value = textValue(entry.value);
                found = true;
                return false;
            });
            return !found;
        });
        return !found;
    });
    return found;
}

bool readVersionBlock(const std::filesystem::path& hostFile, std::vector<std::uint8_t>& block) {
    rsrc::MappedFile file;
    if (!file.open(hostFile)) return false;
    std::span<const std::uint8_t> data;
    rsrc::Table table;
    if (rsrc::parseTable(file.bytes(), table)) {
        // Id 1 (VS_VERSION_INFO) first, else the first version entry, in any language.
        for (const auto& e : table.entries) {
            if (e.typeIsName || e.typeNumber != kRtVersion) continue;
            if (data.empty() || e.id == 1) data = e.data;
            if (e.id == 1) break;
        }
    }
    if (data.empty()) data = rsrc::findPeResource(file.bytes(), kRtVersion);
    if (data.empty()) {
        setLastError(err::resourceTypeNotFound);
        return false;
    }
    block.assign(data.begin(), data.end());
    return true;
}

bool readVersionBlock(std::wstring_view windowsPath, std::vector<std::uint8_t>& block) {
    std::filesystem::path host;
    return hostPath(windowsPath, host) && readVersionBlock(host, block);
}

bool readFileVersion(const std::filesystem::path& hostFile, VersionInfo& info) {
    std::vector<std::uint8_t> block;
    return readVersionBlock(hostFile, block) && parseVersionInfo(block, info);
}

bool readFileVersion(std::wstring_view windowsPath, VersionInfo& info) {
    std::vector<std::uint8_t> block;
    return readVersionBlock(windowsPath, block) && parseVersionInfo(block, info);
}

}  // namespace win
