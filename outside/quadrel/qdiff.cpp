// qdiff OLD NEW OUT.QDR [--name NAME] [--method auto|zstd|match|exe]: makes a difference file.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "outside/quadrel/differ.h"
#include "outside/quadrel/host_map.h"
#include "outside/quadrel/md5.h"

namespace {

const char* const kHelp = R"(Usage: qdiff OLD NEW OUT.QDR [--name NAME] [--method auto|zstd|match|exe]
       qdiff --apply OLD DIFF.QDR NEW

Makes a difference file that turns OLD into NEW. NAME is the file to patch inside the folder the
difference is applied in (default: OLD's file name). Methods:
  zstd   NEW compressed with OLD as reference (suits inserted and moved blocks)
  match  approximate matches over a suffix array of OLD (suits native code whose addresses moved)
  exe    for ELF and PE executables of x86 and x86-64: their addresses rewritten to labels first,
         so that code shifted by a few bytes differs little; other files as with zstd or match
  auto   makes each and keeps the smallest (default; per chunk for files above 2 GiB; exe only for
         executables of at most 64 MiB, larger ones take too long: ask for exe to have it)
--chunk-mib N sets the chunk size used above 2 GiB (default 768).
--apply checks OLD against the difference and writes NEW the way the engine does, on host paths
(for benchmarks and checks without a machine).
)";

// Host files, streamed like the engine's.
struct HostSink : quadrel::NewSink {
    std::FILE* file = nullptr;
    quadrel::Md5Stream md5;
    quadrel::Outcome write(const std::uint8_t* data, std::size_t size) override {
        md5.update(data, size);
        return std::fwrite(data, 1, size, file) == size ? quadrel::Outcome::ok : quadrel::Outcome::writeFailed;
    }
};
struct HostReader : quadrel::DiffReader {
    std::FILE* file = nullptr;
    std::uint64_t bytes = 0;
    std::uint64_t size() const override { return bytes; }
    bool readAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        return std::fseek(file, static_cast<long>(offset), SEEK_SET) == 0 &&
               std::fread(buffer, 1, count, file) == count;
    }
};

int apply(const std::string& oldPath, const std::string& diffPath, const std::string& newPath) {
    quadrel::HostMap old;
    if (!old.open(oldPath)) {
        std::cerr << "qdiff: cannot read " << oldPath << "\n";
        return 1;
    }
    HostReader reader;
    reader.file = std::fopen(diffPath.c_str(), "rb");
    if (reader.file == nullptr) {
        std::cerr << "qdiff: cannot read " << diffPath << "\n";
        return 1;
    }
    reader.bytes = std::filesystem::file_size(diffPath);
    quadrel::Header h;
    int rc = 0;
    if (!quadrel::parseHeader(reader, h)) {
        std::cerr << "qdiff: not a valid difference file\n";
        rc = 4;
    } else if (old.bytes().size() != h.oldSize || quadrel::md5Of(old.bytes()) != h.oldMd5) {
        std::cerr << "qdiff: " << oldPath << " is not the old file of this difference\n";
        rc = 3;
    } else {
        HostSink sink;
        sink.file = std::fopen(newPath.c_str(), "wb");
        if (sink.file == nullptr) return 5;
        const quadrel::Outcome o = quadrel::applyDifference(h, reader, old.bytes(), sink);
        const bool closed = std::fclose(sink.file) == 0;
        if (o != quadrel::Outcome::ok || sink.md5.finish() != h.newMd5 || !closed) {
            std::cerr << "qdiff: the difference could not be applied\n";
            std::filesystem::remove(newPath);
            rc = o == quadrel::Outcome::writeFailed || !closed ? 5 : 4;
        }
    }
    std::fclose(reader.file);
    return rc;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--apply") return apply(argv[2], argv[3], argv[4]);
    std::vector<std::string> positional;
    std::string name, method = "auto";
    std::uint64_t chunk = quadrel::kDefaultChunk;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::cout << kHelp;
            return 0;
        }
        if ((a == "--name" || a == "--method" || a == "--chunk-mib") && i + 1 < argc) {
            const std::string v = argv[++i];
            if (a == "--name") name = v;
            else if (a == "--method") method = v;
            else chunk = std::stoull(v) << 20;
        } else if (!a.empty() && a[0] == '-') {
            std::cerr << "qdiff: unknown option " << a << "\n" << kHelp;
            return 2;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 3 || (method != "auto" && method != "zstd" && method != "match" && method != "exe") ||
        chunk == 0) {
        std::cerr << kHelp;
        return 2;
    }
    const std::filesystem::path oldPath = positional[0], newPath = positional[1], outPath = positional[2];
    if (name.empty()) name = oldPath.filename().string();
    quadrel::HostMap oldMap, newMap;
    if (!oldMap.open(oldPath)) {
        std::cerr << "qdiff: cannot read " << oldPath.string() << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    if (!newMap.open(newPath)) {
        std::cerr << "qdiff: cannot read " << newPath.string() << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    const quadrel::Request request = method == "zstd"    ? quadrel::Request::zstd
                                     : method == "match" ? quadrel::Request::match
                                     : method == "exe"   ? quadrel::Request::exe
                                                         : quadrel::Request::automatic;
    quadrel::MakeReport report;
    std::string error;
    if (!quadrel::makeDifference(oldMap.bytes(), newMap.bytes(), name, request, outPath, report, error, chunk)) {
        std::cerr << "qdiff: " << error << "\n";
        std::filesystem::remove(outPath);
        return 1;
    }
    std::cout << outPath.string() << ": " << report.fileSize << " bytes, method "
              << quadrel::methodName(report.method);
    if (request == quadrel::Request::automatic)
        std::cout << " (zstd " << report.zstdBytes << ", match " << report.matchBytes << ", exe " << report.exeBytes
                  << ")";
    std::cout << "\n";
    return 0;
}
