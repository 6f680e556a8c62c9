#include "platform/fs/path.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/fs/folder_cache.h"
#include "platform/fs/hostfs.h"
#include "platform/machine/machine.h"
#include "platform/system/environment_lock.h"
#include "platform/text/text.h"
#include "platform/win.h"

namespace win {

namespace fs = std::filesystem;

namespace {

bool isSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

bool isDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

wchar_t upperDrive(wchar_t c) {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - 32) : c;
}

std::vector<std::wstring> splitComponents(std::wstring_view text) {
    std::vector<std::wstring> parts;
    std::size_t i = 0;
    while (i <= text.size()) {
        std::size_t end = i;
        while (end < text.size() && !isSeparator(text[end])) ++end;
        if (end > i) parts.emplace_back(text.substr(i, end - i));
        i = end + 1;
    }
    return parts;
}

// Windows drops trailing dots and blanks of every name; a name of dots only is '.' or '..'.
void appendComponent(std::vector<std::wstring>& parts, std::wstring part) {
    if (part == L".") return;
    if (part == L"..") {
        if (!parts.empty()) parts.pop_back();
        return;
    }
    while (!part.empty() && (part.back() == L'.' || part.back() == L' ')) part.pop_back();
    if (!part.empty()) parts.push_back(std::move(part));
}

constexpr std::wstring_view kLongPrefix = L"\\\\?\\";

bool failWith(DWORD error) {
    setLastError(error);
    return false;
}

// "\\?\C:\a\b": the rest is used as written, so only a drive-absolute path with plain names is a place
// on this machine; '.' and '..' are refused rather than passed on as names.
bool resolveLiteral(std::wstring_view rest, std::wstring& out) {
    if (rest.size() < 3 || !isDriveLetter(rest[0]) || rest[1] != L':' || rest[2] != L'\\') {
        return failWith(err::badPathname);
    }
    std::wstring result;
    result += upperDrive(rest[0]);
    result += L":\\";
    std::wstring_view names = rest.substr(3);
    std::size_t start = 0;
    while (start < names.size()) {
        std::size_t end = names.find(L'\\', start);
        if (end == std::wstring_view::npos) end = names.size();
        const std::wstring_view part = names.substr(start, end - start);
        if (part.empty() || part == L"." || part == L".." || part.find(L'/') != std::wstring_view::npos) {
            return failWith(err::invalidName);
        }
        result += part;
        if (end < names.size()) result += L'\\';
        start = end + 1;
    }
    out = std::move(result);
    return true;
}

// Full path of `path` with `cwd` (a full path) for relative forms.
bool resolveAgainst(std::wstring_view path, const std::wstring& cwd, std::wstring& out) {
    if (path.empty()) {
        setLastError(err::invalidName);
        return false;
    }
    if (path.size() > kMaxLongPath) {
        setLastError(err::filenameTooLong);
        return false;
    }
    for (wchar_t c : path) {
        if (c == 0) return failWith(err::invalidName);
    }
    if (isLongPathForm(path)) return resolveLiteral(path.substr(kLongPrefix.size()), out);
    if (path.size() >= 2 && isSeparator(path[0]) && isSeparator(path[1])) {
        // \\server\share and \\.\ are not places on this machine.
        setLastError(err::badPathname);
        return false;
    }
    wchar_t drive = 0;
    std::vector<std::wstring> parts;
    std::wstring_view rest;
    auto startFromCwd = [&](bool wholeCwd) {
        drive = upperDrive(cwd[0]);
        if (wholeCwd) parts = splitComponents(std::wstring_view(cwd).substr(2));
    };
    if (path.size() >= 2 && isDriveLetter(path[0]) && path[1] == L':') {
        drive = upperDrive(path[0]);
        if (path.size() >= 3 && isSeparator(path[2])) {
            rest = path.substr(3);
        } else {
            // "C:name" is relative to the current directory when it is on that drive.
            if (upperDrive(cwd[0]) == drive) parts = splitComponents(std::wstring_view(cwd).substr(2));
            rest = path.substr(2);
        }
    } else if (isSeparator(path[0])) {
        startFromCwd(false);
        rest = path.substr(1);
    } else {
        startFromCwd(true);
        rest = path;
    }
    for (auto& part : splitComponents(rest)) appendComponent(parts, std::move(part));
    std::wstring result;
    result += drive;
    result += L":\\";
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i) result += L'\\';
        result += parts[i];
    }
    if (!parts.empty() && isSeparator(path.back())) result += L'\\';
    if (result.size() > kMaxLongPath) {
        setLastError(err::filenameTooLong);
        return false;
    }
    out = std::move(result);
    return true;
}

