// A local RFC 3161 timestamp authority for tests: OpenSSL's ts responder behind an HTTP port on the
// loopback, served from a thread of the test process until the object goes.
#pragma once
#include <openssl/x509.h>

#include <atomic>
#include <string>
#include <thread>

namespace kdt_test {

class TsaServer {
  public:
    TsaServer();
    ~TsaServer();
    TsaServer(const TsaServer&) = delete;
    TsaServer& operator=(const TsaServer&) = delete;

    bool ok() const { return listener_ >= 0; }
    std::string url() const;  // http://127.0.0.1:PORT/tsa
    X509* certificate() const { return cert_; }
    int requests() const { return requests_; }

  private:
    void serve();
    void answer(int client);

    EVP_PKEY* key_ = nullptr;
    X509* cert_ = nullptr;
    int listener_ = -1;
    int stopPipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> requests_{0};
    std::thread thread_;
};

// A loopback address where nothing listens: a port that was bound and released.
std::string unreachableUrl();

}  // namespace kdt_test
