#include "tools/mendwell-build/zip_writer.h"

#include <minizip/zip.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fstream>

namespace mwbuild {
namespace fs = std::filesystem;

namespace {

// A growing byte buffer seen by minizip as a seekable file.
struct MemorySink {
    std::vector<std::uint8_t>* bytes;
    std::uint64_t position = 0;
};

voidpf ZCALLBACK sinkOpen(voidpf opaque, const void*, int) {
    return opaque;
}

uLong ZCALLBACK sinkRead(voidpf, voidpf stream, void* buf, uLong size) {
    auto* sink = static_cast<MemorySink*>(stream);
    std::uint64_t available = sink->bytes->size() > sink->position ? sink->bytes->size() - sink->position : 0;
    uLong n = static_cast<uLong>(std::min<std::uint64_t>(size, available));
    std::memcpy(buf, sink->bytes->data() + sink->position, n);
    sink->position += n;
    return n;
}

uLong ZCALLBACK sinkWrite(voidpf, voidpf stream, const void* buf, uLong size) {
    auto* sink = static_cast<MemorySink*>(stream);
    if (sink->position + size > sink->bytes->size()) sink->bytes->resize(sink->position + size);
    std::memcpy(sink->bytes->data() + sink->position, buf, size);
    sink->position += size;
    return size;
}

ZPOS64_T ZCALLBACK sinkTell(voidpf, voidpf stream) {
    return static_cast<MemorySink*>(stream)->position;
}

long ZCALLBACK sinkSeek(voidpf, voidpf stream, ZPOS64_T offset, int origin) {
    auto* sink = static_cast<MemorySink*>(stream);
    std::uint64_t base = 0;
    if (origin == ZLIB_FILEFUNC_SEEK_CUR)
        base = sink->position;
    else if (origin == ZLIB_FILEFUNC_SEEK_END)
        base = sink->bytes->size();
    sink->position = base + offset;
    return 0;
}

int ZCALLBACK sinkClose(voidpf, voidpf) {
    return 0;
}
int ZCALLBACK sinkError(voidpf, voidpf) {
    return 0;
}

// The entry's date as local time, as zip tools record it.
tm_zip zipDate(const fs::path& file) {
    tm_zip out{};
    std::error_code ec;
    auto written = fs::last_write_time(file, ec);
    std::time_t t = ec ? std::time(nullptr)
                       : std::chrono::system_clock::to_time_t(
                             std::chrono::time_point_cast<std::chrono::system_clock::duration>(
                                 std::chrono::file_clock::to_sys(written)));
    std::tm local{};
    if (std::tm* p = std::localtime(&t)) local = *p;
    // The DOS format starts in 1980.
    if (local.tm_year < 80) {
        local = std::tm{};
        local.tm_year = 80;
        local.tm_mday = 1;
    }
    out.tm_sec = static_cast<uInt>(local.tm_sec);
    out.tm_min = static_cast<uInt>(local.tm_min);
    out.tm_hour = static_cast<uInt>(local.tm_hour);
    out.tm_mday = static_cast<uInt>(local.tm_mday);
    out.tm_mon = static_cast<uInt>(local.tm_mon);
    out.tm_year = static_cast<uInt>(local.tm_year + 1900);
    return out;
}

bool addFile(zipFile zip, const fs::path& file, const std::string& name, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file.string();
        return false;
    }
    std::error_code ec;
    std::uintmax_t size = fs::file_size(file, ec);
    zip_fileinfo info{};
    info.tmz_date = zipDate(file);
    int zip64 = (!ec && size >= 0xFFFFFFFFull) ? 1 : 0;
    if (zipOpenNewFileInZip64(zip, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, Z_DEFLATED,
                              Z_BEST_COMPRESSION, zip64) != ZIP_OK) {
        error = "cannot add " + name + " to the archive";
        return false;
    }
    std::vector<char> chunk(1 << 16);
    bool ok = true;
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        std::streamsize n = in.gcount();
        if (n > 0 && zipWriteInFileInZip(zip, chunk.data(), static_cast<unsigned>(n)) != ZIP_OK) {
            ok = false;
            break;
        }
    }
    if (in.bad()) ok = false;
    if (zipCloseFileInZip(zip) != ZIP_OK) ok = false;
    if (!ok) error = "cannot compress " + file.string();
    return ok;
}

}  // namespace

bool zipFolder(const fs::path& folder, const std::string& prefix, std::vector<std::uint8_t>& archive,
               std::string& error) {
    std::vector<std::pair<std::string, fs::path>> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        files.emplace_back(prefix + it->path().lexically_relative(folder).generic_string(), it->path());
    }
    if (ec) {
        error = "cannot list " + folder.string() + ": " + ec.message();
        return false;
    }
    std::sort(files.begin(), files.end());

    archive.clear();
    MemorySink sink{&archive};
    zlib_filefunc64_def io{sinkOpen, sinkRead, sinkWrite, sinkTell, sinkSeek, sinkClose, sinkError, &sink};
    zipFile zip = zipOpen2_64("memory", APPEND_STATUS_CREATE, nullptr, &io);
    if (!zip) {
        error = "cannot start an archive";
        return false;
    }
    bool ok = true;
    for (const auto& [name, path] : files) {
        if (!addFile(zip, path, name, error)) {
            ok = false;
            break;
        }
    }
    if (zipClose(zip, nullptr) != ZIP_OK && ok) {
        error = "cannot finish the archive";
        ok = false;
    }
    return ok;
}

}  // namespace mwbuild
