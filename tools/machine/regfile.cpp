#include "tools/machine/regfile.h"

#include <cwctype>

#include "platform/text/text.h"

namespace mw::machinetool {
namespace {

constexpr std::wstring_view kHeader = L"Windows Registry Editor Version 5.00";
constexpr std::size_t kLineWidth = 80;  // the editor wraps hex data before this column

std::wstring_view trimLeft(std::wstring_view s) {
    while (!s.empty() && (s.front() == L' ' || s.front() == L'\t')) s.remove_prefix(1);
    return s;
}

std::wstring_view trimRight(std::wstring_view s) {
    while (!s.empty() && (s.back() == L' ' || s.back() == L'\t' || s.back() == L'\r')) s.remove_suffix(1);
    return s;
}

std::wstring decode(std::string_view bytes) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        return win::fromUtf16le(bytes.substr(2));
    }
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    return win::fromUtf8(bytes);
}

std::vector<std::wstring> splitLines(std::wstring_view text) {
    std::vector<std::wstring> lines;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring_view::npos) end = text.size();
        std::wstring_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    return lines;
}

// A quoted string starting at s[0] == '"', with \\ and \" escapes; `s` is advanced past the closing quote.
bool readQuoted(std::wstring_view& s, std::wstring& out) {
    out.clear();
    std::size_t i = 1;
    while (i < s.size()) {
        wchar_t c = s[i];
        if (c == L'"') {
            s.remove_prefix(i + 1);
            return true;
        }
        if (c == L'\\' && i + 1 < s.size() && (s[i + 1] == L'\\' || s[i + 1] == L'"')) {
            out += s[i + 1];
            i += 2;
            continue;
        }
        out += c;
        ++i;
    }
    return false;
}

int hexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

bool parseHexBytes(std::wstring_view s, std::vector<std::uint8_t>& out) {
    out.clear();
    std::wstring_view rest = trimLeft(trimRight(s));
    if (rest.empty()) return true;
    while (true) {
        rest = trimLeft(rest);
        // More than two digits is refused before it is added up, so a long run cannot overflow.
        std::size_t n = 0;
        unsigned value = 0;
        while (n < rest.size() && n <= 2 && hexDigit(rest[n]) >= 0) {
            value = value * 16 + static_cast<unsigned>(hexDigit(rest[n]));
            ++n;
        }
        if (n == 0 || n > 2) return false;
        out.push_back(static_cast<std::uint8_t>(value));
        rest = trimLeft(rest.substr(n));
        if (rest.empty()) return true;
        if (rest.front() != L',') return false;
        rest.remove_prefix(1);
    }
}

bool parseHexNumber(std::wstring_view s, unsigned long long limit, unsigned long long& value) {
    if (s.empty() || s.size() > 16) return false;
    value = 0;
    for (wchar_t c : s) {
        int d = hexDigit(c);
        if (d < 0) return false;
        value = value * 16 + static_cast<unsigned>(d);
    }
    return value <= limit;
}

// The data after '=' of a value line; `value` gets its type and bytes (or remove).
bool parseData(std::wstring_view data, RegFileValue& value, std::wstring& why) {
    data = trimRight(data);
    if (data == L"-") {
        value.remove = true;
        return true;
    }
    if (!data.empty() && data.front() == L'"') {
        std::wstring text;
        if (!readQuoted(data, text) || !trimLeft(data).empty()) {
            why = L"a string must be one quoted text";
            return false;
        }
        value.type = win::regtype::sz;
        value.data = win::regStringData(text);
        return true;
    }
    if (data.rfind(L"dword:", 0) == 0) {
        unsigned long long n = 0;
        if (!parseHexNumber(data.substr(6), 0xFFFFFFFFull, n) || data.size() > 6 + 8) {
            why = L"dword: takes up to eight hexadecimal digits";
            return false;
        }
        value.type = win::regtype::dword;
        value.data = {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8),
                      static_cast<std::uint8_t>(n >> 16), static_cast<std::uint8_t>(n >> 24)};
        return true;
    }
    if (data.rfind(L"hex", 0) == 0) {
        std::wstring_view rest = data.substr(3);
        win::DWORD type = win::regtype::binary;
        if (!rest.empty() && rest.front() == L'(') {
            std::size_t close = rest.find(L')');
            unsigned long long n = 0;
            if (close == std::wstring_view::npos ||
                !parseHexNumber(rest.substr(1, close - 1), 0xFFFFFFFFull, n)) {
                why = L"hex(N): needs a hexadecimal type number";
                return false;
            }
            type = static_cast<win::DWORD>(n);
            rest.remove_prefix(close + 1);
        }
        if (rest.empty() || rest.front() != L':') {
            why = L"hex data must follow ':'";
            return false;
        }
        if (!parseHexBytes(rest.substr(1), value.data)) {
            why = L"hex data must be bytes such as 0a,1b separated by commas";
            return false;
        }
        value.type = type;
        return true;
    }
    why = L"unknown data; expected \"text\", dword:, hex:, hex(N): or -";
    return false;
}

std::wstring escape(std::wstring_view text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"') out += L'\\';
        out += c;
    }
    return out;
}

