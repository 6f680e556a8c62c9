#include "platform/fs/folder_cache.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <map>
#include <mutex>
#include <unordered_map>

#include "platform/machine/machine.h"
#include "platform/text/text.h"

namespace win::hostfs {

namespace fs = std::filesystem;

namespace {

// Names kept over all folders; past this the cache starts again rather than grow without bound.
constexpr std::size_t kMaxNames = 200000;
constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF |
                                     IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

struct Entry {
    std::string name;        // as on disk
    bool folder = false;     // a real folder (not a link): the walk may keep its names too
    bool ambiguous = false;  // another name folds the same: the caller's own lookup decides
};

struct Folder {
    int watch = -1;
    dev_t device = 0;
    ino_t inode = 0;
    std::unordered_map<std::wstring, Entry> names;  // by upper-cased name
};

std::wstring folded(std::string_view utf8) {
    return toUpper(fromUtf8(std::string(utf8)));
}

class Cache {
  public:
    std::mutex mutex;

    bool resolve(const fs::path& drive, const struct stat& driveId, const std::vector<std::wstring>& parts,
                 const std::vector<std::string>& names, fs::path& out, bool& found) {
        if (!ready()) return false;
        drain();
        std::string current = drive.native();
        Folder* folder = kept(current);
        if (folder && (folder->device != driveId.st_dev || folder->inode != driveId.st_ino)) {
            dropAll();
            folder = kept(current);
        }
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!folder) return false;
            const auto it = folder->names.find(toUpper(parts[i]));
            if (it == folder->names.end()) {
                // Nothing below a missing name can exist: the rest stays as written.
                fs::path result(current);
                for (std::size_t j = i; j < names.size(); ++j) result /= names[j];
                out = std::move(result);
                found = false;
                return true;
            }
            if (it->second.ambiguous) return false;
            current += '/';
            current += it->second.name;
            if (i + 1 < names.size()) folder = it->second.folder ? kept(current) : nullptr;
        }
        out = fs::path(std::move(current));
        found = true;
        return true;
    }

    std::size_t size() { return folders_.size(); }

