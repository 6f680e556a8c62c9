// The string dictionary: keys (8-bit, ASCII in practice) to UTF-16 texts, read from a text dictionary
// file (UTF-16LE or UTF-16BE by byte-order mark, else 8-bit text read as UTF-8) or from the compiled
// binary form. docs/formats.md describes both.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace glossa {

inline constexpr std::string_view kBinaryMagic = "Vocabel Binary Format";

struct DictionaryEntry {
    std::string key;
    std::wstring value;
};

class DictionaryReader {
  public:
    // Reads a whole file's bytes; a later definition of a key replaces the earlier one. False when the
    // bytes are not a dictionary at all (a damaged binary header); rejected lines only make it unclean.
    bool read(std::string_view bytes);
    // False when some line broke the dollar-sign rule or a binary record was damaged.
    bool clean() const { return clean_; }

    // The value of `key` (without the leading "$$$"), or nullptr.
    const std::wstring* find(std::string_view key) const;
    std::size_t size() const { return entries_.size(); }
    const std::unordered_map<std::string, std::wstring>& entries() const { return entries_; }

  private:
    void readText(const std::wstring& text);
    void addLine(std::wstring_view line);
    bool readBinary(std::string_view bytes);

    std::unordered_map<std::string, std::wstring> entries_;
    bool clean_ = true;
};

// Splits a line's content (or a lookup request) into key and value: a leading "$$$" is removed, the key
// runs to the first '='. False for a content that begins with one or two dollar signs only.
bool splitContent(std::wstring_view content, std::string& key, std::wstring& value);

// The binary form of `entries` (values stored as they are, no escapes), with `buckets` hash buckets.
std::string compileDictionary(const std::vector<DictionaryEntry>& entries, std::uint32_t buckets = 64);

}  // namespace glossa
