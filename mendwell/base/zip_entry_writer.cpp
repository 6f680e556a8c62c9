#include "mendwell/base/zip_entry_writer.h"

#include <utility>

#include "mendwell/base/zip_extractor.h"
#include "platform/fs/file.h"
#include "platform/fs/path.h"
#include "platform/system/system.h"
#include "platform/text/text.h"

namespace mw {

namespace {

// 64 KB per write, at most four buffers in flight: the reader runs ahead of the disk by at most 256 KB.
constexpr std::size_t kChunk = 65536;
constexpr std::size_t kBuffers = 4;

// Second line of defence: the resolved target really lies inside the resolved destination.
bool isInside(const std::wstring& destination, const std::wstring& target) {
    std::wstring dest;
    std::wstring full;
    if (!win::fullPath(destination, dest) || !win::fullPath(target, full)) return false;
    while (!dest.empty() && dest.back() == L'\\') dest.pop_back();
    dest += L'\\';
    return full.size() > dest.size() && win::iequals(std::wstring_view(full).substr(0, dest.size()), dest);
}

}  // namespace

ZipEntryWriter::ZipEntryWriter(std::wstring destination)
    : destination_(std::move(destination)), thread_([this] { run(); }) {}

ZipEntryWriter::~ZipEntryWriter() {
    finish();
}

void ZipEntryWriter::push(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
}

void ZipEntryWriter::begin(std::wstring name, std::wstring target, std::uint32_t dosDate) {
    Job job;
    job.kind = Kind::begin;
    job.name = std::move(name);
    job.target = std::move(target);
    job.dosDate = dosDate;
    push(std::move(job));
}

std::vector<char> ZipEntryWriter::take() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return buffersOut_ < kBuffers || failure_ != Failure::none; });
    ++buffersOut_;
    std::vector<char> bytes;
    if (!spare_.empty()) {
        bytes = std::move(spare_.back());
        spare_.pop_back();
    }
    bytes.resize(kChunk);
    return bytes;
}

void ZipEntryWriter::write(std::vector<char> bytes) {
    Job job;
    job.kind = Kind::data;
    job.bytes = std::move(bytes);
    push(std::move(job));
}

void ZipEntryWriter::end(Failure verdict) {
    Job job;
    job.kind = Kind::end;
    job.verdict = verdict;
    push(std::move(job));
}

bool ZipEntryWriter::failed() {
    std::lock_guard lock(mutex_);
    return failure_ != Failure::none;
}

ZipEntryWriter::Failure ZipEntryWriter::finish() {
    if (!finished_) {
        finished_ = true;
        push(Job{});
        thread_.join();
    }
    return failure_;
}

void ZipEntryWriter::fail(Failure failure, const std::wstring& name, unsigned error) {
    {
        std::lock_guard lock(mutex_);
        if (failure_ != Failure::none) return;
        failure_ = failure;
        failedName_ = name;
        failedError_ = error;
    }
    changed_.notify_all();
}

void ZipEntryWriter::run() {
    win::File file;
    std::wstring name;
    std::wstring target;
    std::wstring lastFolder;  // entries of one folder usually follow each other: checked once for all
    std::uint32_t dosDate = 0;
    bool stopped = false;  // after a failure nothing more is written
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return !jobs_.empty(); });
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        if (job.kind == Kind::stop) return;
        if (!stopped) {
            switch (job.kind) {
                case Kind::begin: {
                    name = std::move(job.name);
                    target = std::move(job.target);
                    dosDate = job.dosDate;
                    const std::wstring parent = target.substr(0, target.find_last_of(L'\\'));
                    if (!isInside(destination_, target)) {
                        fail(Failure::outside, name, 0);
                    } else if (parent != lastFolder && !createFolderPath(parent)) {
                        fail(Failure::noFolder, name, 0);
                    } else {
                        lastFolder = parent;
                        if (!file.open(target, win::access::write, win::share::read, win::Disposition::createAlways))
                            fail(Failure::cannotCreate, name, win::lastError());
                    }
                    stopped = failed();
                    break;
                }
                case Kind::data:
                    if (!job.bytes.empty() && !file.write(job.bytes.data(), job.bytes.size())) {
                        fail(Failure::writeFailed, name, win::lastError());
                        file.close();
                        // Never leave partial data where the patch would take it from.
                        win::deleteFile(target);
                        stopped = true;
                    }
                    break;
                case Kind::end:
                    if (job.verdict == Failure::none) {
                        // Set through the handle: the file's name need not be looked up again.
                        win::FileTime local = 0;
                        const auto date = static_cast<std::uint16_t>(dosDate >> 16);
                        const auto time = static_cast<std::uint16_t>(dosDate & 0xFFFF);
                        if (win::dosDateTimeToFileTime(date, time, local)) {
                            const win::FileTime utc = win::localToFileTime(local);
                            file.setTimes(&utc, nullptr, &utc);
                        }
                        file.close();
                        ++filesWritten_;
                    } else {
                        file.close();
                        win::deleteFile(target);
                        fail(job.verdict, name, 0);
                        stopped = true;
                    }
                    break;
                case Kind::stop:
                    break;
            }
        }
        if (job.kind == Kind::data) {
            {
                std::lock_guard lock(mutex_);
                --buffersOut_;
                spare_.push_back(std::move(job.bytes));
            }
            changed_.notify_all();
        }
    }
}

}  // namespace mw
