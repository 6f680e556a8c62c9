#include "platform/text/text.h"

#include <errno.h>
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/win.h"

namespace win {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// A code point as it may travel: no surrogate halves, nothing above U+10FFFF.
char32_t sanitize(wchar_t c) {
    auto cp = static_cast<char32_t>(c);
    return (cp > 0x10FFFF || isSurrogate(cp)) ? kReplacement : cp;
}

std::size_t utf8Length(char32_t c) {
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// iconv names of the Windows code pages we convert.
const char* iconvName(unsigned codePage) {
    switch (codePage) {
        case 437:
            return "CP437";
        case 850:
            return "CP850";
        case 866:
            return "CP866";
        case 932:
            return "CP932";
        case 936:
            return "CP936";
        case 949:
            return "CP949";
        case 950:
            return "CP950";
        case 1250:
            return "CP1250";
        case 1251:
            return "CP1251";
        case 1252:
            return "CP1252";
        case 1253:
            return "CP1253";
        case 1254:
            return "CP1254";
        case 1255:
            return "CP1255";
        case 1256:
            return "CP1256";
        case 1257:
            return "CP1257";
        case 1258:
            return "CP1258";
        default:
            return nullptr;
    }
}

// iconv descriptors are not shareable between threads; each thread keeps its own.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }
    void reset() const { iconv(cd_, nullptr, nullptr, nullptr, nullptr); }

  private:
    iconv_t cd_;
};

Converter* converter(unsigned codePage, bool toPage) {
    thread_local std::map<std::pair<unsigned, bool>, std::unique_ptr<Converter>> cache;
    auto& slot = cache[{codePage, toPage}];
    if (!slot) {
        const char* name = iconvName(codePage);
        if (!name) return nullptr;
        slot = toPage ? std::make_unique<Converter>(name, "UTF-32LE")
                      : std::make_unique<Converter>("UTF-32LE", name);
    }
    if (!slot->ok()) return nullptr;
    slot->reset();
    return slot.get();
}

std::string utf32Bytes(char32_t c) {
    std::string b(4, '\0');
    for (int i = 0; i < 4; ++i) b[static_cast<std::size_t>(i)] = static_cast<char>((c >> (8 * i)) & 0xFF);
    return b;
}

// One character into the code page; '?' when the page cannot hold it.
std::string encodeOne(const Converter& cv, char32_t c) {
    std::string in = utf32Bytes(c);
    char buffer[16];
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    char* outPtr = buffer;
    std::size_t outLeft = sizeof buffer;
    cv.reset();
    if (iconv(cv.get(), &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) return "?";
    iconv(cv.get(), nullptr, nullptr, &outPtr, &outLeft);
    if (outPtr == buffer) return "?";
    return std::string(buffer, static_cast<std::size_t>(outPtr - buffer));
}

bool isUtf8Page(unsigned codePage) {
    return codePage == 65001;
}

locale_t caseLocale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
        return l;
    }();
    return loc;
}

}  // namespace

std::string toUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t c : text) appendUtf8(out, sanitize(c));
    return out;
}

std::wstring fromUtf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t len = 0;
        char32_t cp = 0;
        char32_t min = 0;
        if (b < 0x80) {
            out += static_cast<wchar_t>(b);
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4, cp = b & 0x07, min = 0x10000;
        } else {
            out += static_cast<wchar_t>(kReplacement);
            ++i;
            continue;
        }
        std::size_t k = 1;
        for (; k < len && i + k < n; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80) break;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (k < len || cp < min || cp > 0x10FFFF || isSurrogate(cp)) {
            // Skip the lead byte and the continuation bytes that belonged to it.
            out += static_cast<wchar_t>(kReplacement);
            i += k;
            continue;
        }
        out += static_cast<wchar_t>(cp);
        i += len;
    }
    return out;
}

