// The C interface of the binary patch engine library (quadw32.dll): one entry, standing for the
// library's ordinal 1, and the callback through which it talks to its front end.
#pragma once
#include <cstdint>

extern "C" {

// Callback (message number, data) -> a pointer the engine reads. A null answer to a progress
// message means the user asked to stop.
typedef void* (*QuadrelCallback)(int message, void* data);

// Applies one difference file. `arguments`: the OEM-code-page text holding the folder and the
// difference file as its first two quoted operands. `mode` is 1. Returns one of QuadrelResult.
__attribute__((visibility("default"))) std::int32_t QuadrelOrdinal1(const char* arguments,
                                                                   QuadrelCallback callback,
                                                                   std::int32_t mode);

}  // extern "C"

namespace quadrel {

// Results of the entry.
enum QuadrelResult : std::int32_t {
    kApplied = 0,          // the new file is in place (or the folder already held it)
    kBadArguments = 1,     // no folder or difference operand
    kOldMissing = 2,       // the file to patch is not in the folder
    kOldMismatch = 3,      // the file in the folder is not the old file of this difference
    kCorruptDiff = 4,      // the difference file is damaged or not a difference file
    kWriteFailed = 5,      // the new file could not be written or put in place
    kUserStop = 6,         // the user stopped the run (answered no difference file, or interrupted)
};

// Callback messages the engine sends.
namespace msg {
constexpr int kStart = 1;       // text: what is being patched
constexpr int kProgress = 2;    // text: percentage line
constexpr int kVerify = 3;      // text: checking the new file
constexpr int kDone = 4;        // text: outcome line
constexpr int kTick = 5;        // no data: a chance to stop during long work
constexpr int kInfo = 9;        // text: information written to standard output
constexpr int kAskDiff = 13;    // no data: the difference file was not found; answer a new path
constexpr int kStdinSize = 23;  // address of a 32-bit number: length of standard input
constexpr int kStdinRead = 24;  // StdinRead record
constexpr int kRenamed = 27;    // RenameRecord
}  // namespace msg

struct StdinRead {
    std::uint32_t offset;
    std::uint32_t count;
    void* buffer;
};

// flag1: an existing file was replaced ("R"); flag2: the new file's checksum was verified ("S");
// flag3: the old file was kept as a backup ("B"; this engine never keeps one).
struct RenameRecord {
    const char16_t* oldName;
    const char16_t* newName;  // null when the old name was removed
    std::uint32_t flag1;
    std::uint32_t flag2;
    std::uint32_t flag3;
};

}  // namespace quadrel