// Data that reads back to the same bytes as a quoted string: UTF-16LE ending in one zero, no zero or
// line break inside, nothing lost in conversion.
bool plainString(const std::vector<std::uint8_t>& data, std::wstring& text) {
    if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 1] != 0 || data[data.size() - 2] != 0) {
        return false;
    }
    text = win::regDataString(data);
    if (text.find_first_of(L"\r\n") != std::wstring::npos) return false;
    return win::regStringData(text) == data;
}

std::wstring hexByte(std::uint8_t b) {
    static const wchar_t* digits = L"0123456789abcdef";
    return {digits[b >> 4], digits[b & 15]};
}

}  // namespace

bool parseRegFile(std::string_view bytes, RegFile& out, std::wstring& error) {
    out.keys.clear();
    std::vector<std::wstring> lines = splitLines(decode(bytes));
    bool header = false;
    RegFileKey* current = nullptr;
    bool skipping = false;  // values under [-KEY] are ignored, as the editor does
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::size_t number = i + 1;
        auto bad = [&](const std::wstring& why) {
            error = L"line " + std::to_wstring(number) + L": " + why;
            return false;
        };
        std::wstring_view line = trimRight(trimLeft(lines[i]));
        if (line.empty() || line.front() == L';') continue;
        if (!header) {
            if (line != kHeader) return bad(L"expected \"" + std::wstring(kHeader) + L"\"");
            header = true;
            continue;
        }
        if (line.front() == L'[') {
            if (line.back() != L']') return bad(L"a key line must end with ']'");
            std::wstring_view name = line.substr(1, line.size() - 2);
            RegFileKey key;
            if (!name.empty() && name.front() == L'-') {
                key.remove = true;
                name.remove_prefix(1);
            }
            std::size_t slash = name.find(L'\\');
            std::wstring_view rootName = name.substr(0, slash);
            if (!win::parseRegRoot(rootName, key.root))
                return bad(L"unknown root key " + std::wstring(rootName));
            std::wstring_view path =
                slash == std::wstring_view::npos ? std::wstring_view() : name.substr(slash + 1);
            while (!path.empty() && path.back() == L'\\') path.remove_suffix(1);
            key.path = path;
            out.keys.push_back(std::move(key));
            current = &out.keys.back();
            skipping = current->remove;
            continue;
        }
        if (line.front() != L'"' && line.front() != L'@') return bad(L"expected a [key] or a value line");
        if (!current) return bad(L"a value before the first [key]");
        RegFileValue value;
        std::wstring_view rest = line;
        if (rest.front() == L'@') {
            rest.remove_prefix(1);
        } else if (!readQuoted(rest, value.name)) {
            return bad(L"the value name has no closing quote");
        }
        rest = trimLeft(rest);
        if (rest.empty() || rest.front() != L'=') return bad(L"expected '=' after the value name");
        rest = trimLeft(rest.substr(1));
        // Hex data goes on over lines that end in '\'.
        std::wstring data(rest);
        if (data.rfind(L"hex", 0) == 0) {
            while (!data.empty() && data.back() == L'\\') {
                data.pop_back();
                if (i + 1 >= lines.size()) return bad(L"the data continues past the end of the file");
                data += trimRight(trimLeft(lines[++i]));
            }
        }
        std::wstring why;
        if (!parseData(data, value, why)) return bad(why);
        if (!skipping) current->values.push_back(std::move(value));
    }
    if (!header) {
        error = L"line 1: expected \"" + std::wstring(kHeader) + L"\"";
        return false;
    }
    return true;
}

std::wstring formatRegValue(const RegFileValue& value) {
    std::wstring line = value.name.empty() ? L"@" : L"\"" + escape(value.name) + L"\"";
    line += L'=';
    if (value.remove) return line + L'-';
    std::wstring text;
    if (value.type == win::regtype::sz && plainString(value.data, text))
        return line + L"\"" + escape(text) + L"\"";
    if (value.type == win::regtype::dword && value.data.size() == 4) {
        line += L"dword:";
        for (int i = 3; i >= 0; --i) line += hexByte(value.data[static_cast<std::size_t>(i)]);
        return line;
    }
    if (value.type == win::regtype::binary) {
        line += L"hex:";
    } else {
        wchar_t number[16];
        std::swprintf(number, 16, L"hex(%x):", value.type);
        line += number;
    }
    std::wstring result;
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        bool last = i + 1 == value.data.size();
        // Room for "xx", its comma and the '\' that would end the line.
        std::size_t need = last ? 2 : 4;
        if (line.back() == L',' && line.size() + need > kLineWidth) {
            result += line + L"\\\r\n";
            line = L"  ";
        }
        line += hexByte(value.data[i]);
        if (!last) line += L',';
    }
    return result + line;
}

std::string formatRegFile(const RegFile& file) {
    std::wstring text(kHeader);
    text += L"\r\n\r\n";
    for (const RegFileKey& key : file.keys) {
        text += L"[";
        if (key.remove) text += L"-";
        text += win::regRootName(key.root);
        if (!key.path.empty()) text += L"\\" + key.path;
        text += L"]\r\n";
        for (const RegFileValue& value : key.values) text += formatRegValue(value) + L"\r\n";
        text += L"\r\n";
    }
    return "\xFF\xFE" + win::toUtf16le(text);
}

}  // namespace mw::machinetool
