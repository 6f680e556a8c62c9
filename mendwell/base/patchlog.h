// The one process-wide patch log: UTF-16LE with a byte-order mark, text or XML records, a level filter,
// and one recursive lock so that records of different threads never interleave.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/fs/file.h"
#include "platform/system/fault_handler.h"
#include "platform/text/format.h"

namespace mw {

// Message types. The enumerators carry "Type" so they do not collide with the shorthands below.
enum LogType {
    logTypeError = 0,
    logTypeWarning = 1,
    logTypeInfo = 2,
    logTypeCriticalInfo = 3,
    logTypeCriticalError = 4
};
enum LogFormat { logFormatXml = 0, logFormatText = 1 };

class PatchLog {
  public:
    PatchLog() = default;
    ~PatchLog();  // closes the stream if still open
    PatchLog(const PatchLog&) = delete;
    PatchLog& operator=(const PatchLog&) = delete;

    static PatchLog& instance();

    bool open(const std::wstring& path, bool echo, int format);
    void setLevel(int level);
    // Always true: the log never reports a failure to its writers.
    bool write(int type, std::wstring_view sender, std::wstring_view message);
    template <class... Args>
    bool writef(int type, std::wstring_view sender, std::wstring_view format, const Args&... args) {
        // The level is read under the lock that setLevel writes it under.
        std::lock_guard guard(lock_);
        if (!admits(type)) return true;
        return write(type, sender, win::format(format, args...));
    }
    bool flush();
    void close();

    // The log's last words from a fault handler, where no lock may be taken and nothing allocated:
    // prepareForFault opens a second handle on the file and notes the local clock's offset beforehand;
    // writeInFault then writes the lines still buffered (unless a writer is stuck half-way) and one
    // record built in a fixed buffer; endInFault closes an XML document. Writers that come after the
    // fault's first record are dropped: the process is ending.
    bool prepareForFault();
    void endFaultPreparation();
    void writeInFault(int type, const wchar_t* message) noexcept;
    void endInFault() noexcept;

    int status() const { return status_; }
    std::uint32_t counter() const { return counter_; }
    int level() const { return level_; }
    bool isOpen() const;
    const std::wstring& path() const { return path_; }

  private:
    bool admits(int type) const { return type <= level_; }
    void writeRaw(std::wstring_view text);
    bool openFile();  // opens path_ through the machine's files, at its end
    void writePending();
    // Runs `change` on the buffer and the file unless a fault handler has taken them.
    template <class Change>
    void touchBuffer(Change change);
    void sealForFault() noexcept;

    mutable std::recursive_mutex lock_;
    std::atomic<std::uint32_t> counter_ = 0;
    int status_ = 0;
    std::wstring path_;
    // Through the platform, so the machine's read-only attribute and share modes apply to the log.
    win::File file_;
    std::string pending_;  // lines reach the file at flush and close, or when this grows large
    std::atomic<int> level_ = 0;
    int echo_ = 0;
    std::atomic<int> format_ = logFormatText;
    bool opened_ = false;  // between a successful open and close, even after a failed reopen

    // The buffer and file are idle, busy (a writer under the lock) or sealed (a fault handler owns them).
    enum BufferState : int { bufferIdle, bufferBusy, bufferSealed };
    std::atomic<int> bufferState_ = bufferIdle;
    bool sealedByFault_ = false;  // written only by the fault handler
    win::FaultSafeFile faultFile_;
    long long localOffset_ = 0;  // local minus UTC, in FILETIME ticks, when the fault path was prepared
};

// While one lives on a thread, that thread's records stay out of the log; the ERROR texts are kept.
// Judging an entry ahead of the run (the pre-flight) so says nothing that only the run itself may say,
// and the ERROR line the operation would have written becomes the reason of the finding.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    static LogCapture* current();
    void take(int type, std::wstring_view message);
    // The ERROR texts in order, joined by a blank.
    const std::wstring& errors() const { return errors_; }

  private:
    LogCapture* previous_;
    std::wstring errors_;
};

// Shorthands on the process-wide log with an empty sender. The format is always a literal; to log data
// as it stands, pass it as the argument of "%s".
template <class... Args>
inline void logError(std::wstring_view format, const Args&... args) {
    PatchLog::instance().writef(mw::logTypeError, L"", format, args...);
}
template <class... Args>
inline void logWarning(std::wstring_view format, const Args&... args) {
    PatchLog::instance().writef(mw::logTypeWarning, L"", format, args...);
}
template <class... Args>
inline void logInfo(std::wstring_view format, const Args&... args) {
    PatchLog::instance().writef(mw::logTypeInfo, L"", format, args...);
}
template <class... Args>
inline void logCritical(std::wstring_view format, const Args&... args) {
    PatchLog::instance().writef(mw::logTypeCriticalInfo, L"", format, args...);
}
inline bool logFlush() {
    return PatchLog::instance().flush();
}

}  // namespace mw
