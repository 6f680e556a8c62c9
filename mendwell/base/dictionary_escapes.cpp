#include "mendwell/base/dictionary_escapes.h"

#include <cwctype>
#include <utility>

namespace glossa {

namespace {

wchar_t caretResult(wchar_t c) {
    switch (c) {
        case L'Q':
            return L'"';
        case L'[':
            return L'\u201C';
        case L']':
            return L'\u201D';
        case L'{':
            return L'\u2018';
        case L'}':
            return L'\u2019';
        case L'C':
            return L'\u00A9';
        case L'R':
            return L'\u00AE';
        case L'T':
            return L'\u2122';
        case L'D':
            return L'\u00B0';
        case L'B':
            return L'\u2022';
        case L'#':
            return L'\u2318';
        case L'!':
            return L'\u00AC';
        case L'I':
            return L'\u2206';
        case L'S':
            return L'\u2211';
        case L'n':
            return L'\n';
        case L'r':
            return L'\r';
        default:
            return 0;
    }
}

wchar_t backslashResult(wchar_t c) {
    switch (c) {
        case L'"':
            return L'"';
        case L'n':
            return L'\n';
        case L'r':
            return L'\r';
        case L't':
            return L'\t';
        case L'b':
            return L'\b';
        default:
            return 0;
    }
}

// Names accepted inside "#{...}", compared without regard to case.
const std::pair<const wchar_t*, const wchar_t*> kNamedCharacters[] = {
    {L"newline", L"\r\n"},     {L"tab", L"\t"},        {L"quote", L"\""},         {L"apos", L"'"},
    {L"hash", L"#"},           {L"lbrace", L"{"},      {L"rbrace", L"}"},         {L"caret", L"^"},
    {L"backslash", L"\\"},     {L"nbsp", L"\u00A0"},   {L"copyright", L"\u00A9"}, {L"registered", L"\u00AE"},
    {L"trademark", L"\u2122"}, {L"degree", L"\u00B0"}, {L"bullet", L"\u2022"},    {L"ellipsis", L"\u2026"},
    {L"endash", L"\u2013"},    {L"emdash", L"\u2014"}, {L"lsquo", L"\u2018"},     {L"rsquo", L"\u2019"},
    {L"ldquo", L"\u201C"},     {L"rdquo", L"\u201D"},  {L"command", L"\u2318"},
};

bool equalsIgnoringCase(std::wstring_view a, std::wstring_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::towlower(static_cast<wint_t>(a[i])) != std::towlower(static_cast<wint_t>(b[i])))
            return false;
    return true;
}

int hexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// The replacement for the inside of one brace form; empty when it names nothing.
std::wstring braceReplacement(std::wstring_view inside) {
    std::wstring_view digits = inside;
    if (digits.size() > 2 && (digits[0] == L'U' || digits[0] == L'u') && digits[1] == L'+')
        digits.remove_prefix(2);
    if (!digits.empty() && digits.size() <= 4) {
        unsigned code = 0;
        bool hex = true;
        for (wchar_t c : digits) {
            const int d = hexDigit(c);
            if (d < 0) {
                hex = false;
                break;
            }
            code = code * 16 + static_cast<unsigned>(d);
        }
        // A NUL would end the text early and a lone surrogate is no character: both stay as written.
        if (hex)
            return (code == 0 || (code >= 0xD800 && code <= 0xDFFF))
                       ? std::wstring{}
                       : std::wstring(1, static_cast<wchar_t>(code));
    }
    for (const auto& [name, text] : kNamedCharacters)
        if (equalsIgnoringCase(inside, name)) return text;
    return {};
}

}  // namespace

std::wstring replaceCaretEscapes(std::wstring_view value) {
    std::wstring out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        const wchar_t c = value[i];
        if ((c != L'^' && c != L'\\') || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const wchar_t next = value[i + 1];
        const wchar_t result = c == L'^' ? caretResult(next) : backslashResult(next);
        if (result) {
            out += result;
        } else {
            out += c;
            out += next;
        }
        ++i;
    }
    return out;
}

std::wstring replaceNumberedCharacters(std::wstring_view value) {
    std::wstring out;
    out.reserve(value.size());
    std::size_t i = 0;
    while (i < value.size()) {
        if (value[i] == L'#' && i + 1 < value.size() && value[i + 1] == L'{') {
            const std::size_t close = value.find(L'}', i + 2);
            if (close != std::wstring_view::npos) {
                const std::wstring replacement = braceReplacement(value.substr(i + 2, close - i - 2));
                if (!replacement.empty()) {
                    out += replacement;
                    i = close + 1;
                    continue;
                }
            }
        }
        out += value[i++];
    }
    return out;
}

std::wstring unescapeValue(std::wstring_view value) {
    return replaceNumberedCharacters(replaceCaretEscapes(value));
}

}  // namespace glossa
