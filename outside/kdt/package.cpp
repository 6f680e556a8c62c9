#include "outside/kdt/package.h"

#include <minizip/zip.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "outside/kdt/crypto.h"

namespace kdt {

std::string digestList(const std::vector<Entry>& entries) {
    std::string out;
    for (const Entry& e : entries) out += sha256Hex(e.data) + " " + e.name + "\n";
    return out;
}

bool writeArchive(const std::string& hostPath, const std::vector<Entry>& entries, std::string& error) {
    const std::string temporary = hostPath + ".part" + std::to_string(::getpid());
    zipFile zip = zipOpen64(temporary.c_str(), APPEND_STATUS_CREATE);
    if (!zip) {
        error = "error: cannot write " + hostPath;
        return false;
    }
    zip_fileinfo info{};
    const std::time_t now = std::time(nullptr);
    if (const std::tm* t = std::localtime(&now)) {
        info.tmz_date = {static_cast<uInt>(t->tm_sec),  static_cast<uInt>(t->tm_min),
                         static_cast<uInt>(t->tm_hour), static_cast<uInt>(t->tm_mday),
                         static_cast<uInt>(t->tm_mon),  static_cast<uInt>(t->tm_year + 1900)};
    }
    bool ok = true;
    for (const Entry& e : entries) {
        // The mimetype entry is stored, so a reader can recognise the file from its first bytes.
        const int method = e.name == "mimetype" ? 0 : Z_DEFLATED;
        ok = zipOpenNewFileInZip64(zip, e.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                   Z_DEFAULT_COMPRESSION, e.data.size() >= 0xFFFFFFFFull) == ZIP_OK &&
             (e.data.empty() ||
              zipWriteInFileInZip(zip, e.data.data(), static_cast<unsigned>(e.data.size())) == ZIP_OK) &&
             zipCloseFileInZip(zip) == ZIP_OK;
        if (!ok) break;
    }
    if (zipClose(zip, nullptr) != ZIP_OK) ok = false;
    if (!ok || std::rename(temporary.c_str(), hostPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        error = "error: cannot write " + hostPath;
        return false;
    }
    return true;
}

}  // namespace kdt
