#include "mendwell/base/zip_win_io.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "platform/fs/file.h"

namespace mw {

namespace {

// minizip reads headers a few bytes at a time and seeks before every block. Two small windows of the
// file kept in memory (one tends to follow the central directory, the other the entry being read) turn
// those into copies; block-sized reads of entry data go straight to the file.
constexpr std::size_t kWindow = 4096;

struct Window {
    std::vector<unsigned char> bytes;
    std::uint64_t start = 0;
    std::uint64_t lastUse = 0;
    bool holds(std::uint64_t offset) const { return offset >= start && offset < start + bytes.size(); }
};

struct Stream {
    win::File file;
    std::uint64_t position = 0;  // where minizip believes it is
    std::uint64_t size = 0;
    Window windows[2];
    std::uint64_t uses = 0;
    bool failed = false;
};

bool readAt(Stream& s, std::uint64_t offset, void* buffer, std::size_t size, std::size_t& got) {
    return s.file.readAt(offset, buffer, size, got);
}

// The window holding `offset`, refilling the least recently used one when neither does; null on error.
Window* windowFor(Stream& s, std::uint64_t offset) {
    Window* w = s.windows[0].holds(offset)   ? &s.windows[0]
                : s.windows[1].holds(offset) ? &s.windows[1]
                                             : nullptr;
    if (!w) {
        w = s.windows[0].lastUse <= s.windows[1].lastUse ? &s.windows[0] : &s.windows[1];
        w->bytes.resize(kWindow);
        std::size_t got = 0;
        if (!readAt(s, offset, w->bytes.data(), kWindow, got)) {
            w->bytes.clear();
            return nullptr;
        }
        w->bytes.resize(got);
        w->start = offset;
    }
    w->lastUse = ++s.uses;
    return w;
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
    if (size >= kWindow) {
        std::size_t got = 0;
        if (!readAt(*s, s->position, out, size, got)) {
            s->failed = true;
            return 0;
        }
        s->position += got;
        return static_cast<uLong>(got);
    }
    std::size_t done = 0;
    while (done < size && s->position < s->size) {
        Window* w = windowFor(*s, s->position);
        if (!w) {
            s->failed = true;
            break;
        }
        if (w->bytes.empty()) break;
        const std::size_t from = static_cast<std::size_t>(s->position - w->start);
        const std::size_t n = std::min<std::size_t>(size - done, w->bytes.size() - from);
        std::memcpy(out + done, w->bytes.data() + from, n);
        done += n;
        s->position += n;
    }
    return static_cast<uLong>(done);
}

uLong ZCALLBACK writeFile(voidpf, voidpf stream, const void*, uLong) {
    static_cast<Stream*>(stream)->failed = true;
    return 0;
}

ZPOS64_T ZCALLBACK tellFile(voidpf, voidpf stream) {
    return static_cast<Stream*>(stream)->position;
}

long ZCALLBACK seekFile(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* s = static_cast<Stream*>(stream);
    std::uint64_t target = 0;
    switch (origin) {
        case ZLIB_FILEFUNC_SEEK_SET:
            target = offset;
            break;
        case ZLIB_FILEFUNC_SEEK_CUR:
            target = s->position + offset;
            break;
        case ZLIB_FILEFUNC_SEEK_END:
            target = s->size + offset;
            break;
        default:
            return -1;
    }
    if (target > s->size) return -1;
    s->position = target;  // the file itself is positioned when the next read needs it
    return 0;
}

int ZCALLBACK closeFile(voidpf, voidpf stream) {
    delete static_cast<Stream*>(stream);
    return 0;
}

int ZCALLBACK testError(voidpf, voidpf stream) {
    return static_cast<Stream*>(stream)->failed ? -1 : 0;
}

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
