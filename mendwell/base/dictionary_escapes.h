// Escape processing of dictionary values: caret and backslash escapes, then numbered and named
// characters in "#{...}".
#pragma once
#include <string>
#include <string_view>

namespace glossa {

// Pass 1: "^n", "^Q", "\t", ... by their tables; any other pair keeps both characters, and an escape
// character at the very end stays.
std::wstring replaceCaretEscapes(std::wstring_view value);
// Pass 2: "#{U+00A9}", "#{a9}", "#{copyright}", "#{newline}" (carriage return and line feed). A "#" in
// any other position, or a brace form that names nothing, stays as written.
std::wstring replaceNumberedCharacters(std::wstring_view value);
// Both passes, in order.
std::wstring unescapeValue(std::wstring_view value);

}  // namespace glossa
