// FindFirstFile / FindNextFile over one folder.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>

#include "platform/fs/file.h"
#include "platform/fs/hostfs.h"
#include "platform/fs/path.h"
#include "platform/text/text.h"

namespace win {

namespace fs = std::filesystem;

struct FindFile::State {
    std::vector<FindData> entries;
    std::size_t next = 0;
};

namespace {

// Windows wildcard match without regard to case: '*' any run, '?' one character. "*.*" matches
// names without a dot too, as it does on Windows.
bool matches(std::wstring_view pattern, std::wstring_view name) {
    if (pattern == L"*.*" || pattern == L"*") return true;
    std::size_t p = 0, n = 0, starP = std::wstring_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == L'?' || toUpper(pattern[p]) == toUpper(name[n]))) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == L'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::wstring_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') ++p;
    return p == pattern.size();
}

FindData describe(const std::wstring& name, const fs::path& host, const struct stat& st) {
    FindData d;
    d.name = name;
    d.attributes = hostfs::attributesOf(host, st);
    d.size = S_ISDIR(st.st_mode) ? 0 : static_cast<std::uint64_t>(st.st_size);
    d.times.creation = hostfs::creationTimeOf(host, st);
    d.times.lastAccess = hostfs::fromTimespec(st.st_atim);
    d.times.lastWrite = hostfs::fromTimespec(st.st_mtim);
    return d;
}

}  // namespace

FindFile::FindFile() = default;
FindFile::~FindFile() = default;

bool FindFile::first(std::wstring_view pattern, FindData& data) {
    close();
    std::wstring full;
    if (!fullPath(pattern, full)) return false;
    const std::wstring name = fileNamePart(full);
    if (name.empty()) {
        // "C:\dir\" names no file.
        setLastError(err::fileNotFound);
        return false;
    }
    const std::wstring folder = full.substr(0, full.size() - name.size());
    fs::path host;
    if (!hostPath(folder, host)) return false;
    struct stat st {};
    if (::stat(host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        setLastError(err::pathNotFound);
        return false;
    }
    auto state = std::make_unique<State>();
    if (folder.size() > 3) {
        // Not a drive root: "." and ".." come first, as NTFS lists them.
        struct stat parent {};
        const fs::path up = host.parent_path();
        if (matches(name, L".")) state->entries.push_back(describe(L".", host, st));
        if (matches(name, L"..") && ::stat(up.c_str(), &parent) == 0) {
            state->entries.push_back(describe(L"..", up, parent));
        }
    }
    std::vector<FindData> found;
    if (DIR* dir = ::opendir(host.c_str())) {
        while (dirent* e = ::readdir(dir)) {
            const std::string entry = e->d_name;
            if (entry == "." || entry == "..") continue;
            const std::wstring wide = fromUtf8(entry);
            if (!matches(name, wide)) continue;
            const fs::path item = host / entry;
            struct stat est {};
            if (::stat(item.c_str(), &est) != 0) continue;
            found.push_back(describe(wide, item, est));
        }
        ::closedir(dir);
    }
    std::sort(found.begin(), found.end(),
              [](const FindData& a, const FindData& b) { return toUpper(a.name) < toUpper(b.name); });
    for (auto& f : found) state->entries.push_back(std::move(f));
    if (state->entries.empty()) {
        setLastError(err::fileNotFound);
        return false;
    }
    data = state->entries[0];
    state->next = 1;
    state_ = std::move(state);
    setLastError(err::success);
    return true;
}

bool FindFile::next(FindData& data) {
    if (!state_) {
        setLastError(err::invalidHandle);
        return false;
    }
    if (state_->next >= state_->entries.size()) {
        setLastError(err::noMoreFiles);
        return false;
    }
    data = state_->entries[state_->next++];
    return true;
}

void FindFile::close() {
    state_.reset();
}

}  // namespace win
