#include "platform/text/format.h"

namespace win {

namespace {

struct Directive {
    bool left = false;
    bool plus = false;
    bool blank = false;
    bool zero = false;
    bool alternate = false;
    std::size_t width = 0;
    bool hasPrecision = false;
    std::size_t precision = 0;
    enum class Length { normal, shortInt, longLong } length = Length::normal;
    wchar_t conversion = 0;
};

std::wstring pad(std::wstring body, const Directive& directive) {
    if (body.size() >= directive.width) return body;
    const std::size_t fill = directive.width - body.size();
    return directive.left ? body + std::wstring(fill, L' ') : std::wstring(fill, L' ') + body;
}

std::wstring digits(unsigned long long value, unsigned base, bool upper) {
    const wchar_t* set = upper ? L"0123456789ABCDEF" : L"0123456789abcdef";
    std::wstring out;
    do {
        out.insert(out.begin(), set[value % base]);
        value /= base;
    } while (value != 0);
    return out;
}

// Integer conversions: sign or prefix, precision as minimum digits, zero padding after the sign.
std::wstring formatInteger(const FormatArg& arg, const Directive& directive) {
    const bool isSigned = directive.conversion == L'd' || directive.conversion == L'i';
    const unsigned base = (directive.conversion == L'x' || directive.conversion == L'X') ? 16 : 10;
    bool negative = false;
    unsigned long long magnitude = 0;
    if (isSigned) {
        long long v = arg.signedValue();
        if (directive.length == Directive::Length::normal)
            v = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
        if (directive.length == Directive::Length::shortInt)
            v = static_cast<std::int16_t>(static_cast<std::uint16_t>(v));
        negative = v < 0;
        magnitude = negative ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    } else {
        unsigned long long v = arg.unsignedValue();
        if (directive.length == Directive::Length::normal) v &= 0xFFFFFFFFULL;
        if (directive.length == Directive::Length::shortInt) v &= 0xFFFFULL;
        magnitude = v;
    }
    std::wstring number = digits(magnitude, base, directive.conversion == L'X');
    if (directive.hasPrecision) {
        if (directive.precision == 0 && magnitude == 0) number.clear();
        if (number.size() < directive.precision) number.insert(0, directive.precision - number.size(), L'0');
    }
    std::wstring prefix;
    if (isSigned) {
        if (negative)
            prefix = L"-";
        else if (directive.plus)
            prefix = L"+";
        else if (directive.blank)
            prefix = L" ";
    } else if (directive.alternate && base == 16 && magnitude != 0) {
        prefix = directive.conversion == L'X' ? L"0X" : L"0x";
    }
    if (directive.zero && !directive.left && !directive.hasPrecision &&
        prefix.size() + number.size() < directive.width) {
        number.insert(0, directive.width - prefix.size() - number.size(), L'0');
    }
    return pad(prefix + number, directive);
}

// A number given where text was asked for prints as a plain decimal number.
std::wstring natural(const FormatArg& arg) {
    switch (arg.kind()) {
        case FormatArg::Kind::string:
            return std::wstring(arg.string());
        case FormatArg::Kind::character:
            return std::wstring(1, static_cast<wchar_t>(arg.unsignedValue()));
        case FormatArg::Kind::signedInt:
            return std::to_wstring(arg.signedValue());
        case FormatArg::Kind::unsignedInt:
            return std::to_wstring(arg.unsignedValue());
    }
    return {};
}

std::wstring convert(const FormatArg& arg, const Directive& directive) {
    switch (directive.conversion) {
        case L'd':
        case L'i':
        case L'u':
        case L'x':
        case L'X':
            if (arg.kind() == FormatArg::Kind::string) return pad(natural(arg), directive);
            return formatInteger(arg, directive);
        case L'c':
            if (arg.kind() == FormatArg::Kind::string) return pad(natural(arg), directive);
            return pad(std::wstring(1, static_cast<wchar_t>(arg.unsignedValue() & 0x1FFFFF)), directive);
        default: {  // s, S
            std::wstring text = natural(arg);
            if (directive.hasPrecision && arg.kind() == FormatArg::Kind::string &&
                text.size() > directive.precision) {
                text.resize(directive.precision);
            }
            return pad(text, directive);
        }
    }
}

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

}  // namespace

std::wstring formatArgs(std::wstring_view format, std::span<const FormatArg> args) {
    std::wstring out;
    out.reserve(format.size() + 16 * args.size());
    std::size_t next = 0;
    std::size_t i = 0;
    const std::size_t n = format.size();
    while (i < n) {
        const wchar_t c = format[i];
        if (c != L'%') {
            out += c;
            ++i;
            continue;
        }
        const std::size_t start = i++;
        Directive directive;
        for (; i < n; ++i) {
            const wchar_t f = format[i];
            if (f == L'-')
                directive.left = true;
            else if (f == L'+')
                directive.plus = true;
            else if (f == L' ')
                directive.blank = true;
            else if (f == L'0')
                directive.zero = true;
            else if (f == L'#')
                directive.alternate = true;
            else
                break;
        }
        // Widths beyond any sane output are clamped rather than allocated.
        constexpr std::size_t kMaxWidth = 4096;
        for (; i < n && isDigit(format[i]); ++i)
            directive.width = std::min(kMaxWidth, directive.width * 10 + (format[i] - L'0'));
        if (i < n && format[i] == L'.') {
            directive.hasPrecision = true;
            for (++i; i < n && isDigit(format[i]); ++i) {
                directive.precision = std::min(kMaxWidth, directive.precision * 10 + (format[i] - L'0'));
            }
        }
        if (format.substr(i).starts_with(L"I64")) {
            directive.length = Directive::Length::longLong;
            i += 3;
        } else if (format.substr(i).starts_with(L"I32")) {
            i += 3;
        } else if (format.substr(i).starts_with(L"ll")) {
            directive.length = Directive::Length::longLong;
            i += 2;
        } else if (i < n && (format[i] == L'l' || format[i] == L'w')) {
            ++i;
        } else if (i < n && format[i] == L'h') {
            directive.length = Directive::Length::shortInt;
            ++i;
        }
        if (i >= n) {
            out.append(format.substr(start));
            break;
        }
        directive.conversion = format[i++];
        switch (directive.conversion) {
            case L'%':
                out += L'%';
                break;
            case L'd':
            case L'i':
            case L'u':
            case L'x':
            case L'X':
            case L'c':
            case L's':
            case L'S':
                // A missing argument prints nothing.
                if (next < args.size()) out += convert(args[next], directive);
                ++next;
                break;
            default:
                // Not a conversion we know: shown as written, consuming nothing.
                out.append(format.substr(start, i - start));
                break;
        }
    }
    return out;
}

}  // namespace win
