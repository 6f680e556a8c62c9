// Text conversions: UTF-8, UTF-16LE bytes and Windows code pages (through iconv), and case folding.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace win {

// Invalid input is replaced by U+FFFD (or '?' in a code page); these never fail.
std::string toUtf8(std::wstring_view text);
std::wstring fromUtf8(std::string_view text);
std::string toUtf16le(std::wstring_view text);     // bytes, no byte-order mark, no terminator
std::wstring fromUtf16le(std::string_view bytes);  // a trailing odd byte is ignored

// Code pages 1250-1258, 437, 850, 866, 932, 936, 949, 950 and 65001. False with last error 87 for an
// unknown code page; characters the page cannot hold become '?'.
bool toCodePage(std::wstring_view text, unsigned codePage, std::string& out);
bool fromCodePage(std::string_view bytes, unsigned codePage, std::wstring& out);

// Into a fixed buffer of `size` bytes: always NUL-terminated (when size > 0), cut at a character
// boundary, never overrun. Returns the number of bytes written before the NUL.
std::size_t toUtf8(std::wstring_view text, char* buffer, std::size_t size);
std::size_t toCodePage(std::wstring_view text, unsigned codePage, char* buffer, std::size_t size);

// Case mapping as Windows does for file, key and value names (simple one-to-one mapping).
wchar_t toUpper(wchar_t c);
std::wstring toUpper(std::wstring_view text);
std::wstring toLower(std::wstring_view text);
bool iequals(std::wstring_view a, std::wstring_view b);

}  // namespace win