std::string toUtf16le(std::wstring_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    auto unit = [&out](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>((u >> 8) & 0xFF);
    };
    for (wchar_t w : text) {
        char32_t c = sanitize(w);
        if (c >= 0x10000) {
            c -= 0x10000;
            unit(0xD800 + (c >> 10));
            unit(0xDC00 + (c & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

std::wstring fromUtf16le(std::string_view bytes) {
    std::wstring out;
    const std::size_t units = bytes.size() / 2;
    out.reserve(units);
    auto at = [&bytes](std::size_t i) -> char32_t {
        return static_cast<unsigned char>(bytes[2 * i]) | (static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    };
    for (std::size_t i = 0; i < units; ++i) {
        const char32_t u = at(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units) {
            const char32_t low = at(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                out += static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        out += static_cast<wchar_t>(isSurrogate(u) ? kReplacement : u);
    }
    return out;
}

bool toCodePage(std::wstring_view text, unsigned codePage, std::string& out) {
    out.clear();
    if (isUtf8Page(codePage)) {
        out = toUtf8(text);
        return true;
    }
    Converter* cv = converter(codePage, true);
    if (!cv) {
        setLastError(err::invalidParameter);
        return false;
    }
    std::string in;
    in.reserve(text.size() * 4);
    for (wchar_t c : text) in += utf32Bytes(sanitize(c));
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    std::string buffer(text.size() * 4 + 16, '\0');
    while (true) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t r = iconv(cv->get(), &inPtr, &inLeft, &outPtr, &outLeft);
        out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // The page has no such character: '?' stands for it.
        out += '?';
        inPtr += 4;
        inLeft -= 4;
    }
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    iconv(cv->get(), nullptr, nullptr, &outPtr, &outLeft);
    out.append(buffer.data(), static_cast<std::size_t>(outPtr - buffer.data()));
    return true;
}

bool fromCodePage(std::string_view bytes, unsigned codePage, std::wstring& out) {
    out.clear();
    if (isUtf8Page(codePage)) {
        out = fromUtf8(bytes);
        return true;
    }
    Converter* cv = converter(codePage, false);
    if (!cv) {
        setLastError(err::invalidParameter);
        return false;
    }
    std::string in(bytes);
    char* inPtr = in.data();
    std::size_t inLeft = in.size();
    std::string buffer(in.size() * 4 + 16, '\0');
    std::string utf32;
    auto drain = [&](char* end) {
        utf32.append(buffer.data(), static_cast<std::size_t>(end - buffer.data()));
    };
    while (true) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t r = iconv(cv->get(), &inPtr, &inLeft, &outPtr, &outLeft);
        drain(outPtr);
        if (r != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // An invalid or truncated sequence: one replacement per byte skipped.
        utf32 += utf32Bytes(kReplacement);
        ++inPtr;
        --inLeft;
        cv->reset();
        if (inLeft == 0) break;
    }
    char* outPtr = buffer.data();
    std::size_t outLeft = buffer.size();
    iconv(cv->get(), nullptr, nullptr, &outPtr, &outLeft);
    drain(outPtr);
    out.reserve(utf32.size() / 4);
    for (std::size_t i = 0; i + 4 <= utf32.size(); i += 4) {
        char32_t c = 0;
        for (int k = 3; k >= 0; --k)
            c = (c << 8) | static_cast<unsigned char>(utf32[i + static_cast<std::size_t>(k)]);
        out += static_cast<wchar_t>(c);
    }
    return true;
}

std::size_t toUtf8(std::wstring_view text, char* buffer, std::size_t size) {
    if (!buffer || size == 0) return 0;
    std::string out;
    for (wchar_t w : text) {
        const char32_t c = sanitize(w);
        if (out.size() + utf8Length(c) + 1 > size) break;
        appendUtf8(out, c);
    }
    out.copy(buffer, out.size());
    buffer[out.size()] = '\0';
    return out.size();
}

std::size_t toCodePage(std::wstring_view text, unsigned codePage, char* buffer, std::size_t size) {
    if (!buffer || size == 0) return 0;
    if (isUtf8Page(codePage)) return toUtf8(text, buffer, size);
    buffer[0] = '\0';
    Converter* cv = converter(codePage, true);
    if (!cv) {
        setLastError(err::invalidParameter);
        return 0;
    }
    // Character by character so that a cut never splits a double-byte character.
    std::size_t used = 0;
    for (wchar_t w : text) {
        const std::string piece = encodeOne(*cv, sanitize(w));
        if (used + piece.size() + 1 > size) break;
        piece.copy(buffer + used, piece.size());
        used += piece.size();
    }
    buffer[used] = '\0';
    return used;
}

wchar_t toUpper(wchar_t c) {
    if (c < 0x80) return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
    locale_t loc = caseLocale();
    if (!loc) return c;
    const wint_t u = towupper_l(static_cast<wint_t>(c), loc);
    return static_cast<wchar_t>(u);
}

static wchar_t toLowerChar(wchar_t c) {
    if (c < 0x80) return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c + 32) : c;
    locale_t loc = caseLocale();
    if (!loc) return c;
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(c), loc));
}

std::wstring toUpper(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = toUpper(c);
    return out;
}

std::wstring toLower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& c : out) c = toLowerChar(c);
    return out;
}

bool iequals(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && toUpper(a[i]) != toUpper(b[i])) return false;
    }
    return true;
}

}  // namespace win
