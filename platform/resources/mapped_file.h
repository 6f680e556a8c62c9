// A whole file mapped read-only, so resources can be handed out without copying.
#pragma once
#include <cstdint>
#include <filesystem>
#include <span>

namespace win::rsrc {

class MappedFile {
  public:
    MappedFile() = default;
    ~MappedFile();
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;

    // False with 2/3/5 when the file cannot be opened, 13 when it cannot be mapped.
    bool open(const std::filesystem::path& file);
    void close();
    bool isOpen() const { return open_; }
    std::span<const std::uint8_t> bytes() const { return {base_, size_}; }

  private:
    bool open_ = false;
    const std::uint8_t* base_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace win::rsrc
