// Applying a .QDR to a fixed old file through the engine's entry, on a machine of its own. An input that
// starts with the magic is the whole difference file (either header version); any other input becomes
// the data behind a well-formed compact header (first byte: method, stream split and whether the new file
// is cut into two chunks), so the decoders get damaged data too.
// Must hold: the run ends; the folder afterwards holds the old file (unchanged unless the result is 0)
// and the difference, nothing else; nothing appears elsewhere on the drive.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "outside/quadrel/differ.h"
#include "outside/quadrel/md5.h"
#include "outside/quadrel/quadrel_api.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

namespace fs = std::filesystem;

const std::string& oldFile() {
    static const std::string bytes = [] {
        std::string s;
        for (int i = 0; i < 4096; ++i) s += static_cast<char>((i * 31) ^ (i >> 3));
        return s;
    }();
    return bytes;
}

// The folder the difference is applied in, and a neighbour that must stay empty.
const fs::path& folder() {
    static const fs::path path = fuzz::host(L"C:\\F");
    return path;
}
const fs::path& neighbour() {
    static const fs::path path = fuzz::host(L"C:\\G");
    return path;
}

std::string readHost(const fs::path& path) {
    std::string out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
        std::fclose(f);
    }
    return out;
}

char g_empty[1] = {0};
void* callback(int message, void*) { return message == quadrel::msg::kAskDiff ? nullptr : g_empty; }

std::string wrap(const std::uint8_t* data, std::size_t size) {
    quadrel::Header h;
    const std::string& old = oldFile();
    h.oldSize = old.size();
    h.oldMd5 = quadrel::md5Of({reinterpret_cast<const std::uint8_t*>(old.data()), old.size()});
    h.newSize = 4096 + (size > 1 ? data[1] : 0) * 16;
    h.name = "old.bin";
    const std::size_t body = size > 2 ? size - 2 : 0;
    const bool twoChunks = size > 0 && (data[0] & 0x80);
    // Two chunks: a "zstd" one for the first half of the new file and of the data, referring to the
    // old file's first half; the other refers to its last three quarters.
    quadrel::Chunk first;
    first.refSize = old.size() / 2;
    first.newSize = h.newSize / 2;
    first.sizes = {body / 2, 0, 0};
    quadrel::Chunk c;
    const std::size_t rest = twoChunks ? body - body / 2 : body;
    c.refOffset = twoChunks ? old.size() / 4 : 0;
    c.refSize = old.size() - c.refOffset;
    c.newSize = twoChunks ? h.newSize - first.newSize : h.newSize;
    if (size > 0 && (data[0] & 1)) {
        c.method = quadrel::Method::match;
        const std::size_t a = rest * ((data[0] >> 1) & 7) / 8, b = rest * ((data[0] >> 4) & 7) / 8;
        const std::size_t lo = std::min(a, b), hi = std::max(a, b);
        c.sizes = {lo, hi - lo, rest - hi};
    } else {
        c.sizes = {rest, 0, 0};
    }
    h.method = c.method;
    h.chunks = {c};
    if (twoChunks) {
        h.chunks.insert(h.chunks.begin(), first);
        if (c.method != quadrel::Method::zstd) h.method = quadrel::Method::mixed;
    }
    std::string file = quadrel::encodeHeader(h);
    if (body > 0) file.append(reinterpret_cast<const char*>(data + 2), body);
    return file;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fs::remove_all(folder());
    fs::remove_all(neighbour());
    fs::create_directories(neighbour());
    fuzz::writeHostFile(folder() / "old.bin", oldFile());
    const bool whole = size >= 4 && std::string(reinterpret_cast<const char*>(data), 4) == "QDR\x1a";
    const std::string diff = whole ? std::string(reinterpret_cast<const char*>(data), size) : wrap(data, size);
    fuzz::writeHostFile(folder() / "d.QDR", diff);

    const std::int32_t result = QuadrelOrdinal1(" \"C:\\F\" \"C:\\F\\d.QDR\"", callback, 1);

    std::size_t entries = 0;
    for (const auto& e : fs::directory_iterator(folder())) {
        ++entries;
        const std::string name = e.path().filename().string();
        FUZZ_CHECK(name == "old.bin" || name == "d.QDR", "stray file " + name);
    }
    FUZZ_CHECK(entries == 2, "files in the folder: " + std::to_string(entries));
    FUZZ_CHECK(fs::is_empty(neighbour()), "a file appeared beside the folder");
    if (result != quadrel::kApplied) {
        FUZZ_CHECK(readHost(folder() / "old.bin") == oldFile(), "refused, yet the old file changed");
    }
    return 0;
}