bool validName(const std::wstring& name) {
    for (wchar_t c : name) {
        if (c < 0x20 || c == L'<' || c == L'>' || c == L':' || c == L'"' || c == L'|' || c == L'?' ||
            c == L'*') {
            return false;
        }
    }
    return true;
}

// A name without letters that have case (digits, punctuation) has no other spelling to look for.
bool hasCasedLetters(const std::wstring& name) {
    for (wchar_t c : name) {
        if (toUpper(c) != c || toLower(std::wstring_view(&c, 1))[0] != c) return true;
    }
    return false;
}

// The entry of `folder` whose name equals `name` without regard to case; empty when none.
std::string findInsensitive(const fs::path& folder, const std::wstring& name) {
    // Listing the folder is what makes filling a large folder slow, so skip it when it cannot help.
    if (!hasCasedLetters(name)) return {};
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return {};
    std::string found;
    while (dirent* e = ::readdir(dir)) {
        const std::string entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        if (iequals(fromUtf8(entry), name)) {
            found = entry;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

struct CurrentDirectory {
    std::mutex mutex;
    std::wstring path;
    std::uint64_t generation = ~0ULL;
};

CurrentDirectory& cwdState() {
    static CurrentDirectory state;
    return state;
}

bool hostOfFull(const std::wstring& full, fs::path& out);

bool isExistingFolder(const std::wstring& full) {
    fs::path host;
    struct stat st {};
    return hostOfFull(full, host) && ::stat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::wstring withoutTrailingBackslash(std::wstring path) {
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    return path;
}

bool hostOfFull(const std::wstring& full, fs::path& out) {
    hostfs::Lookup found;
    if (!hostfs::hostOfFullPath(full, found, false)) return false;
    out = std::move(found.host);
    return true;
}

}  // namespace

namespace hostfs {

bool hostOfFullPath(const std::wstring& full, Lookup& out, bool withStat) {
    out = Lookup();
    const Machine& machine = Machine::current();
    if (!machine.ok()) {
        setLastError(err::accessDenied);
        return false;
    }
    const fs::path drive = machine.driveFolder(full[0]);
    const std::vector<std::wstring> parts = splitComponents(std::wstring_view(full).substr(3));
    std::vector<std::string> names;
    fs::path direct = drive;
    for (const auto& part : parts) {
        if (!validName(part)) {
            setLastError(err::invalidName);
            return false;
        }
        names.push_back(toUtf8(part));
        if (names.back().size() > 255) {
            setLastError(err::filenameTooLong);
            return false;
        }
        direct /= names.back();
    }
    struct stat st {};
    // Most paths are written in the case they exist in: one system call answers them.
    if (!names.empty() && ::lstat(direct.c_str(), &st) == 0) {
        out.exists = !S_ISLNK(st.st_mode) || ::stat(direct.c_str(), &st) == 0;
        if (out.exists) out.st = st;
        out.host = std::move(direct);
        return true;
    }
    fs::path current = drive;
    if (::stat(current.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        setLastError(err::pathNotFound);
        return false;
    }
    if (names.empty()) {
        out.exists = true;
        out.st = st;
        out.host = std::move(current);
        return true;
    }
    bool found = false;
    if (resolveFolded(drive, st, parts, names, current, found)) {
        // A name the kept folders do not hold is not there: no call needed to say so.
        out.exists = found && withStat && ::stat(current.c_str(), &out.st) == 0;
        out.host = std::move(current);
        return true;
    }
    bool lookup = true;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        const std::wstring& part = parts[i];
        fs::path candidate = current / name;
        if (lookup && ::lstat(candidate.c_str(), &st) != 0) {
            const std::string match = findInsensitive(current, part);
            if (match.empty())
                lookup = false;  // nothing below a missing name can exist
            else
                candidate = current / match;
        }
        current = std::move(candidate);
    }
    out.exists = withStat && ::stat(current.c_str(), &out.st) == 0;
    out.host = std::move(current);
    return true;
}

}  // namespace hostfs

bool isLongPathForm(std::wstring_view path) {
    return path.substr(0, kLongPrefix.size()) == kLongPrefix;
}

bool isReservedDeviceName(std::wstring_view name) {
    std::wstring_view base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
    std::wstring upper(base);
    for (wchar_t& c : upper) c = toUpper(c);
    if (upper == L"CON" || upper == L"PRN" || upper == L"AUX" || upper == L"NUL") return true;
    return upper.size() == 4 && (upper.starts_with(L"COM") || upper.starts_with(L"LPT")) &&
           upper[3] >= L'1' && upper[3] <= L'9';
}

bool fullPath(std::wstring_view path, std::wstring& out) {
    return resolveAgainst(path, currentDirectory(), out);
}

bool hostPath(std::wstring_view path, fs::path& out) {
    std::wstring full;
    return fullPath(path, full) && hostOfFull(full, out);
}

bool pathInDiskCase(std::wstring_view path, std::wstring& out) {
    std::wstring full;
    if (!fullPath(path, full) || full.size() != path.size() || !iequals(full, path)) return false;
    fs::path host;
    if (!hostOfFull(full, host)) return false;
    const std::wstring named = windowsPath(host);
    if (named.size() != full.size() || !iequals(named, full)) return false;
    out.assign(path.substr(0, 3));  // the drive as written
    out.append(named, 3);
    return true;
}

std::wstring windowsPath(const fs::path& host) {
    const Machine& machine = Machine::current();
    if (!machine.ok()) return {};
    std::error_code ec;
    const fs::path root = fs::absolute(machine.root(), ec).lexically_normal();
    const fs::path target = fs::absolute(host, ec).lexically_normal();
    const fs::path rel = target.lexically_relative(root);
    auto it = rel.begin();
    if (rel.empty() || it == rel.end()) return {};
    const std::string drive = it->string();
    if (drive.size() != 7 || drive.rfind("drive_", 0) != 0 || drive[6] < 'a' || drive[6] > 'z') return {};
    std::wstring out;
    out += static_cast<wchar_t>(drive[6] - 'a' + 'A');
    out += L":\\";
    bool first = true;
    for (++it; it != rel.end(); ++it) {
        const std::string part = it->string();
        if (part.empty() || part == ".") continue;
        if (part == "..") return {};
        if (!first) out += L'\\';
        out += fromUtf8(part);
        first = false;
    }
    return out;
}

std::wstring currentDirectory() {
    CurrentDirectory& state = cwdState();
    const std::uint64_t generation = Machine::generation();
    {
        std::lock_guard lock(state.mutex);
        if (state.generation == generation) return state.path;
    }
    // A new machine (or the first call): start again from what the parent handed down.
    std::wstring initial = L"C:\\";
    std::string inherited;
    {
        std::lock_guard envLock(environmentMutex());
        if (const char* value = std::getenv("MENDWELL_CWD")) inherited = value;
    }
    if (!inherited.empty()) {
        std::wstring candidate;
        const std::wstring text = fromUtf8(inherited);
        if (text.size() >= 3 && isDriveLetter(text[0]) && text[1] == L':' && isSeparator(text[2]) &&
            resolveAgainst(text, L"C:\\", candidate) && isExistingFolder(candidate)) {
            initial = withoutTrailingBackslash(candidate);
        }
    }
    std::lock_guard lock(state.mutex);
    if (state.generation != generation) {
        state.path = initial;
        state.generation = generation;
    }
    return state.path;
}

bool setCurrentDirectory(std::wstring_view path) {
    std::wstring full;
    fs::path host;
    if (!fullPath(path, full) || !hostPath(full, host)) return false;
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0) {
        struct stat parent {};
        const bool parentIsFolder =
            ::stat(host.parent_path().c_str(), &parent) == 0 && S_ISDIR(parent.st_mode);
        setLastError(parentIsFolder ? err::fileNotFound : err::pathNotFound);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        setLastError(err::directory);
        return false;
    }
    full = withoutTrailingBackslash(full);
    CurrentDirectory& state = cwdState();
    {
        std::lock_guard lock(state.mutex);
        state.path = full;
        state.generation = Machine::generation();
    }
    // Not exported to the environment here: setenv races with readers on other threads. Child
    // processes get MENDWELL_CWD from the process module when they start.
    return true;
}

std::wstring fileNamePart(std::wstring_view path) {
    const std::size_t cut = path.find_last_of(L"\\/");
    return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

std::wstring parentPart(std::wstring_view path) {
    const std::size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, cut));
}

std::wstring removeBackslash(std::wstring_view path) {
    std::wstring out(path);
    if (!out.empty() && out.back() == L'\\' && !(out.size() == 3 && out[1] == L':')) out.pop_back();
    return out;
}

std::wstring combine(std::wstring_view folder, std::wstring_view name) {
    std::wstring out(folder);
    std::wstring_view tail = name;
    while (!tail.empty() && tail.front() == L'\\') tail.remove_prefix(1);
    if (!out.empty() && out.back() != L'\\') out += L'\\';
    out += tail;
    return out;
}

}  // namespace win
