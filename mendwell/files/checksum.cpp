#include "mendwell/files/checksum.h"

#include <openssl/evp.h>

#include "platform/fs/file.h"

namespace mw {

struct cMD5::State {
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(context); }
};

cMD5::cMD5() : state_(std::make_unique<State>()) {
    reset();
}

cMD5::~cMD5() = default;

void cMD5::reset() {
    if (state_->context) EVP_DigestInit_ex(state_->context, EVP_md5(), nullptr);
}

void cMD5::update(const void* data, std::size_t size) {
    if (state_->context && size > 0) EVP_DigestUpdate(state_->context, data, size);
}

std::string cMD5::finish() {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!state_->context || EVP_DigestFinal_ex(state_->context, digest, &length) != 1 || length != 16) {
        reset();
        return {};
    }
    static const char* digits = "0123456789ABCDEF";
    std::string text;
    text.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        text.push_back(digits[digest[i] >> 4]);
        text.push_back(digits[digest[i] & 0xF]);
    }
    reset();
    return text;
}

std::string cMD5::fileText(std::wstring_view path) {
    reset();
    win::File file;
    if (!file.open(path, win::access::read, win::share::read, win::Disposition::openExisting)) return {};
    std::uint64_t remaining = 0;
    if (!file.size(remaining)) return {};
    // Not zeroed: every byte hashed was read first (zeroing a megabyte cost more than hashing a small file).
    if (!buffer_) buffer_ = std::make_unique_for_overwrite<std::uint8_t[]>(kBufferSize);
    // The whole 64-bit size is counted down, so files of 2 GiB and more are hashed to their end. A read
    // that fails or comes up empty before the end leaves bytes uncounted and gives no digest.
    while (remaining > 0) {
        const std::size_t wanted =
            remaining < kBufferSize ? static_cast<std::size_t>(remaining) : kBufferSize;
        std::size_t got = 0;
        if (!file.read(buffer_.get(), wanted, got) || got == 0) break;
        update(buffer_.get(), got);
        remaining -= got;
    }
    file.close();
    if (remaining != 0) {
        reset();
        return {};
    }
    return finish();
}

std::string md5Text(std::wstring_view path) {
    cMD5 md5;
    return md5.fileText(path);
}

}  // namespace mw
