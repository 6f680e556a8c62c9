#include "mendwell/base/zip_extractor.h"

#include <unzip.h>

#include <vector>

#include "mendwell/base/zip_entry_writer.h"

#include "mendwell/base/patchlog.h"
#include "mendwell/base/zip_win_io.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace mw {

namespace {

constexpr std::size_t kMaxEntryName = 260;
constexpr uLong kUtf8NameFlag = 1u << 11;

std::wstring fromAnsi(const char* text) {
    std::wstring out;
    if (text) win::fromCodePage(text, win::ansiCodePage(), out);
    return out;
}

// A name that is relative and stays below the folder it is unpacked into: no leading separator (root
// or UNC), no drive or stream colon, no component made only of dots and blanks ("..", and ".. " which
// Windows trims to "..") other than "." itself, which names the folder it stands in, and no device name
// ("CON", "nul.txt"), which Windows would send to the device instead of a file in the folder.
bool isContainedName(const std::wstring& name) {
    if (name.empty() || name.front() == L'\\') return false;
    if (name.find(L':') != std::wstring::npos) return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find(L'\\', start);
        if (end == std::wstring::npos) end = name.size();
        const std::wstring_view part(name.data() + start, end - start);
        if (!part.empty() && part != L"." && part.find_first_not_of(L". ") == std::wstring_view::npos)
            return false;
        if (win::isReservedDeviceName(part)) return false;
        start = end + 1;
    }
    return true;
}

