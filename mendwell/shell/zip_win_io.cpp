#include "mendwell/shell/zip_win_io.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/fs/file.h"

namespace mw {

namespace {

// minizip reads headers a byte or two at a time and seeks before every block; a window of the file
// kept in memory turns those into copies instead of calls into the file layer.
constexpr std::size_t kWindow = 64 * 1024;

struct Stream {
    win::File file;
    std::uint64_t position = 0;  // where minizip believes it is
    std::uint64_t size = 0;
    std::vector<unsigned char> window;
    std::uint64_t windowStart = 0;  // file offset of window[0]
    bool failed = false;
};

// Fills the window so that it starts at `offset`.
bool fillWindow(Stream& s, std::uint64_t offset) {
    s.window.resize(kWindow);
    std::size_t got = 0;
    if (!s.file.seek(offset) || !s.file.read(s.window.data(), kWindow, got)) {
        s.window.clear();
        return false;
    }
    s.window.resize(got);
    s.windowStart = offset;
    return true;
}

voidpf ZCALLBACK openFile(voidpf, const void* filename, int mode) {
    if (!filename || (mode & ZLIB_FILEFUNC_MODE_READWRITEFILTER) != ZLIB_FILEFUNC_MODE_READ) return nullptr;
    auto* s = new (std::nothrow) Stream;
    if (!s) return nullptr;
    if (!s->file.open(static_cast<const wchar_t*>(filename), win::access::read, win::share::read,
                      win::Disposition::openExisting) ||
        !s->file.size(s->size)) {
        delete s;
        return nullptr;
    }
    return s;
}

uLong ZCALLBACK readFile(voidpf, voidpf stream, void* buffer, uLong size) {
    auto* s = static_cast<Stream*>(stream);
    auto* out = static_cast<unsigned char*>(buffer);
    std::size_t done = 0;
    while (done < size && s->position < s->size) {
        const bool inWindow = s->position >= s->windowStart && s->position < s->windowStart + s->window.size();
        if (!inWindow) {
            // Large reads go straight to the file; they would only pass through the window.
            if (size - done >= kWindow) {
                std::size_t got = 0;
                if (!s->file.seek(s->position) || !s->file.read(out + done, size - done, got)) {
                    s->failed = true;
                    break;
                }
                s->position += got;
                done += got;
                if (got == 0) break;
                continue;
            }
            if (!fillWindow(*s, s->position)) {
                s->failed = true;
                break;
            }
            if (s->window.empty()) break;
        }
        const std::size_t from = static_cast<std::size_t>(s->position - s->windowStart);
        const std::size_t n = std::min<std::size_t>(size - done, s->window.size() - from);
        std::memcpy(out + done, s->window.data() + from, n);
        done += n;
        s->position += n;
    }
    return static_cast<uLong>(done);
}

uLong ZCALLBACK writeFile(voidpf, voidpf stream, const void*, uLong) {
    static_cast<Stream*>(stream)->failed = true;
    return 0;
}

ZPOS64_T ZCALLBACK tellFile(voidpf, voidpf stream) { return static_cast<Stream*>(stream)->position; }

long ZCALLBACK seekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<Stream*>(stream);
    std::uint64_t target = 0;
    switch (origin) {
    case ZLIB_FILEFUNC_SEEK_SET: target = offset; break;
    case ZLIB_FILEFUNC_SEEK_CUR: target = s->position + offset; break;
    case ZLIB_FILEFUNC_SEEK_END: target = s->size + offset; break;
    default: return -1;
    }
    if (target > s->size) return -1;
    s->position = target;  // the file itself is positioned when the next read needs it
    return 0;
}

int ZCALLBACK closeFile(voidpf, voidpf stream) {
    delete static_cast<Stream*>(stream);
    return 0;
}

int ZCALLBACK testError(voidpf, voidpf stream) { return static_cast<Stream*>(stream)->failed ? -1 : 0; }

}  // namespace

zlib_filefunc64_def windowsFileFunctions() {
    zlib_filefunc64_def def{};
    def.zopen64_file = openFile;
    def.zread_file = readFile;
    def.zwrite_file = writeFile;
    def.ztell64_file = tellFile;
    def.zseek64_file = seekFile;
    def.zclose_file = closeFile;
    def.zerror_file = testError;
    def.opaque = nullptr;
    return def;
}

}  // namespace mw
