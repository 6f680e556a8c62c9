// Share modes among all processes using this layer. Each handle holds read locks (open file
// description locks, so they belong to the handle, not the process) on marker bytes far beyond any
// real file size: one for each access it has and one for each sharing it refuses. A machine-wide
// lock file serialises the check-then-mark step.
#pragma once
#include <filesystem>
#include <mutex>

#include "platform/win.h"

namespace win::sharing {

// Held while a handle checks and marks, or while a path operation checks and acts.
class Guard {
  public:
    Guard();
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

  private:
    std::unique_lock<std::mutex> local_;
    int fd_ = -1;
    bool owned_ = false;
};

// Whether a handle asking for `access` with `share` conflicts with the handles of other open file
// descriptions on the file behind `lockFd`.
bool conflicts(int lockFd, DWORD access, DWORD share);
// Puts this handle's markers on `lockFd`'s file; false when the host refuses the locks.
bool mark(int lockFd, DWORD access, DWORD share);
// The same check for an operation on a path (delete, move): opens, probes, closes. A missing or
// unreadable file conflicts with nothing.
bool pathConflicts(const std::filesystem::path& host, DWORD access, DWORD share);
// Whether any handle with data access is open on the file, whatever it shares.
bool pathInUse(const std::filesystem::path& host);

}  // namespace win::sharing