// Only an end-of-central-directory record (and its comment): no entries, no central directory.
bool isEmptyArchive(const std::wstring& path) {
    constexpr std::size_t kEndRecord = 22;
    std::string bytes;
    if (!win::readFile(path, bytes) || bytes.size() < kEndRecord || bytes.compare(0, 4, "PK\x05\x06") != 0)
        return false;
    auto number = [&bytes](std::size_t at, std::size_t size) {
        std::uint32_t v = 0;
        for (std::size_t i = size; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    return number(8, 2) == 0 && number(10, 2) == 0 && number(12, 4) == 0 && number(16, 4) == 0 &&
           number(20, 2) == bytes.size() - kEndRecord;
}

}  // namespace

void ansiPath(const std::wstring& path, char (&buffer)[kAnsiPathBuffer]) {
    buffer[0] = '\0';
    std::string converted;
    // A path cut short names another file or folder: one that does not fit is left empty, which the
    // extractor refuses.
    if (!win::toCodePage(path, win::ansiCodePage(), converted) || converted.size() >= kAnsiPathBuffer) return;
    converted.copy(buffer, converted.size());
    buffer[converted.size()] = '\0';
}

bool createFolderPath(const std::wstring& path) {
    if (path.empty()) return false;
    const win::DWORD attributes = win::getFileAttributes(path);
    if (attributes != win::attr::invalid) return (attributes & win::attr::directory) != 0;
    const std::size_t slash = path.find_last_of(L'\\');
    if (slash == std::wstring::npos) return true;
    if (slash > 0 && !createFolderPath(path.substr(0, slash))) return false;
    // Another process may have made it in the meantime.
    return win::createDirectory(path) || win::isDirectory(path);
}

TVRZipExtractor::TVRZipExtractor(const char* archivePath) {
    open(archivePath);
}

TVRZipExtractor::~TVRZipExtractor() {
    close();
}

bool TVRZipExtractor::open(const char* archivePath) {
    return open(fromAnsi(archivePath));
}

bool TVRZipExtractor::open(const std::wstring& path) {
    close();
    if (path.empty()) return false;
    zlib_filefunc64_def functions = windowsFileFunctions();
    archive_ = unzOpen2_64(path.c_str(), &functions);
    if (!archive_) {
        // minizip cannot open an archive whose end record is its first byte: one without entries.
        emptyArchive_ = isEmptyArchive(path);
        if (!emptyArchive_) return false;
    }
    const std::size_t dot = path.find_last_of(L'.');
    const std::size_t slash = path.find_last_of(L'\\');
    defaultFolder_ = (dot != std::wstring::npos && (slash == std::wstring::npos || dot > slash))
                         ? path.substr(0, dot)
                         : path;
    return true;
}

void TVRZipExtractor::close() {
    if (archive_) unzClose(static_cast<unzFile>(archive_));
    archive_ = nullptr;
    emptyArchive_ = false;
    defaultFolder_.clear();
}

int TVRZipExtractor::extractAll(const char* destination, bool flatten) {
    return extractAll(destination ? fromAnsi(destination) : defaultFolder_, flatten);
}

int TVRZipExtractor::extractAll(const std::wstring& folder, bool flatten) {
    filesWritten_ = 0;
    if (!isOpen()) return 0;
    if (folder.empty() || !createFolderPath(folder)) return 0;
    if (emptyArchive_) return 1;
    unz_global_info64 global{};
    if (unzGetGlobalInfo64(static_cast<unzFile>(archive_), &global) != UNZ_OK) return 0;
    // A patch without files carries an archive without entries: nothing to unpack, which is success.
    if (global.number_entry == 0) return 1;
    if (unzGoToFirstFile(static_cast<unzFile>(archive_)) != UNZ_OK) return 0;
    ZipEntryWriter writer(folder);
    bool good = true;
    for (;;) {
        if (!extractCurrent(writer, folder, flatten)) {
            good = false;
            break;
        }
        const int next = unzGoToNextFile(static_cast<unzFile>(archive_));
        if (next == UNZ_END_OF_LIST_OF_FILE) break;
        if (next != UNZ_OK) {
            good = false;
            break;
        }
    }
    const ZipEntryWriter::Failure failure = writer.finish();
    filesWritten_ = writer.filesWritten();
    const std::wstring& name = writer.failedName();
    switch (failure) {
        case ZipEntryWriter::Failure::none:
            return good ? 1 : 0;
        case ZipEntryWriter::Failure::outside:
            logError(L"Zip entry \"%s\" would be written outside the destination folder; it is refused.", name);
            break;
        case ZipEntryWriter::Failure::noFolder:
            logError(L"Zip entry \"%s\" could not be written: its folder cannot be created.", name);
            break;
        case ZipEntryWriter::Failure::cannotCreate:
        case ZipEntryWriter::Failure::writeFailed:
            logError(L"Zip entry \"%s\" could not be written (error %u).", name, writer.failedError());
            break;
        case ZipEntryWriter::Failure::damaged:
            logError(L"Zip entry \"%s\" is damaged: its data does not match its checksum.", name);
            break;
        case ZipEntryWriter::Failure::unreadable:
            logError(L"Zip entry \"%s\" cannot be read from the archive.", name);
            break;
    }
    return 0;
}

bool TVRZipExtractor::extractCurrent(ZipEntryWriter& writer, const std::wstring& destination, bool flatten) {
    auto* zip = static_cast<unzFile>(archive_);
    unz_file_info64 info{};
    char rawName[kMaxEntryName] = {};
    if (unzGetCurrentFileInfo64(zip, &info, rawName, sizeof rawName, nullptr, 0, nullptr, 0) != UNZ_OK) {
        return false;
    }
    // A longer name would come back cut short and land under the wrong name.
    if (info.size_filename > kMaxEntryName) {
        logError(L"Zip entry name is too long (%u bytes); the archive is not extracted.",
                 static_cast<unsigned>(info.size_filename));
        return false;
    }
    const std::string_view raw(rawName, info.size_filename);
    std::wstring name;
    if (info.flag & kUtf8NameFlag) {
        name = win::fromUtf8(raw);
    } else {
        win::fromCodePage(raw, win::ansiCodePage(), name);
    }
    for (wchar_t& c : name) {
        if (c == L'/') c = L'\\';
    }
    if (!isContainedName(name)) {
        logError(L"Zip entry \"%s\" would be written outside the destination folder; it is refused.", name);
        return false;
    }
    if (name.back() == L'\\') return true;  // a folder entry: nothing to write

    std::wstring target = destination;
    if (target.back() != L'\\') target += L'\\';
    target += flatten ? name.substr(name.find_last_of(L'\\') + 1) : name;
    // The writer checks the target, makes its folder and creates the file while the entry is inflated.
    writer.begin(name, std::move(target), static_cast<std::uint32_t>(info.dosDate));
    if (unzOpenCurrentFile(zip) != UNZ_OK) {
        writer.end(ZipEntryWriter::Failure::unreadable);
        return false;
    }
    std::uint64_t total = 0;
    bool damaged = false;
    while (!writer.failed()) {
        std::vector<char> buffer = writer.take();
        const int n = unzReadCurrentFile(zip, buffer.data(), static_cast<unsigned>(buffer.size()));
        buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        writer.write(std::move(buffer));
        if (n == 0) break;
        if (n < 0) {
            damaged = true;
            break;
        }
        total += static_cast<std::uint64_t>(n);
    }
    const int closed = unzCloseCurrentFile(zip);
    if (writer.failed()) return false;
    // minizip checks the CRC only when all the declared data was read, so the size is checked too.
    if (closed != UNZ_OK || total != info.uncompressed_size) damaged = true;
    // Never leave damaged data where the patch would take it from: the writer removes the file.
    writer.end(damaged ? ZipEntryWriter::Failure::damaged : ZipEntryWriter::Failure::none);
    return !damaged;
}

}  // namespace mw
