// A host file mapped read-only (an empty file gives an empty view). The engine reads old files
// this way so that their pages stay in the page cache instead of the heap.
#pragma once
#include <cstdint>
#include <filesystem>
#include <span>

namespace quadrel {

class HostMap {
  public:
    HostMap() = default;
    ~HostMap();
    HostMap(const HostMap&) = delete;
    HostMap& operator=(const HostMap&) = delete;
    // False with errno set when the file cannot be opened or mapped.
    bool open(const std::filesystem::path& file);
    void close();
    std::span<const std::uint8_t> bytes() const { return {base_, size_}; }

  private:
    const std::uint8_t* base_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace quadrel
