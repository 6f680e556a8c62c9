#include "mendwell/shell/zip_win_io.h"

#include <cstdint>
#include <new>

#include "platform/fs/file.h"

namespace mw {

namespace {

struct Stream {
    win::File file;
    std::uint64_t position = 0;
    std::uint64_t size = 0;
    bool failed = false;
};

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
    std::size_t got = 0;
    if (!s->file.read(buffer, size, got)) {
        s->failed = true;
        return 0;
    }
    s->position += got;
    return static_cast<uLong>(got);
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
    // minizip seeks before every buffer it reads; most of those land where the file already is.
    if (target != s->position) {
        if (!s->file.seek(target)) return -1;
        s->position = target;
    }
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
