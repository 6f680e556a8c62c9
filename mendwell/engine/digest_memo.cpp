#include "mendwell/engine/digest_memo.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cwctype>
#include <mutex>
#include <unordered_map>

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

// A few dozen bytes per file, for runs of tens of thousands of entries: the path by a 64-bit hash of its
// folded text (a collision must also match size and time), the digest as its 32 hex digits.
struct Kept {
    Stamp stamp;
    std::array<char, 32> md5{};
};

std::mutex& guard() {
    static std::mutex m;
    return m;
}

std::unordered_map<std::uint64_t, Kept>& memo() {
    static std::unordered_map<std::uint64_t, Kept> kept;
    return kept;
}

std::uint64_t keyOf(const std::wstring& path) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (wchar_t c : path) {
        const wchar_t folded = c == L'/' ? L'\\' : static_cast<wchar_t>(std::towlower(c));
        hash = (hash ^ static_cast<std::uint32_t>(folded)) * 1099511628211ull;
    }
    return hash;
}

bool stampOf(const std::wstring& path, Stamp& stamp) {
    return win::getSizeAndLastWrite(path, stamp.size, stamp.lastWrite);
}

}  // namespace

std::wstring memoMd5Text(const std::wstring& path) {
    const std::uint64_t key = keyOf(path);
    Stamp now;
    const bool stamped = stampOf(path, now);
    {
        std::lock_guard lock(guard());
        const auto it = memo().find(key);
        if (it != memo().end()) {
            if (stamped && it->second.stamp.size == now.size && it->second.stamp.lastWrite == now.lastWrite)
                return std::wstring(it->second.md5.begin(), it->second.md5.end());
            memo().erase(it);
        }
    }
    const win::FileTime hashedAt = win::currentFileTime();
    std::wstring md5 = fileMd5Text(path);
    // A write during or after the read gives a last-write time after `hashedAt` - a tick, which the
    // settled file's stamp does not match.
    if (stamped && md5.size() == 32 && now.lastWrite + kSettled < hashedAt) {
        Kept kept{now, {}};
        std::transform(md5.begin(), md5.end(), kept.md5.begin(), [](wchar_t c) { return static_cast<char>(c); });
        std::lock_guard lock(guard());
        memo()[key] = kept;
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
