#include "tests/shell/shell_fixtures.h"

#include <zip.h>

#include <stdexcept>

#include "mendwell/shell/patchlog.h"
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

std::vector<LogLine> parseTextLog(const std::string& bytes) {
    std::vector<LogLine> out;
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return out;
    const std::wstring text = win::fromUtf16le(std::string_view(bytes).substr(2));
    // Date (8), two blanks, time (8), two blanks, type name (15), two blanks, sender, two blanks, message.
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find(L"\r\n", pos);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(pos, end - pos);
        pos = end + 2;
        if (line.size() < 39) continue;
        LogLine l;
        std::wstring type = line.substr(20, 15);
        l.type = type.substr(1, type.find_last_not_of(L' '));
        const std::size_t senderEnd = line.find(L"  ", 37);
        l.sender = line.substr(37, senderEnd - 37);
        l.message = line.substr(senderEnd + 2);
        out.push_back(l);
    }
    return out;
}

std::vector<std::wstring> messagesOf(const std::vector<LogLine>& lines, std::wstring_view type) {
    std::vector<std::wstring> out;
    for (const LogLine& l : lines) {
        if (l.type == type) out.push_back(l.message);
    }
    return out;
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
