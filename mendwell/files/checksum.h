// MD5 checksums of files, as the manifest gives them: 32 upper-case hexadecimal digits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace mw {

// One MD5 computation (RFC 1321, through libcrypto) with its own read buffer of 1,000,000 bytes,
// allocated on first use and freed with the object.
class cMD5 {
  public:
    static constexpr std::size_t kBufferSize = 1000000;

    cMD5();
    virtual ~cMD5();
    cMD5(const cMD5&) = delete;
    cMD5& operator=(const cMD5&) = delete;

    // Starts over with the standard initial state.
    void reset();
    void update(const void* data, std::size_t size);
    // The digest of everything fed since the last reset, as 32 upper-case hexadecimal digits; the
    // state is reset afterwards.
    std::string finish();

    // The digest of the whole file at a Windows path (opened for reading, shared for reading only),
    // or "" when it cannot be opened or a read fails. Files of any size are hashed completely.
    std::string fileText(std::wstring_view path);

  private:
    struct State;
    std::unique_ptr<State> state_;
    std::unique_ptr<std::uint8_t[]> buffer_;
};

// cMD5().fileText(path): the callers compare it with manifest checksums case-insensitively.
std::string md5Text(std::wstring_view path);

}  // namespace mw
