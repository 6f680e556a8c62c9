// qdiff OLD NEW OUT.QDR [--name NAME] [--method auto|zstd|match]: makes a difference file.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "outside/quadrel/differ.h"
#include "outside/quadrel/host_map.h"

namespace {

const char* const kHelp = R"(Usage: qdiff OLD NEW OUT.QDR [--name NAME] [--method auto|zstd|match]

Makes a difference file that turns OLD into NEW. NAME is the file to patch inside the folder the
difference is applied in (default: OLD's file name). Methods:
  zstd   NEW compressed with OLD as reference (suits inserted and moved blocks)
  match  approximate matches over a suffix array of OLD (suits native code whose addresses moved)
  auto   makes both and keeps the smaller (default; per chunk for files above 2 GiB)
--chunk-mib N sets the chunk size used above 2 GiB (default 768).
)";

}  // namespace

int main(int argc, char** argv) {
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
    if (positional.size() != 3 || (method != "auto" && method != "zstd" && method != "match") || chunk == 0) {
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
        std::cout << " (zstd " << report.zstdBytes << ", match " << report.matchBytes << ")";
    std::cout << "\n";
    return 0;
}
