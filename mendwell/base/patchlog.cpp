#include "mendwell/base/patchlog.h"

#include <chrono>

#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"
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

constexpr std::size_t kPendingLimit = 1 << 16;

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
    return file_.isOpen();
}

bool PatchLog::openFile() {
    // Others may read the log while it is written, never write it.
    return file_.open(path_, win::access::write, win::share::read, win::Disposition::openAlways) &&
           file_.seekEnd();
}

bool PatchLog::open(const std::wstring& path, bool echo, int format) {
    std::lock_guard guard(lock_);
    close();
    if (path.empty()) {
        status_ = -1;
        return false;
    }
    path_ = path;
    format_ = format;
    opened_ = false;

    std::uint64_t size = 0;
    if (!openFile() || !file_.size(size)) {
        file_.close();
        status_ = -1;
        return false;
    }
    // An existing log is continued: nothing goes at its head again. An empty one (a run that ended
    // before it wrote anything) gets its head now.
    if (size == 0) {
        touchBuffer([&] {
            writeRaw(L"\xFEFF");
            if (format_ == logFormatXml) {
                writeRaw(L"<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"no\" ?>\r\n");
                writeRaw(L"<LogManifest>\r\n");
            }
            writePending();
        });
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

namespace {
thread_local LogCapture* t_capture = nullptr;
}  // namespace

LogCapture::LogCapture() : previous_(t_capture) {
    t_capture = this;
}

LogCapture::~LogCapture() {
    t_capture = previous_;
}

LogCapture* LogCapture::current() {
    return t_capture;
}

void LogCapture::take(int type, std::wstring_view message) {
    if (type != logTypeError && type != logTypeCriticalError) return;
    if (!errors_.empty()) errors_ += L' ';
    errors_ += message;
}

bool PatchLog::write(int type, std::wstring_view sender, std::wstring_view message) {
    if (LogCapture* capture = LogCapture::current()) {
        capture->take(type, message);
        return true;
    }
    std::lock_guard guard(lock_);
    if (type > level_) return true;
    // A log that is not open drops its messages (before open, after close, after a failed reopen).
    if (!file_.isOpen()) return true;
    ++counter_;
    const Stamp stamp = stampNow();
    const std::wstring_view name = typeName(type);

    if (echo_) {
        win::printToParentConsole(std::wstring(sender) + L":" + std::wstring(message) + L"\r\n");
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
    touchBuffer([&] { writeRaw(record); });
    return true;
}

bool PatchLog::flush() {
    std::lock_guard guard(lock_);
    // Only an open log is reopened; a closed one stays closed.
    if (!opened_) return false;
    bool reopened = false;
    touchBuffer([&] {
        writePending();
        file_.close();
        reopened = openFile();
        if (!reopened) file_.close();
    });
    status_ = reopened ? 0 : -1;
    return reopened;
}

void PatchLog::close() {
    // Taking the lock costs nothing here and keeps a late writer from cutting the closing tag.
    std::lock_guard guard(lock_);
    if (file_.isOpen()) {
        touchBuffer([&] {
            if (format_ == logFormatXml) writeRaw(L"</LogManifest>");
            writePending();
            file_.close();
        });
    }
    opened_ = false;
}

template <class Change>
void PatchLog::touchBuffer(Change change) {
    // Only writers under the lock get here, so the exchange meets no other writer: only a fault handler.
    int idle = bufferIdle;
    if (!bufferState_.compare_exchange_strong(idle, bufferBusy)) return;
    change();
    bufferState_.store(bufferIdle);
}

bool PatchLog::prepareForFault() {
    std::lock_guard guard(lock_);
    const win::FileTime now = win::currentFileTime();
    localOffset_ = static_cast<long long>(win::fileTimeToLocal(now)) - static_cast<long long>(now);
    return opened_ && faultFile_.open(path_);
}

void PatchLog::endFaultPreparation() {
    std::lock_guard guard(lock_);
    faultFile_.close();
}

namespace {

// A record built without allocating: UTF-16LE bytes in a fixed buffer, cut off when it is full.
class FaultRecord {
  public:
    void put(wchar_t c) noexcept {
        if (c > 0xFFFF) c = L'?';
        if (size_ + 2 > sizeof bytes_) return;
        bytes_[size_++] = static_cast<char>(c & 0xFF);
        bytes_[size_++] = static_cast<char>((c >> 8) & 0xFF);
    }
    void put(std::wstring_view text) noexcept {
        for (wchar_t c : text) put(c);
    }
    void put(const wchar_t* text) noexcept {
        for (; *text; ++text) put(*text);
    }
    void number(unsigned long long value, int width) noexcept {
        wchar_t digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<wchar_t>(L'0' + value % 10);
            value /= 10;
        } while (value != 0 && n < 24);
        for (int pad = width - n; pad > 0; --pad) put(L'0');
        while (n > 0) put(digits[--n]);
    }
    const char* data() const noexcept { return bytes_; }
    std::size_t size() const noexcept { return size_; }

  private:
    char bytes_[2048];
    std::size_t size_ = 0;
};

// Days since 1970-01-01 to a civil date, in arithmetic only (the proleptic Gregorian calendar).
void civilFromDays(long long days, long long& year, unsigned& month, unsigned& day) noexcept {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const unsigned dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned mp = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * mp + 2) / 5 + 1;
    month = mp < 10 ? mp + 3 : mp - 9;
    year = static_cast<long long>(yearOfEra) + era * 400 + (month <= 2 ? 1 : 0);
}

}  // namespace

void PatchLog::sealForFault() noexcept {
    if (sealedByFault_) return;
    // A writer on another thread finishes in a moment; one stuck (or the faulting thread itself, caught
    // half-way) is waited for only briefly, and its buffered lines are then given up.
    int idle = bufferIdle;
    for (int tries = 0; tries < 20 && !bufferState_.compare_exchange_strong(idle, bufferSealed); ++tries) {
        idle = bufferIdle;
        win::faultSafeSleepMs(10);
    }
    const bool owned = bufferState_.load() == bufferSealed;
    if (!owned) bufferState_.store(bufferSealed);
    sealedByFault_ = true;
    if (owned && !pending_.empty()) faultFile_.append(pending_.data(), pending_.size());
}

void PatchLog::writeInFault(int type, const wchar_t* message) noexcept {
    if (!faultFile_.isOpen()) return;
    sealForFault();
    if (!admits(type)) return;
    constexpr unsigned long long kEpochDelta = 116444736000000000ULL;
    const win::FileTime utc = win::faultSafeTime();
    const long long seconds = static_cast<long long>((utc - kEpochDelta) / 10000000ULL);
    const long long localSeconds =
        (static_cast<long long>(utc) + localOffset_ - static_cast<long long>(kEpochDelta)) / 10000000LL;
    const long long days = localSeconds >= 0 ? localSeconds / 86400 : (localSeconds - 86399) / 86400;
    const long long daySeconds = localSeconds - days * 86400;
    long long year = 0;
    unsigned month = 0;
    unsigned day = 0;
    civilFromDays(days, year, month, day);

    FaultRecord record;
    const auto date = [&] {
        record.number(month, 2);
        record.put(L'/');
        record.number(day, 2);
        record.put(L'/');
        record.number(static_cast<unsigned long long>(year % 100), 2);
    };
    const auto time = [&] {
        record.number(static_cast<unsigned long long>(daySeconds / 3600), 2);
        record.put(L':');
        record.number(static_cast<unsigned long long>(daySeconds / 60 % 60), 2);
        record.put(L':');
        record.number(static_cast<unsigned long long>(daySeconds % 60), 2);
    };
    if (format_ == logFormatXml) {
        record.put(L"\t<LogUnit ID=\"");
        record.number(static_cast<unsigned long long>(seconds), 10);
        record.number(++counter_, 10);
        record.put(L"\" Type=\"");
        record.put(typeName(type));
        record.put(L"\" Date=\"");
        date();
        record.put(L"\" Time=\"");
        time();
        record.put(L':');
        record.number((utc / 10000ULL) % 1000ULL, 3);
        record.put(L"\" Sender=\"\">\r\n\t\t<message>");
        record.put(message);
        record.put(L"</message>\r\n\t</LogUnit>\r\n");
    } else {
        ++counter_;
        date();
        record.put(L"  ");
        time();
        record.put(L"  ");
        record.put(typeName(type));
        record.put(L"    ");  // the empty sender between its two separators
        record.put(message);
        record.put(L"\r\n");
    }
    faultFile_.append(record.data(), record.size());
}

void PatchLog::endInFault() noexcept {
    if (!faultFile_.isOpen()) return;
    sealForFault();
    if (format_ != logFormatXml) return;
    FaultRecord record;
    record.put(L"</LogManifest>");
    faultFile_.append(record.data(), record.size());
}

void PatchLog::writeRaw(std::wstring_view text) {
    if (!file_.isOpen()) return;
    pending_ += win::toUtf16le(text);
    if (pending_.size() >= kPendingLimit) writePending();
}

void PatchLog::writePending() {
    // Errors while writing are ignored: the patch does not stop for its log.
    if (file_.isOpen() && !pending_.empty()) (void)file_.write(pending_.data(), pending_.size());
    pending_.clear();
}

}  // namespace mw
