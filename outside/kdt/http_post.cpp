#include "outside/kdt/http_post.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace kdt {

namespace {

constexpr int kTimeoutMs = 15000;

struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
};

bool waitFor(int fd, short events) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, kTimeoutMs) == 1;
}

}  // namespace

HttpResult httpPost(const std::string& url, const std::string& contentType, const std::string& body,
                    int& status, std::string& answer, std::string& error) {
    status = 0;
    answer.clear();
    const std::string scheme = "http://";
    if (url.compare(0, scheme.size(), scheme) != 0) {
        error = "only http:// timestamp servers are supported: " + url;
        return HttpResult::unreachable;
    }
    const std::string rest = url.substr(scheme.size());
    const auto slash = rest.find('/');
    const std::string authority = rest.substr(0, slash);
    const std::string path = slash == std::string::npos ? "/" : rest.substr(slash);
    const auto colon = authority.rfind(':');
    const std::string host = authority.substr(0, colon);
    const std::string port = colon == std::string::npos ? "80" : authority.substr(colon + 1);

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0 || !found) {
        error = "cannot resolve " + host;
        return HttpResult::unreachable;
    }
    Socket s;
    for (addrinfo* a = found; a && s.fd < 0; a = a->ai_next) {
        s.fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s.fd >= 0 && ::connect(s.fd, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(s.fd);
            s.fd = -1;
        }
    }
    ::freeaddrinfo(found);
    if (s.fd < 0) {
        error = "cannot connect to " + authority + ": " + std::strerror(errno);
        return HttpResult::unreachable;
    }
    const std::string request =
        "POST " + path + " HTTP/1.0\r\nHost: " + authority + "\r\nContent-Type: " + contentType +
        "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    for (std::size_t sent = 0; sent < request.size();) {
        if (!waitFor(s.fd, POLLOUT)) {
            error = "timed out sending to " + authority;
            return HttpResult::unreachable;
        }
        const ssize_t n = ::send(s.fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            error = "connection to " + authority + " lost";
            return HttpResult::unreachable;
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string raw;
    char buffer[8192];
    while (true) {
        if (!waitFor(s.fd, POLLIN)) {
            error = "timed out waiting for " + authority;
            return HttpResult::unreachable;
        }
        const ssize_t n = ::recv(s.fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            error = "connection to " + authority + " lost";
            return HttpResult::unreachable;
        }
        if (n == 0) break;
        raw.append(buffer, static_cast<std::size_t>(n));
        if (raw.size() > (16u << 20)) break;  // no timestamp answer is this large
    }
    const auto headerEnd = raw.find("\r\n\r\n");
    if (raw.compare(0, 5, "HTTP/") != 0 || headerEnd == std::string::npos) {
        error = "not an HTTP answer from " + authority;
        return HttpResult::badAnswer;
    }
    const auto blank = raw.find(' ');
    status = blank < headerEnd ? std::atoi(raw.c_str() + blank + 1) : 0;
    answer = raw.substr(headerEnd + 4);
    return HttpResult::ok;
}

}  // namespace kdt
