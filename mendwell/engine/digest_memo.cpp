#include "mendwell/engine/digest_memo.h"

#include <cwctype>
#include <map>
#include <mutex>

#include "mendwell/engine/file_checks.h"
#include "platform/fs/file.h"

namespace mw {

namespace {

// 100 ns units: a file written less than this before it was hashed is hashed again when asked again.
constexpr win::FileTime kSettled = 1'000'000;  // 100 ms, well above a file-system clock tick

struct Stamp {
    std::uint64_t size = 0;
    win::FileTime lastWrite = 0;
};

struct Kept {
    Stamp stamp;
    std::wstring md5;
};

std::mutex& guard() {
    static std::mutex m;
    return m;
}

std::map<std::wstring, Kept>& memo() {
    static std::map<std::wstring, Kept> kept;
    return kept;
}

std::wstring keyOf(const std::wstring& path) {
    std::wstring key = path;
    for (wchar_t& c : key) c = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
    return key;
}

bool stampOf(const std::wstring& path, Stamp& stamp) {
    win::FileTimes times;
    return win::getFileSize(path, stamp.size) && win::getFileTimes(path, times) &&
           (stamp.lastWrite = times.lastWrite, true);
}

}  // namespace

std::wstring memoMd5Text(const std::wstring& path) {
    const std::wstring key = keyOf(path);
    Stamp now;
    const bool stamped = stampOf(path, now);
    {
        std::lock_guard lock(guard());
        const auto it = memo().find(key);
        if (it != memo().end()) {
            if (stamped && it->second.stamp.size == now.size && it->second.stamp.lastWrite == now.lastWrite)
                return it->second.md5;
            memo().erase(it);
        }
    }
    const win::FileTime hashedAt = win::currentFileTime();
    std::wstring md5 = fileMd5Text(path);
    // A write during or after the read gives a last-write time after `hashedAt` - a tick, which the
    // settled file's stamp does not match.
    if (stamped && !md5.empty() && now.lastWrite + kSettled < hashedAt) {
        std::lock_guard lock(guard());
        memo()[key] = Kept{now, md5};
    }
    return md5;
}

void forgetDigest(const std::wstring& path) {
    if (path.empty()) return;
    std::lock_guard lock(guard());
    memo().erase(keyOf(path));
}

void forgetDigests() {
    std::lock_guard lock(guard());
    memo().clear();
}

}  // namespace mw
