// MD5 of a byte stream, fed piece by piece (OpenSSL).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "outside/quadrel/qdr_format.h"

namespace quadrel {

class Md5Stream {
  public:
    Md5Stream();
    ~Md5Stream();
    Md5Stream(const Md5Stream&) = delete;
    Md5Stream& operator=(const Md5Stream&) = delete;
    void update(const void* data, std::size_t size);
    Md5 finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

Md5 md5Of(std::span<const std::uint8_t> bytes);

}  // namespace quadrel
