// reg add | query | delete | deny | export | import, in the manner of the Windows reg.exe.
#include <algorithm>
#include <fstream>
#include <sstream>

#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "tools/machine/command.h"
#include "tools/machine/regfile.h"

namespace mw::machinetool {
namespace {

constexpr const wchar_t* kRegHelp =
    L"usage: machine reg add KEY [/v NAME | /ve] [/t TYPE] [/s SEP] [/d DATA] [/f]\n"
    L"       machine reg query KEY [/v NAME | /ve] [/s]\n"
    L"       machine reg delete KEY [/v NAME | /ve | /va] /f\n"
    L"       machine reg deny KEY [--off]\n"
    L"       machine reg export KEY FILE\n"
    L"       machine reg import FILE\n"
    L"KEY is ROOT\\path with ROOT one of HKLM, HKCU, HKCR, HKU, HKCC (or their long names).\n"
    L"TYPE is REG_SZ (default), REG_EXPAND_SZ, REG_DWORD, REG_QWORD, REG_BINARY or REG_MULTI_SZ;\n"
    L"REG_MULTI_SZ items are separated by \\0 (or by SEP). Files are in the registry editor's format.";

constexpr const wchar_t* kNotFound =
    L"ERROR: The system was unable to find the specified registry key or value.";
constexpr const wchar_t* kDone = L"The operation completed successfully.";

struct KeyArg {
    win::RegRoot root = win::RegRoot::localMachine;
    std::wstring path;
    std::wstring display;  // long root name and the path as given
};

int usage(const std::wstring& why) {
    fail(L"ERROR: " + why + L"\n" + kRegHelp);
    return kUsage;
}

bool parseKey(const std::wstring& text, KeyArg& key) {
    std::size_t slash = text.find(L'\\');
    if (!win::parseRegRoot(std::wstring_view(text).substr(0, slash), key.root)) return false;
    key.path = slash == std::wstring::npos ? L"" : text.substr(slash + 1);
    while (!key.path.empty() && key.path.back() == L'\\') key.path.pop_back();
    while (!key.path.empty() && key.path.front() == L'\\') key.path.erase(0, 1);
    key.display = win::regRootName(key.root) + (key.path.empty() ? L"" : L"\\" + key.path);
    return true;
}

int failed(win::LONG rc, const std::wstring& what) {
    if (rc == 2)
        fail(kNotFound);
    else if (rc == 5)
        fail(L"ERROR: Access is denied: " + what);
    else
        fail(L"ERROR: " + what + L": registry error " + std::to_wstring(rc));
    return kFailure;
}

std::wstring typeName(win::DWORD type) {
    static const wchar_t* names[] = {L"REG_NONE",
                                     L"REG_SZ",
                                     L"REG_EXPAND_SZ",
                                     L"REG_BINARY",
                                     L"REG_DWORD",
                                     L"REG_DWORD_BIG_ENDIAN",
                                     L"REG_LINK",
                                     L"REG_MULTI_SZ",
                                     L"REG_RESOURCE_LIST",
                                     L"REG_FULL_RESOURCE_DESCRIPTOR",
                                     L"REG_RESOURCE_REQUIREMENTS_LIST",
                                     L"REG_QWORD"};
    if (type < std::size(names)) return names[type];
    return L"REG_UNKNOWN(" + std::to_wstring(type) + L")";
}

std::wstring hexText(const std::vector<std::uint8_t>& data) {
    static const wchar_t* digits = L"0123456789ABCDEF";
    std::wstring out;
    for (std::uint8_t b : data) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::wstring hexNumber(unsigned long long n) {
    wchar_t buffer[24];
    std::swprintf(buffer, 24, L"0x%llx", n);
    return buffer;
}

// Data shown as reg.exe shows it.
std::wstring dataText(win::DWORD type, const std::vector<std::uint8_t>& data) {
    auto little = [&](std::size_t n) {
        unsigned long long v = 0;
        for (std::size_t i = 0; i < n; ++i) v |= static_cast<unsigned long long>(data[i]) << (8 * i);
        return v;
    };
    switch (type) {
        case win::regtype::sz:
        case win::regtype::expandSz:
            return win::regDataString(data);
        case win::regtype::dword:
            if (data.size() == 4) return hexNumber(little(4));
            break;
        case win::regtype::qword:
            if (data.size() == 8) return hexNumber(little(8));
            break;
        case win::regtype::multiSz: {
            std::wstring out;
            for (const auto& item : win::regDataMultiString(data)) out += (out.empty() ? L"" : L"\\0") + item;
            return out;
        }
        default:
            break;
    }
    return hexText(data);
}

std::wstring valueLine(const std::wstring& name, win::DWORD type, const std::vector<std::uint8_t>& data) {
    return L"    " + (name.empty() ? std::wstring(L"(Default)") : name) + L"    " + typeName(type) + L"    " +
           dataText(type, data);
}

// Numbers for REG_DWORD and REG_QWORD: decimal, or hexadecimal after 0x, as reg.exe takes them.
bool parseNumber(const std::wstring& text, unsigned long long limit, unsigned long long& value) {
    std::wstring_view s = text;
    int base = 10;
    if (s.size() > 2 && s[0] == L'0' && (s[1] == L'x' || s[1] == L'X')) {
        base = 16;
        s.remove_prefix(2);
    }
    if (s.empty() || s.size() > 20) return false;
    value = 0;
    for (wchar_t c : s) {
        int d = -1;
        if (c >= L'0' && c <= L'9')
            d = c - L'0';
        else if (base == 16 && c >= L'a' && c <= L'f')
            d = c - L'a' + 10;
        else if (base == 16 && c >= L'A' && c <= L'F')
            d = c - L'A' + 10;
        if (d < 0) return false;
        if (value > (limit - static_cast<unsigned>(d)) / static_cast<unsigned>(base)) return false;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    return true;
}

bool makeData(const std::wstring& type, const std::wstring& text, const std::wstring& separator,
              win::DWORD& t, std::vector<std::uint8_t>& data, std::wstring& why) {
    unsigned long long n = 0;
    if (type == L"REG_SZ" || type == L"REG_EXPAND_SZ") {
        t = type == L"REG_SZ" ? win::regtype::sz : win::regtype::expandSz;
        data = win::regStringData(text);
    } else if (type == L"REG_DWORD" || type == L"REG_QWORD") {
        bool dword = type == L"REG_DWORD";
        if (!parseNumber(text.empty() ? L"0" : text, dword ? 0xFFFFFFFFull : ~0ull, n)) {
            why = L"Invalid " + type + L" data '" + text + L"'";
            return false;
        }
        t = dword ? win::regtype::dword : win::regtype::qword;
        data.clear();
        for (int i = 0; i < (dword ? 4 : 8); ++i) data.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    } else if (type == L"REG_BINARY") {
        t = win::regtype::binary;
        data.clear();
        if (text.size() % 2 != 0) {
            why = L"REG_BINARY data needs an even number of hexadecimal digits";
            return false;
        }
        for (std::size_t i = 0; i < text.size(); i += 2) {
            if (!parseNumber(L"0x" + text.substr(i, 2), 0xFF, n)) {
                why = L"Invalid REG_BINARY data '" + text + L"'";
                return false;
            }
            data.push_back(static_cast<std::uint8_t>(n));
        }
    } else if (type == L"REG_MULTI_SZ") {
        t = win::regtype::multiSz;
        std::vector<std::wstring> items;
        std::size_t start = 0;
        while (!text.empty()) {
            std::size_t at = text.find(separator, start);
            items.push_back(text.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start));
            if (at == std::wstring::npos) break;
            start = at + separator.size();
        }
        data = win::regMultiStringData(items);
    } else {
        why = L"Invalid type " + type;
        return false;
    }
    return true;
}

// Options of the form /x [value]; names are compared without regard to case.
struct Options {
    std::vector<std::wstring> positional;
    std::vector<std::pair<std::wstring, std::wstring>> named;
    bool has(const wchar_t* name) const {
        for (const auto& [n, v] : named) {
            if (n == name) return true;
        }
        return false;
    }
    std::wstring get(const wchar_t* name) const {
        for (const auto& [n, v] : named) {
            if (n == name) return v;
        }
        return L"";
    }
};

bool parseOptions(const Args& args, std::size_t from, const std::vector<std::wstring>& withValue,
                  const std::vector<std::wstring>& flags, Options& out, std::wstring& why) {
    for (std::size_t i = from; i < args.size(); ++i) {
        std::wstring a = args[i];
        std::wstring name = win::toLower(a);
        auto listed = [&](const std::vector<std::wstring>& names) {
            return std::find(names.begin(), names.end(), name) != names.end();
        };
        // A '/' word that names no option is a host path (reg export KEY /tmp/x.reg).
        bool option = (a.size() >= 2 && a[0] == L'-' && a[1] == L'-') || listed(withValue) || listed(flags);
        if (option) {
            bool known = false;
            for (const auto& n : withValue) {
                if (n == name) {
                    if (i + 1 >= args.size()) {
                        why = a + L" needs a value";
                        return false;
                    }
                    out.named.emplace_back(name, args[++i]);
                    known = true;
                }
            }
            for (const auto& n : flags) {
                if (n == name) {
                    out.named.emplace_back(name, L"");
                    known = true;
                }
            }
            if (!known) {
                why = L"unknown option " + a;
                return false;
            }
        } else {
            out.positional.push_back(a);
        }
    }
    return true;
}

int regAdd(const Args& args) {
    Options o;
    std::wstring why;
    if (!parseOptions(args, 1, {L"/v", L"/t", L"/d", L"/s"}, {L"/ve", L"/f"}, o, why)) return usage(why);
    if (o.positional.size() != 1) return usage(L"reg add takes one KEY");
    KeyArg key;
    if (!parseKey(o.positional[0], key)) return usage(L"Invalid key name " + o.positional[0]);
    if (o.has(L"/v") && o.has(L"/ve")) return usage(L"/v and /ve exclude each other");
    bool withValue = o.has(L"/v") || o.has(L"/ve") || o.has(L"/t") || o.has(L"/d");
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
    std::wstring typeText = o.has(L"/t") ? win::toUpper(o.get(L"/t")) : L"REG_SZ";
    std::wstring separator = o.has(L"/s") ? o.get(L"/s") : L"\\0";
    if (separator.empty()) return usage(L"/s needs a separator");
    if (withValue && !makeData(typeText, o.get(L"/d"), separator, type, data, why)) return usage(why);

    win::RegKey k;
    win::LONG rc = k.create(key.root, key.path);
    if (rc != 0) return failed(rc, key.display);
    if (withValue) {
        std::wstring name = o.get(L"/v");
        win::DWORD oldType;
        std::vector<std::uint8_t> old;
        if (!o.has(L"/f") && k.queryValue(name, oldType, old) == 0) {
            fail(L"ERROR: the value " + (name.empty() ? L"(Default)" : name) +
                 L" exists; add /f to overwrite it");
            return kFailure;
        }
        rc = k.setValue(name, type, data);
        if (rc != 0) return failed(rc, key.display);
    }
    out(kDone);
    return kSuccess;
}

void showValues(const win::RegKey& k, const std::wstring& display) {
    out(L"");
    out(display);
    std::wstring name;
    win::DWORD type;
    std::vector<std::uint8_t> data;
    for (win::DWORD i = 0; k.enumValue(i, name, type, data) == 0; ++i) out(valueLine(name, type, data));
}

// With /s every key below is shown with its values; without, the subkeys are listed by name.
void showTree(const win::RegKey& k, const std::wstring& display) {
    showValues(k, display);
    std::wstring name;
    for (win::DWORD i = 0; k.enumKey(i, name) == 0; ++i) {
        win::RegKey sub;
        if (sub.open(k, name) == 0) showTree(sub, display + L"\\" + name);
    }
}

int queryKey(const win::RegKey& k, const std::wstring& display, bool recurse) {
    if (recurse) {
        showTree(k, display);
        out(L"");
        return kSuccess;
    }
    showValues(k, display);
    out(L"");
    std::wstring name;
    for (win::DWORD i = 0; k.enumKey(i, name) == 0; ++i) out(display + L"\\" + name);
    return kSuccess;
}

int regQuery(const Args& args) {
    Options o;
    std::wstring why;
    if (!parseOptions(args, 1, {L"/v"}, {L"/ve", L"/s"}, o, why)) return usage(why);
    if (o.positional.size() != 1) return usage(L"reg query takes one KEY");
    KeyArg key;
    if (!parseKey(o.positional[0], key)) return usage(L"Invalid key name " + o.positional[0]);
    win::RegKey k;
    win::LONG rc = k.open(key.root, key.path);
    if (rc != 0) return failed(rc, key.display);
    if (o.has(L"/v") || o.has(L"/ve")) {
        std::wstring name = o.get(L"/v");
        win::DWORD type;
        std::vector<std::uint8_t> data;
        rc = k.queryValue(name, type, data);
        if (rc != 0) return failed(rc, key.display);
        // The name as stored, not as asked.
        std::wstring stored;
        win::DWORD t;
        std::vector<std::uint8_t> d;
        for (win::DWORD i = 0; k.enumValue(i, stored, t, d) == 0; ++i) {
            if (win::iequals(stored, name)) break;
        }
        out(L"");
        out(key.display);
        out(valueLine(name.empty() ? L"" : stored, type, data));
        out(L"");
        return kSuccess;
    }
    return queryKey(k, key.display, o.has(L"/s"));
}

int regDelete(const Args& args) {
    Options o;
    std::wstring why;
    if (!parseOptions(args, 1, {L"/v"}, {L"/ve", L"/va", L"/f"}, o, why)) return usage(why);
    if (o.positional.size() != 1) return usage(L"reg delete takes one KEY");
    if (!o.has(L"/f")) return usage(L"reg delete asks for no confirmation here: add /f");
    KeyArg key;
    if (!parseKey(o.positional[0], key)) return usage(L"Invalid key name " + o.positional[0]);
    win::RegKey k;
    win::LONG rc = 0;
    if (o.has(L"/v") || o.has(L"/ve")) {
        rc = k.open(key.root, key.path);
        if (rc == 0) rc = k.deleteValue(o.get(L"/v"));
    } else if (o.has(L"/va")) {
        rc = k.open(key.root, key.path);
        std::wstring name;
        win::DWORD type;
        std::vector<std::uint8_t> data;
        while (rc == 0 && k.enumValue(0, name, type, data) == 0) rc = k.deleteValue(name);
    } else {
        if (key.path.empty()) return usage(L"a root key cannot be deleted");
        rc = k.open(key.root, L"");
        if (rc == 0) rc = k.deleteTree(key.path);
    }
    if (rc != 0) return failed(rc, key.display);
    out(kDone);
    return kSuccess;
}

int regDeny(const Args& args) {
    Options o;
    std::wstring why;
    if (!parseOptions(args, 1, {}, {L"--off"}, o, why)) return usage(why);
    if (o.positional.size() != 1) return usage(L"reg deny takes one KEY");
    KeyArg key;
    if (!parseKey(o.positional[0], key)) return usage(L"Invalid key name " + o.positional[0]);
    win::LONG rc = win::setRegKeyDenied(key.root, key.path, !o.has(L"--off"));
    if (rc != 0) return failed(rc, key.display);
    out(kDone);
    return kSuccess;
}

win::LONG exportKey(const win::RegKey& k, win::RegRoot root, const std::wstring& path, RegFile& file) {
    RegFileKey entry;
    entry.root = root;
    entry.path = path;
    RegFileValue value;
    for (win::DWORD i = 0; k.enumValue(i, value.name, value.type, value.data) == 0; ++i)
        entry.values.push_back(value);
    file.keys.push_back(std::move(entry));
    std::wstring name;
    for (win::DWORD i = 0; k.enumKey(i, name) == 0; ++i) {
        win::RegKey sub;
        win::LONG rc = sub.open(k, name);
        if (rc != 0) return rc;
        rc = exportKey(sub, root, path.empty() ? name : path + L"\\" + name, file);
        if (rc != 0) return rc;
    }
    return 0;
}

int regExport(const Args& args) {
    Options o;
    std::wstring why;
    if (!parseOptions(args, 1, {}, {L"/y"}, o, why)) return usage(why);
    if (o.positional.size() != 2) return usage(L"reg export takes KEY and FILE");
    KeyArg key;
    if (!parseKey(o.positional[0], key)) return usage(L"Invalid key name " + o.positional[0]);
    win::RegKey k;
    win::LONG rc = k.open(key.root, key.path);
    RegFile file;
    if (rc == 0) rc = exportKey(k, key.root, key.path, file);
    if (rc != 0) return failed(rc, key.display);
    std::string bytes = formatRegFile(file);
    std::string target = win::toUtf8(o.positional[1]);
    std::ofstream stream(target, std::ios::binary | std::ios::trunc);
    if (!stream || !stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) ||
        !stream.flush()) {
        fail("ERROR: " + target + ": cannot write the file");
        return kFailure;
    }
    out(kDone);
    return kSuccess;
}

int regImport(const Args& args) {
    if (args.size() != 2) return usage(L"reg import takes one FILE");
    std::string source = win::toUtf8(args[1]);
    std::ifstream stream(source, std::ios::binary);
    if (!stream) {
        fail("ERROR: " + source + ": cannot read the file");
        return kFailure;
    }
    std::ostringstream buffer;
    buffer << stream.rdbuf();
    RegFile file;
    std::wstring why;
    if (!parseRegFile(buffer.str(), file, why)) {
        fail(L"ERROR: " + args[1] + L": " + why);
        return kFailure;
    }
    // The whole file is read before anything changes, so a bad line changes nothing.
    for (const RegFileKey& entry : file.keys) {
        std::wstring display = win::regRootName(entry.root) + (entry.path.empty() ? L"" : L"\\" + entry.path);
        win::RegKey k;
        if (entry.remove) {
            if (entry.path.empty()) {
                fail(L"ERROR: " + display + L": a root key cannot be deleted");
                return kFailure;
            }
            win::LONG rc = k.open(entry.root, L"");
            if (rc == 0) rc = k.deleteTree(entry.path);
            if (rc != 0 && rc != 2) return failed(rc, display);  // deleting what is not there is fine
            continue;
        }
        win::LONG rc = k.create(entry.root, entry.path);
        if (rc != 0) return failed(rc, display);
        for (const RegFileValue& value : entry.values) {
            rc = value.remove ? k.deleteValue(value.name) : k.setValue(value.name, value.type, value.data);
            if (rc != 0 && !(value.remove && rc == 2)) return failed(rc, display + L" " + value.name);
        }
    }
    out(kDone);
    return kSuccess;
}

}  // namespace

int regCommand(const Args& args) {
    if (wantsHelp(args)) {
        out(kRegHelp);
        return kSuccess;
    }
    if (args.empty()) return usage(L"reg needs a verb");
    const std::wstring& verb = args[0];
    if (verb == L"add") return regAdd(args);
    if (verb == L"query") return regQuery(args);
    if (verb == L"delete") return regDelete(args);
    if (verb == L"deny") return regDeny(args);
    if (verb == L"export") return regExport(args);
    if (verb == L"import") return regImport(args);
    return usage(L"unknown reg verb " + verb);
}

}  // namespace mw::machinetool
