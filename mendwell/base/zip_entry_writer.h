// Writes unpacked zip entries on a thread of its own, in the order they are handed over, so that creating
// each file (which can cost as much as inflating it) overlaps inflating the next. Every file-system call
// of an extraction happens on that thread, one entry after the other, as a plain loop would make them.
#pragma once
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mw {

class ZipEntryWriter {
  public:
    enum class Failure { none, outside, noFolder, cannotCreate, writeFailed, damaged, unreadable };

    explicit ZipEntryWriter(std::wstring destination);
    ~ZipEntryWriter();  // finishes
    ZipEntryWriter(const ZipEntryWriter&) = delete;
    ZipEntryWriter& operator=(const ZipEntryWriter&) = delete;

    // Starts an entry's file at `target`, stamped with the entry's DOS date and time.
    void begin(std::wstring name, std::wstring target, std::uint32_t dosDate);
    // A buffer to fill with the current entry's next bytes; every one taken goes back through `write`,
    // cut to the bytes it holds (none is fine).
    std::vector<char> take();
    void write(std::vector<char> bytes);
    // Ends the current entry: `Failure::none` keeps the file, anything else removes it and stops.
    void end(Failure verdict);
    // True once any entry failed: nothing after it is written.
    bool failed();
    // Waits for every handed-over entry; the first failure, if any.
    Failure finish();

    const std::wstring& failedName() const { return failedName_; }
    unsigned failedError() const { return failedError_; }
    std::size_t filesWritten() const { return filesWritten_; }

  private:
    enum class Kind { begin, data, end, stop };
    struct Job {
        Kind kind = Kind::stop;
        std::wstring name;
        std::wstring target;
        std::uint32_t dosDate = 0;
        std::vector<char> bytes;
        Failure verdict = Failure::none;
    };

    void push(Job job);
    void run();
    void fail(Failure failure, const std::wstring& name, unsigned error);

    std::wstring destination_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> jobs_;
    std::vector<std::vector<char>> spare_;  // buffers back from the writer, to fill again
    std::size_t buffersOut_ = 0;            // buffers handed out and not yet back
    Failure failure_ = Failure::none;
    std::wstring failedName_;
    unsigned failedError_ = 0;
    std::size_t filesWritten_ = 0;
    bool finished_ = false;
    std::thread thread_;
};

}  // namespace mw
