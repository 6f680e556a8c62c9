#include "verdicta/xml_text.h"

#include <cstdint>

namespace verdicta {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at the start of `s` and its code point; 0 when there is none
// (a stray byte, a cut sequence, an overlong form, a surrogate, beyond U+10FFFF).
std::size_t decode(std::string_view s, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    std::size_t n = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if ((b0 & 0xE0) == 0xC0) {
        n = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// The characters of XML 1.0 (its Char production).
bool isXmlChar(char32_t cp) {
    if (cp < 0x20) return cp == 0x9 || cp == 0xA || cp == 0xD;
    return cp != 0xFFFE && cp != 0xFFFF;
}

}  // namespace

std::string xmlElementText(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    while (!utf8.empty()) {
        char32_t cp = 0;
        const std::size_t n = decode(utf8, cp);
        if (n == 0 || !isXmlChar(cp)) {
            out += kReplacement;
            utf8.remove_prefix(n == 0 ? 1 : n);
            continue;
        }
        switch (cp) {
            case '<':
                out += "&#60;";
                break;
            case '>':
                out += "&#62;";
                break;
            case '&':
                out += "&#38;";
                break;
            case '\r':
                out += "&#13;";
                break;
            default:
                out.append(utf8.substr(0, n));
        }
        utf8.remove_prefix(n);
    }
    return out;
}

}  // namespace verdicta
