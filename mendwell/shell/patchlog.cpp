#include "mendwell/shell/patchlog.h"

#include <chrono>
#include <filesystem>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/text/text.h"

namespace mw {

namespace {

// Every type name is 15 characters so that the text columns line up.
std::wstring_view typeName(int type) {
    switch (type) {
        case logTypeError:
            return L" ERROR         ";
        case logTypeWarning:
            return L" WARNING       ";
        case logTypeCriticalInfo:
            return L" CRITICALINFO  ";
        case logTypeCriticalError:
            return L" CRITICALERROR ";
        default:
            return L" INFO          ";
    }
}

void appendPadded(std::wstring& out, unsigned long long value, int width) {
    std::wstring digits = std::to_wstring(value);
    if (static_cast<int>(digits.size()) < width) out.append(width - digits.size(), L'0');
    out += digits;
}

struct Stamp {
    std::wstring date;  // MM/DD/YY
    std::wstring time;  // HH:MM:SS
    long long seconds = 0;
    unsigned milliseconds = 0;
};

Stamp stampNow() {
    // FILETIME: 100-ns units since 1601; the Unix epoch lies 11644473600 s later.
    constexpr unsigned long long kEpochDelta = 116444736000000000ULL;
    const win::FileTime utc = win::currentFileTime();
    Stamp s;
    s.seconds = static_cast<long long>((utc - kEpochDelta) / 10000000ULL);
    s.milliseconds = static_cast<unsigned>((utc / 10000ULL) % 1000ULL);

    const unsigned long long local = win::fileTimeToLocal(utc);
    const long long localSeconds = static_cast<long long>((local - kEpochDelta) / 10000000ULL);
    const long long days = localSeconds >= 0 ? localSeconds / 86400 : (localSeconds - 86399) / 86400;
    const long long daySeconds = localSeconds - days * 86400;
    const std::chrono::year_month_day ymd{std::chrono::sys_days{std::chrono::days{days}}};

    appendPadded(s.date, static_cast<unsigned>(ymd.month()), 2);
    s.date += L'/';
    appendPadded(s.date, static_cast<unsigned>(ymd.day()), 2);
    s.date += L'/';
    appendPadded(s.date, static_cast<unsigned>(static_cast<int>(ymd.year()) % 100), 2);
    appendPadded(s.time, static_cast<unsigned long long>(daySeconds / 3600), 2);
    s.time += L':';
    appendPadded(s.time, static_cast<unsigned long long>(daySeconds / 60 % 60), 2);
    s.time += L':';
    appendPadded(s.time, static_cast<unsigned long long>(daySeconds % 60), 2);
    return s;
}

std::FILE* openHost(const std::wstring& path, const char* mode) {
    std::filesystem::path host;
    if (!win::hostPath(path, host)) return nullptr;
    std::FILE* f = std::fopen(host.c_str(), mode);
    // A large buffer: lines reach the disk at flush and close, not line by line.
    if (f) std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
    return f;
}

}  // namespace

PatchLog::~PatchLog() {
    close();
}

PatchLog& PatchLog::instance() {
    static PatchLog log;
    return log;
}

bool PatchLog::isOpen() const {
    std::lock_guard guard(lock_);
    return stream_ != nullptr;
}

bool PatchLog::open(const std::wstring& path, bool echo, int format) {
    std::lock_guard guard(lock_);
    if (stream_) close();
    if (path.empty()) {
        status_ = -1;
        return false;
    }
    path_ = path;
    format_ = format;
    opened_ = false;

    if (std::FILE* probe = openHost(path, "r+b")) {
        // An existing log is continued: nothing goes at its head again.
        std::fclose(probe);
        stream_ = openHost(path, "a+b");
    } else {
        stream_ = openHost(path, "ab");
        if (stream_) {
            writeRaw(L"\xFEFF");
            if (format_ == logFormatXml) {
                writeRaw(L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n");
                writeRaw(L"<LogManifest>\r\n");
            }
        }
    }
    if (!stream_) {
        status_ = -1;
        return false;
    }
    opened_ = true;
    echo_ = echo ? 1 : 0;
    status_ = 0;
    counter_ = 0;
    return true;
}

void PatchLog::setLevel(int level) {
    std::lock_guard guard(lock_);
    level_ = level;
}

bool PatchLog::write(int type, std::wstring_view sender, std::wstring_view message) {
    std::lock_guard guard(lock_);
    if (type > level_) return true;
    // A log that is not open drops its messages (before open, after close, after a failed reopen).
    if (!stream_) return true;
    ++counter_;
    const Stamp stamp = stampNow();
    const std::wstring_view name = typeName(type);

    if (echo_) {
        std::string line = win::toUtf8(sender) + ":" + win::toUtf8(message) + "\r\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
    }

    std::wstring record;
    record.reserve(message.size() + 160);
    if (format_ == logFormatXml) {
        record += L"\t<LogUnit ID=\"";
        // Ten digits of seconds: 64-bit so the identifier stays right after 2038.
        appendPadded(record, static_cast<unsigned long long>(stamp.seconds), 10);
        appendPadded(record, counter_, 10);
        record += L"\" Type=\"";
        record += name;
        record += L"\" Date=\"";
        record += stamp.date;
        record += L"\" Time=\"";
        record += stamp.time;
        record += L':';
        appendPadded(record, stamp.milliseconds, 3);
        record += L"\" Sender=\"";
        record += sender;
        record += L"\">\r\n\t\t<message>";
        record += message;
        record += L"</message>\r\n\t</LogUnit>\r\n";
    } else {
        record += stamp.date;
        record += L"  ";
        record += stamp.time;
        record += L"  ";
        record += name;
        record += L"  ";
        record += sender;
        record += L"  ";
        record += message;
        record += L"\r\n";
    }
    writeRaw(record);
    return true;
}

bool PatchLog::flush() {
    std::lock_guard guard(lock_);
    // Only an open log is reopened; a closed one stays closed.
    if (!opened_) return false;
    if (stream_) std::fclose(stream_);
    stream_ = openHost(path_, "ab");
    status_ = stream_ ? 0 : -1;
    return stream_ != nullptr;
}

void PatchLog::close() {
    // Taking the lock costs nothing here and keeps a late writer from cutting the closing tag.
    std::lock_guard guard(lock_);
    if (stream_) {
        if (format_ == logFormatXml) writeRaw(L"</LogManifest>");
        std::fclose(stream_);
        stream_ = nullptr;
    }
    opened_ = false;
}

void PatchLog::writeRaw(std::wstring_view text) {
    if (!stream_) return;
    const std::string bytes = win::toUtf16le(text);
    // Errors while writing are ignored: the patch does not stop for its log.
    (void)std::fwrite(bytes.data(), 1, bytes.size(), stream_);
}

}  // namespace mw