    // After fork() the child starts without a cache (its watches would be its parent's); at the end
    // everything is let go.
    void resetInChild() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        failed_ = false;
        folders_.clear();
        byWatch_.clear();
        names_ = 0;
    }

  private:
    int fd_ = -1;
    bool failed_ = false;
    std::uint64_t generation_ = ~0ULL;
    std::map<std::string, Folder> folders_;  // by host path; ordered so a subtree is one range
    std::unordered_map<int, std::string> byWatch_;
    std::size_t names_ = 0;

    bool ready() {
        const std::uint64_t generation = Machine::generation();
        if (generation != generation_) {
            dropAll();
            generation_ = generation;
        }
        if (fd_ < 0 && !failed_) {
            fd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            failed_ = fd_ < 0;  // out of instances: look names up the slow way
        }
        return fd_ >= 0;
    }

    void dropAll() {
        for (auto& [path, folder] : folders_) {
            if (fd_ >= 0) ::inotify_rm_watch(fd_, folder.watch);
        }
        folders_.clear();
        byWatch_.clear();
        names_ = 0;
    }

    void dropOne(std::map<std::string, Folder>::iterator it) {
        ::inotify_rm_watch(fd_, it->second.watch);
        byWatch_.erase(it->second.watch);
        names_ -= it->second.names.size();
        folders_.erase(it);
    }

    // The folder at `path` and every kept folder below it.
    void dropTree(const std::string& path) {
        if (auto it = folders_.find(path); it != folders_.end()) dropOne(it);
        const std::string prefix = path + '/';
        auto it = folders_.lower_bound(prefix);
        while (it != folders_.end() && it->first.compare(0, prefix.size(), prefix) == 0) {
            auto next = std::next(it);
            dropOne(it);
            it = next;
        }
    }

    void add(Folder& folder, const std::string& name, bool isFolder) {
        auto [it, inserted] = folder.names.try_emplace(folded(name));
        if (inserted) {
            it->second.name = name;
            it->second.folder = isFolder;
            ++names_;
        } else if (it->second.name == name) {
            it->second.folder = isFolder;
        } else {
            it->second.ambiguous = true;
        }
    }

    // True when the folder has to be listed again (a name of an ambiguous pair went).
    bool remove(Folder& folder, const std::string& name) {
        const auto it = folder.names.find(folded(name));
        if (it == folder.names.end()) return false;
        if (it->second.ambiguous) return true;
        if (it->second.name == name) {
            folder.names.erase(it);
            --names_;
        }
        return false;
    }

    // Applies every change the watches saw since the last call: ours and other processes' alike.
    void drain() {
        alignas(inotify_event) char buffer[16384];
        constexpr std::size_t kLargest = sizeof(inotify_event) + NAME_MAX + 1;
        for (;;) {
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n <= 0) return;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->mask & IN_Q_OVERFLOW) {
                    dropAll();
                    continue;
                }
                const auto owner = byWatch_.find(event->wd);
                if (owner == byWatch_.end()) continue;
                const std::string path = owner->second;
                if (event->mask & (IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
                    dropTree(path);
                    continue;
                }
                if (event->len == 0) continue;
                const std::string name(event->name);
                dropTree(path + '/' + name);
                Folder& folder = folders_.at(path);
                if (event->mask & (IN_CREATE | IN_MOVED_TO)) {
                    add(folder, name, (event->mask & IN_ISDIR) != 0);
                } else if (event->mask & (IN_DELETE | IN_MOVED_FROM)) {
                    if (remove(folder, name)) dropTree(path);
                }
            }
            if (static_cast<std::size_t>(n) + kLargest <= sizeof buffer) return;  // the queue is empty
        }
    }

    // The kept names of a folder, listed now when not kept yet; null when it cannot be watched.
    Folder* kept(const std::string& path) {
        if (auto it = folders_.find(path); it != folders_.end()) return &it->second;
        if (names_ > kMaxNames) dropAll();
        // Watched before it is listed: a change made meanwhile arrives as an event and is applied
        // over the listing, which gives the same names in the end.
        int watch = ::inotify_add_watch(fd_, path.c_str(), kWatchMask);
        if (watch < 0) return nullptr;
        if (auto other = byWatch_.find(watch); other != byWatch_.end()) {
            // The same folder under another path (renamed, events not read yet): start it again.
            dropTree(std::string(other->second));
            watch = ::inotify_add_watch(fd_, path.c_str(), kWatchMask);
            if (watch < 0 || byWatch_.count(watch)) return nullptr;
        }
        DIR* dir = ::opendir(path.c_str());
        if (!dir) {
            ::inotify_rm_watch(fd_, watch);
            return nullptr;
        }
        struct stat st {};
        if (::fstat(::dirfd(dir), &st) != 0) {
            ::closedir(dir);
            ::inotify_rm_watch(fd_, watch);
            return nullptr;
        }
        Folder& folder = folders_[path];
        folder.watch = watch;
        folder.device = st.st_dev;
        folder.inode = st.st_ino;
        byWatch_[watch] = path;
        while (dirent* e = ::readdir(dir)) {
            if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
            bool isFolder = e->d_type == DT_DIR;
            if (e->d_type == DT_UNKNOWN) {
                struct stat entry {};
                isFolder = ::fstatat(::dirfd(dir), e->d_name, &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                           S_ISDIR(entry.st_mode);
            }
            add(folder, e->d_name, isFolder);
        }
        ::closedir(dir);
        return &folder;
    }
};

// Set when the cache is destroyed (at exit, or when a library holding this layer is unloaded); plain
// bool, so it can still be read afterwards.
bool g_cacheGone = false;

Cache& cache() {
    struct Owned : Cache {
        Owned() {
            ::pthread_atfork(
                [] {
                    if (!g_cacheGone) cache().mutex.lock();
                },
                [] {
                    if (!g_cacheGone) cache().mutex.unlock();
                },
                [] {
                    if (g_cacheGone) return;
                    cache().mutex.unlock();
                    cache().resetInChild();
                });
        }
        ~Owned() {
            resetInChild();
            g_cacheGone = true;
        }
    };
    static Owned instance;
    return instance;
}

}  // namespace

bool resolveFolded(const fs::path& drive, const struct stat& driveId, const std::vector<std::wstring>& parts,
                   const std::vector<std::string>& names, fs::path& out, bool& found) {
    if (g_cacheGone) return false;
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    return c.resolve(drive, driveId, parts, names, out, found);
}

std::size_t keptFolders() {
    if (g_cacheGone) return 0;
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    return c.size();
}

}  // namespace win::hostfs
