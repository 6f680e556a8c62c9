// Type-safe printf-style wide formatting. The format is always a literal of the caller's; arguments are
// typed, so a mismatch cannot read stray memory.
//
// Conversions: %s (wide string), %d %i %u %x %X %c %% with the flags - + blank 0 #, width and precision
// (e.g. %010ld, %03u, %-10s, %.3s). Length modifiers: none, l (32-bit as on Windows), ll or I64 (64-bit),
// h. %d %u %x with no modifier or with l take the low 32 bits of the argument, as a 32-bit Windows
// program would print it. A string given to a numeric conversion, or a number to %s, prints the
// argument in its natural form; a missing argument prints nothing.
#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace win {

class FormatArg {
  public:
    enum class Kind { string, signedInt, unsignedInt, character };

    FormatArg(std::wstring_view s) : kind_(Kind::string), s_(s) {}
    FormatArg(const std::wstring& s) : kind_(Kind::string), s_(s) {}
    FormatArg(const wchar_t* s) : kind_(Kind::string), s_(s ? s : L"(null)") {}
    FormatArg(wchar_t c) : kind_(Kind::character), u_(static_cast<std::uint32_t>(c)) {}
    FormatArg(int v) : kind_(Kind::signedInt), i_(v) {}
    FormatArg(long v) : kind_(Kind::signedInt), i_(v) {}
    FormatArg(long long v) : kind_(Kind::signedInt), i_(v) {}
    FormatArg(unsigned v) : kind_(Kind::unsignedInt), u_(v) {}
    FormatArg(unsigned long v) : kind_(Kind::unsignedInt), u_(v) {}
    FormatArg(unsigned long long v) : kind_(Kind::unsignedInt), u_(v) {}

    Kind kind() const { return kind_; }
    std::wstring_view string() const { return s_; }
    long long signedValue() const { return kind_ == Kind::signedInt ? i_ : static_cast<long long>(u_); }
    unsigned long long unsignedValue() const {
        return kind_ == Kind::signedInt ? static_cast<unsigned long long>(i_) : u_;
    }

  private:
    Kind kind_;
    std::wstring_view s_;
    long long i_ = 0;
    unsigned long long u_ = 0;
};

std::wstring formatArgs(std::wstring_view format, std::span<const FormatArg> args);

template <class... Args>
std::wstring format(std::wstring_view fmt, const Args&... args) {
    const std::array<FormatArg, sizeof...(Args)> list{FormatArg(args)...};
    return formatArgs(fmt, list);
}

}  // namespace win
