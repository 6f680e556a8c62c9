#include "tests/base/base_fixtures.h"

#include <zip.h>

#include <stdexcept>

#include "mendwell/base/patchlog.h"
#include "platform/text/text.h"

namespace shell_test {

namespace fs = std::filesystem;
constexpr const wchar_t* kCapturedLog = L"C:\\captured\\shell.log";

std::string makeZip(const std::vector<ZipItem>& items) {
    testing_support::TempDir dir;
    const fs::path file = dir.path() / "archive.zip";
    zipFile zf = zipOpen64(file.c_str(), APPEND_STATUS_CREATE);
    if (!zf) throw std::runtime_error("zipOpen64 failed");
    for (const ZipItem& item : items) {
        zip_fileinfo info{};
        info.tmz_date.tm_year = static_cast<uInt>(item.year);
        info.tmz_date.tm_mon = static_cast<uInt>(item.month - 1);
        info.tmz_date.tm_mday = static_cast<uInt>(item.day);
        info.tmz_date.tm_hour = static_cast<uInt>(item.hour);
        info.tmz_date.tm_min = static_cast<uInt>(item.minute);
        info.tmz_date.tm_sec = static_cast<uInt>(item.second);
        const int method = item.stored ? 0 : Z_DEFLATED;
        const int level = item.stored ? 0 : Z_DEFAULT_COMPRESSION;
        if (zipOpenNewFileInZip4_64(zf, item.name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr, method,
                                    level, 0, -MAX_WBITS, DEF_MEM_LEVEL, Z_DEFAULT_STRATEGY, nullptr, 0, 0,
                                    item.utf8 ? (1u << 11) : 0u, 0) != ZIP_OK) {
            throw std::runtime_error("zipOpenNewFileInZip failed for " + item.name);
        }
        if (!item.data.empty() &&
            zipWriteInFileInZip(zf, item.data.data(), static_cast<unsigned>(item.data.size())) != ZIP_OK) {
            throw std::runtime_error("zipWriteInFileInZip failed");
        }
        zipCloseFileInZip(zf);
    }
    zipClose(zf, nullptr);
    return testing_support::readHostFile(file);
}

void ResourceModule::add(std::wstring type, std::uint16_t id, std::string_view data, std::uint16_t language) {
    writer_.add(win::ResourceId(std::move(type)), id, language,
                std::vector<std::uint8_t>(data.begin(), data.end()));
}

const win::Module& ResourceModule::build() {
    const fs::path program = dir_.path() / "program.bin";
    testing_support::writeHostFile(program, "program bytes");
    const fs::path output = dir_.path() / "Mendwell.exe";
    std::string error;
    if (!writer_.write(program, output, error)) throw std::runtime_error("resource table: " + error);
    if (!module_.open(output)) throw std::runtime_error("cannot open the module");
    return module_;
}

CapturedLog::CapturedLog(const testing_support::TestMachine& machine, int level) : machine_(machine) {
    fs::create_directories(machine.host(L"C:\\captured"));
    fs::remove(machine.host(kCapturedLog));
    if (!mw::PatchLog::instance().open(kCapturedLog, false, mw::logFormatText)) {
        throw std::runtime_error("cannot open the captured log");
    }
    mw::PatchLog::instance().setLevel(level);
}

CapturedLog::~CapturedLog() {
    mw::PatchLog::instance().close();
    mw::PatchLog::instance().setLevel(0);
}

std::vector<LogLine> CapturedLog::lines() {
    mw::PatchLog::instance().flush();
    return parseTextLog(machine_.readFile(kCapturedLog));
}

}  // namespace shell_test
