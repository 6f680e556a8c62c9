#include "platform/machine/profile.h"

#include <charconv>
#include <fstream>
#include <sstream>

#include "platform/text/text.h"

namespace win {

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (auto& c : out) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
    return out;
}

template <class T>
bool number(std::string_view text, int base, T& out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
    return ec == std::errc() && ptr == end && !text.empty();
}

std::string hex4(unsigned v) {
    static const char* digits = "0123456789ABCDEF";
    std::string s(4, '0');
    for (int i = 3; i >= 0; --i, v >>= 4) s[static_cast<std::size_t>(i)] = digits[v & 0xF];
    return s;
}

}  // namespace

bool parseProfile(std::string_view text, const std::string& source, MachineProfile& out, std::string& error) {
    MachineProfile p;
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::string section;
    std::size_t lineNo = 0;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = trim(text.substr(0, eol));
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        ++lineNo;
        auto bad = [&](const char* why) {
            error = source + ": line " + std::to_string(lineNo) + ": " + why;
            return false;
        };
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return bad("unterminated section name");
            section = lower(trim(line.substr(1, line.size() - 2)));
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos) return bad("expected key=value");
        const std::string key = lower(trim(line.substr(0, eq)));
        const std::string_view value = trim(line.substr(eq + 1));
        if (section == "machine") {
            if (key == "user") {
                if (value.empty()) return bad("empty user name");
                p.userName = fromUtf8(value);
            } else if (key == "administrator") {
                const std::string v = lower(value);
                if (v == "yes" || v == "true" || v == "1")
                    p.administrator = true;
                else if (v == "no" || v == "false" || v == "0")
                    p.administrator = false;
                else
                    return bad("administrator must be yes or no");
            } else if (key == "userlanguage" || key == "systemlanguage") {
                std::uint16_t lang = 0;
                if (!number(value, 16, lang)) return bad("language must be a hexadecimal identifier");
                (key == "userlanguage" ? p.userLanguage : p.systemLanguage) = lang;
            } else if (key == "acp" || key == "oemcp") {
                unsigned cp = 0;
                if (!number(value, 10, cp)) return bad("code page must be a number");
                (key == "acp" ? p.ansiCodePage : p.oemCodePage) = cp;
            } else if (key == "test") {
                const std::string v = lower(value);
                if (v != "yes" && v != "no") return bad("test must be yes or no");
                p.forTests = v == "yes";
            } else if (key == "windows") {
                if (value.size() < 3 || value[1] != ':') return bad("windows must be a drive path");
                p.windowsDirectory = fromUtf8(value);
            }
        } else if (section == "free") {
            std::uint64_t bytes = 0;
            if (key.size() != 1 || key[0] < 'a' || key[0] > 'z')
                return bad("free space is given per drive letter");
            if (!number(value, 10, bytes)) return bad("free space must be a number of bytes");
            p.freeBytes[static_cast<wchar_t>(key[0] - 'a' + 'A')] = bytes;
        } else if (section == "folders") {
            int id = 0;
            if (!number(std::string_view(key), 10, id)) return bad("folder keys are CSIDL numbers");
            p.folders[id] = fromUtf8(value);
        }
    }
    out = std::move(p);
    return true;
}

std::string profileText(const MachineProfile& p) {
    std::ostringstream s;
    s << "[machine]\n";
    s << "user=" << toUtf8(p.userName) << "\n";
    s << "administrator=" << (p.administrator ? "yes" : "no") << "\n";
    s << "userLanguage=" << hex4(p.userLanguage) << "\n";
    s << "systemLanguage=" << hex4(p.systemLanguage) << "\n";
    s << "acp=" << p.ansiCodePage << "\n";
    s << "oemcp=" << p.oemCodePage << "\n";
    s << "windows=" << toUtf8(p.windowsDirectory) << "\n";
    if (p.forTests) s << "test=yes\n";
    if (!p.freeBytes.empty()) {
        s << "\n[free]\n";
        for (const auto& [drive, bytes] : p.freeBytes) s << static_cast<char>(drive) << "=" << bytes << "\n";
    }
    if (!p.folders.empty()) {
        s << "\n[folders]\n";
        for (const auto& [id, folder] : p.folders) s << id << "=" << toUtf8(folder) << "\n";
    }
    return s.str();
}

bool readProfile(const std::filesystem::path& file, MachineProfile& out, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read the machine profile " + file.string();
        return false;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    if (in.bad()) {
        error = "cannot read the machine profile " + file.string();
        return false;
    }
    return parseProfile(ss.str(), file.string(), out, error);
}

bool writeProfile(const std::filesystem::path& file, const MachineProfile& profile, std::string& error) {
    // Written beside and renamed over, so a reader never sees half a profile.
    std::filesystem::path temp = file;
    temp += ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        const std::string text = profileText(profile);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.flush();
        if (!out) {
            error = "cannot write the machine profile " + file.string();
            std::error_code ec;
            std::filesystem::remove(temp, ec);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, file, ec);
    if (ec) {
        error = "cannot write the machine profile " + file.string() + ": " + ec.message();
        std::filesystem::remove(temp, ec);
        return false;
    }
    return true;
}

}  // namespace win
