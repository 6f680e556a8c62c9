#include "mendwell/base/dictionary_reader.h"

#include <cstring>

#include "mendwell/base/dictionary_escapes.h"
#include "platform/text/text.h"

namespace glossa {

namespace {

// Buckets of the binary form; more only says the file is damaged.
constexpr std::uint32_t kMaxBuckets = 1u << 16;

std::uint32_t bucketOf(std::string_view key, std::uint32_t buckets) {
    std::uint32_t hash = 2166136261u;  // FNV-1a
    for (unsigned char c : key) hash = (hash ^ c) * 16777619u;
    return hash % buckets;
}

std::wstring fromUtf16be(std::string_view bytes) {
    std::string swapped(bytes.substr(0, bytes.size() & ~std::size_t{1}));
    for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    return win::fromUtf16le(swapped);
}

// The text between the first double quote not preceded by a backslash and the next such quote.
std::wstring_view lineContent(std::wstring_view line) {
    auto quote = [&line](std::size_t from) {
        for (std::size_t i = from; i < line.size(); ++i)
            if (line[i] == L'"' && (i == 0 || line[i - 1] != L'\\')) return i;
        return std::wstring_view::npos;
    };
    const std::size_t open = quote(0);
    if (open == std::wstring_view::npos) return line;
    const std::size_t close = quote(open + 1);
    return line.substr(open + 1,
                       close == std::wstring_view::npos ? std::wstring_view::npos : close - open - 1);
}

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

struct Cursor {
    std::string_view bytes;
    std::size_t at = 0;
    bool u32(std::uint32_t& v) {
        if (bytes.size() - at < 4) return false;
        v = 0;
        for (int i = 3; i >= 0; --i)
            v = (v << 8) | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
        at += 4;
        return true;
    }
    bool take(std::size_t n, std::string_view& out) {
        if (bytes.size() - at < n) return false;
        out = bytes.substr(at, n);
        at += n;
        return true;
    }
};

}  // namespace

bool splitContent(std::wstring_view content, std::string& key, std::wstring& value) {
    if (!content.empty() && content[0] == L'$') {
        if (content.substr(0, 3) != L"$$$") return false;
        content.remove_prefix(3);
    }
    const std::size_t eq = content.find(L'=');
    const std::wstring_view keyPart = content.substr(0, eq);
    key.clear();
    for (wchar_t c : keyPart) key.push_back(static_cast<char>(c & 0xFF));  // keys are ASCII
    value = eq == std::wstring_view::npos ? std::wstring{} : std::wstring(content.substr(eq + 1));
    return true;
}

bool DictionaryReader::read(std::string_view bytes) {
    if (bytes.substr(0, kBinaryMagic.size()) == kBinaryMagic) return readBinary(bytes);
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE)
        readText(win::fromUtf16le(bytes.substr(2)));
    else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF)
        readText(fromUtf16be(bytes.substr(2)));
    else
        readText(win::fromUtf8(bytes.substr(0, 3) == "\xEF\xBB\xBF" ? bytes.substr(3) : bytes));
    return true;
}

void DictionaryReader::readText(const std::wstring& text) {
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
        if (!line.empty()) addLine(line);
        start = end + 1;
    }
}

void DictionaryReader::addLine(std::wstring_view line) {
    std::string key;
    std::wstring value;
    if (!splitContent(lineContent(line), key, value)) {
        clean_ = false;
        return;
    }
    entries_[key] = unescapeValue(value);
}

const std::wstring* DictionaryReader::find(std::string_view key) const {
    const auto it = entries_.find(std::string(key));
    return it == entries_.end() ? nullptr : &it->second;
}

// Layout: the magic, u32 bucket count, per bucket u32 record count and u32 file offset of its first
// record, then the records: u32 key length, key bytes, u32 value length in UTF-16 units, UTF-16LE value.
bool DictionaryReader::readBinary(std::string_view bytes) {
    Cursor header{bytes, kBinaryMagic.size()};
    std::uint32_t buckets = 0;
    if (!header.u32(buckets) || buckets == 0 || buckets > kMaxBuckets ||
        (bytes.size() - header.at) / 8 < buckets) {
        clean_ = false;
        return false;
    }
    for (std::uint32_t b = 0; b < buckets; ++b) {
        std::uint32_t count = 0, offset = 0;
        header.u32(count);
        header.u32(offset);
        if (count == 0) continue;
        Cursor records{bytes, offset};
        if (offset > bytes.size()) {
            clean_ = false;
            continue;
        }
        for (std::uint32_t r = 0; r < count; ++r) {
            std::uint32_t keyLength = 0, valueUnits = 0;
            std::string_view key, value;
            // Lengths are checked against what is left, so a damaged count cannot run past the file.
            if (!records.u32(keyLength) || !records.take(keyLength, key) || !records.u32(valueUnits) ||
                valueUnits > (bytes.size() - records.at) / 2 ||
                !records.take(std::size_t{valueUnits} * 2, value)) {
                clean_ = false;
                break;
            }
            entries_[std::string(key)] = win::fromUtf16le(value);
        }
    }
    return true;
}

std::string compileDictionary(const std::vector<DictionaryEntry>& entries, std::uint32_t buckets) {
    if (buckets == 0) buckets = 1;
    std::vector<std::string> chains(buckets);
    for (const auto& e : entries) {
        std::string& chain = chains[bucketOf(e.key, buckets)];
        const std::string value = win::toUtf16le(e.value);
        putU32(chain, static_cast<std::uint32_t>(e.key.size()));
        chain += e.key;
        putU32(chain, static_cast<std::uint32_t>(value.size() / 2));
        chain += value;
    }
    std::vector<std::uint32_t> counts(buckets, 0);
    for (const auto& e : entries) ++counts[bucketOf(e.key, buckets)];
    std::string out(kBinaryMagic);
    putU32(out, buckets);
    std::size_t offset = out.size() + std::size_t{buckets} * 8;
    for (std::uint32_t b = 0; b < buckets; ++b) {
        putU32(out, counts[b]);
        putU32(out, static_cast<std::uint32_t>(offset));
        offset += chains[b].size();
    }
    for (const auto& chain : chains) out += chain;
    return out;
}

}  // namespace glossa
