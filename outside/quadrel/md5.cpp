#include "outside/quadrel/md5.h"

#include <openssl/evp.h>

namespace quadrel {

struct Md5Stream::State {
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    ~State() { EVP_MD_CTX_free(ctx); }
};

Md5Stream::Md5Stream() : state_(std::make_unique<State>()) { EVP_DigestInit_ex(state_->ctx, EVP_md5(), nullptr); }
Md5Stream::~Md5Stream() = default;

void Md5Stream::update(const void* data, std::size_t size) {
    if (size > 0) EVP_DigestUpdate(state_->ctx, data, size);
}

Md5 Md5Stream::finish() {
    Md5 out{};
    unsigned int n = 0;
    EVP_DigestFinal_ex(state_->ctx, out.data(), &n);
    return out;
}

Md5 md5Of(std::span<const std::uint8_t> bytes) {
    Md5Stream s;
    s.update(bytes.data(), bytes.size());
    return s.finish();
}

}  // namespace quadrel
