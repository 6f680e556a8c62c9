// Unpacks zip archives (the payload and the dictionaries) with minizip. The patcher hands paths over
// wide: a folder named outside the ANSI code page (a user "Łukasz" on code page 1252) has no ANSI form.
// The ANSI entry points remain for callers that hold ANSI paths (see ansiPath).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace mw {

class ZipEntryWriter;

constexpr std::size_t kAnsiPathBuffer = 1024;

// `path` in the ANSI code page into a fixed buffer, always terminated; empty when it does not fit.
void ansiPath(const std::wstring& path, char (&buffer)[kAnsiPathBuffer]);

class TVRZipExtractor {
  public:
    TVRZipExtractor() = default;
    explicit TVRZipExtractor(const char* archivePath);  // opens it
    ~TVRZipExtractor();
    TVRZipExtractor(const TVRZipExtractor&) = delete;
    TVRZipExtractor& operator=(const TVRZipExtractor&) = delete;

    bool open(const char* archivePath);
    bool open(const std::wstring& archivePath);
    bool isOpen() const { return archive_ != nullptr || emptyArchive_; }
    // 1 when every entry was written below `destination`, else 0. A null destination means the archive's
    // path without its extension. With `flatten` every file lands directly in the destination.
    int extractAll(const char* destination, bool flatten);
    int extractAll(const std::wstring& destination, bool flatten);
    void close();

    // Entries written by the last extractAll.
    std::size_t filesWritten() const { return filesWritten_; }

  private:
    bool extractCurrent(ZipEntryWriter& writer, const std::wstring& destination, bool flatten);

    void* archive_ = nullptr;    // unzFile
    bool emptyArchive_ = false;  // open, holding no entries
    std::wstring defaultFolder_;
    std::size_t filesWritten_ = 0;
};

// Creates `path` and its missing parents, each after its own parent. False when the path is empty or
// something on it exists and is not a folder; a path without any '\' succeeds without creating anything.
bool createFolderPath(const std::wstring& path);

}  // namespace mw
