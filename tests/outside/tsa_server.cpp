#include "tests/outside/tsa_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/ts.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace kdt_test {

namespace {

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    const bool ok = ext && X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

int boundLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        if (fd >= 0) ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

TsaServer::TsaServer() {
    // A timestamping certificate: the responder insists on the critical timeStamping usage.
    key_ = EVP_RSA_gen(2048);
    cert_ = X509_new();
    X509_NAME* name = X509_get_subject_name(cert_);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("Test TSA"),
                               -1, -1, 0);
    const bool made =
        key_ && X509_set_version(cert_, 2) && ASN1_INTEGER_set(X509_get_serialNumber(cert_), 1) &&
        X509_gmtime_adj(X509_getm_notBefore(cert_), -3600) &&
        X509_gmtime_adj(X509_getm_notAfter(cert_), 86400) && X509_set_issuer_name(cert_, name) &&
        X509_set_pubkey(cert_, key_) && addExtension(cert_, NID_ext_key_usage, "critical,timeStamping") &&
        X509_sign(cert_, key_, EVP_sha256()) > 0;
    if (!made || ::pipe2(stopPipe_, O_CLOEXEC) != 0) return;
    listener_ = boundLoopback(port_);
    if (listener_ >= 0 && ::listen(listener_, 8) != 0) {
        ::close(listener_);
        listener_ = -1;
    }
    if (listener_ >= 0) thread_ = std::thread([this] { serve(); });
}

TsaServer::~TsaServer() {
    if (thread_.joinable()) {
        (void)!::write(stopPipe_[1], "x", 1);
        thread_.join();
    }
    for (int fd : {listener_, stopPipe_[0], stopPipe_[1]})
        if (fd >= 0) ::close(fd);
    X509_free(cert_);
    EVP_PKEY_free(key_);
}

std::string TsaServer::url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/tsa";
}

void TsaServer::serve() {
    while (true) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) return;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        answer(client);
        ::close(client);
    }
}

void TsaServer::answer(int client) {
    std::string raw;
    char buffer[4096];
    std::size_t need = std::string::npos;
    while (raw.size() < need) {
        pollfd p{client, POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) return;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0) return;
        raw.append(buffer, static_cast<std::size_t>(n));
        const auto end = raw.find("\r\n\r\n");
        if (end != std::string::npos && need == std::string::npos) {
            const auto at = raw.find("Content-Length: ");
            need = end + 4 + (at < end ? std::strtoul(raw.c_str() + at + 16, nullptr, 10) : 0);
        }
    }
    ++requests_;
    const std::string body = raw.substr(raw.find("\r\n\r\n") + 4);
    TS_RESP_CTX* ctx = TS_RESP_CTX_new();
    ASN1_OBJECT* policy = OBJ_txt2obj("1.3.6.1.4.1.99999.1", 1);
    BIO* in = BIO_new_mem_buf(body.data(), static_cast<int>(body.size()));
    TS_RESP* resp = nullptr;
    if (ctx && policy && in && TS_RESP_CTX_set_signer_cert(ctx, cert_) &&
        TS_RESP_CTX_set_signer_key(ctx, key_) && TS_RESP_CTX_set_def_policy(ctx, policy) &&
        TS_RESP_CTX_add_md(ctx, EVP_sha256()) && TS_RESP_CTX_set_signer_digest(ctx, EVP_sha256())) {
        resp = TS_RESP_create_response(ctx, in);
    }
    unsigned char* der = nullptr;
    const int len = resp ? i2d_TS_RESP(resp, &der) : 0;
    const std::string status = len > 0 ? "200 OK" : "500 Internal Server Error";
    std::string reply = "HTTP/1.0 " + status +
                        "\r\nContent-Type: application/timestamp-reply\r\nContent-Length: " +
                        std::to_string(len > 0 ? len : 0) + "\r\n\r\n";
    if (len > 0) reply.append(reinterpret_cast<char*>(der), static_cast<std::size_t>(len));
    (void)!::send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    OPENSSL_free(der);
    TS_RESP_free(resp);
    BIO_free(in);
    ASN1_OBJECT_free(policy);
    TS_RESP_CTX_free(ctx);
}

std::string unreachableUrl() {
    int port = 0;
    const int fd = boundLoopback(port);
    if (fd >= 0) ::close(fd);
    return "http://127.0.0.1:" + std::to_string(port) + "/tsa";
}

}  // namespace kdt_test
