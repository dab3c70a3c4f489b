#include "http_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quelby::test_support {
namespace {

bool same_name(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::optional<std::string> HttpReply::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (same_name(key, name)) {
            return value;
        }
    }
    return std::nullopt;
}

HttpConnection::HttpConnection(std::uint16_t port, bool ipv6, std::chrono::milliseconds timeout) {
    fd_ = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return;
    }
    timeval tv{};
    tv.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    tv.tv_usec = static_cast<suseconds_t>((timeout.count() % 1000) * 1000);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int rc = -1;
    if (ipv6) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_port = htons(port);
        address.sin6_addr = in6addr_loopback;
        rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        rc = ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    }
    if (rc != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

HttpConnection::~HttpConnection() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void HttpConnection::set_receive_buffer(int bytes) {
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

bool HttpConnection::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

bool HttpConnection::fill() {
    char buffer[65536];
    while (true) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }
}

std::optional<HttpReply> HttpConnection::read_reply(bool no_body) {
    std::size_t head_end;
    while ((head_end = pending_.find("\r\n\r\n")) == std::string::npos) {
        if (!fill()) {
            return std::nullopt;
        }
    }
    const std::string head = pending_.substr(0, head_end);
    pending_.erase(0, head_end + 4);
    HttpReply reply;
    std::size_t line_end = head.find("\r\n");
    const std::string status_line = head.substr(0, line_end);
    if (!status_line.starts_with("HTTP/1.") || status_line.size() < 12) {
        return std::nullopt;
    }
    reply.version = status_line.substr(0, 8);
    reply.status = std::stoi(status_line.substr(9, 3));
    while (line_end != std::string::npos) {
        const std::size_t start = line_end + 2;
        line_end = head.find("\r\n", start);
        const std::string line = head.substr(start, line_end - start);
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) {
            return std::nullopt;
        }
        std::string value = line.substr(colon + 1);
        value.erase(0, std::min(value.find_first_not_of(' '), value.size()));
        reply.headers.emplace_back(line.substr(0, colon), value);
    }
    if (!no_body) {
        const std::size_t length = std::stoul(reply.header("Content-Length").value_or("0"));
        while (pending_.size() < length) {
            if (!fill()) {
                return std::nullopt;
            }
        }
        reply.body = pending_.substr(0, length);
        pending_.erase(0, length);
    }
    return reply;
}

namespace {

enum class PeerEnd : std::uint8_t { Closed, Reset, Open };

// Reads and drops what the peer still sends until it ends the connection or the time-out passes.
PeerEnd wait_for_peer_end(int fd) {
    while (true) {
        char buffer[65536];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got == 0) {
            return PeerEnd::Closed;
        }
        if (got < 0) {
            return errno == ECONNRESET ? PeerEnd::Reset : PeerEnd::Open;  // else a time-out
        }
    }
}

}  // namespace

bool HttpConnection::closed_by_peer() {
    pending_.clear();
    return wait_for_peer_end(fd_) != PeerEnd::Open;
}

bool HttpConnection::closed_without_reset() {
    pending_.clear();
    return wait_for_peer_end(fd_) == PeerEnd::Closed;
}

std::optional<HttpReply> http_request(std::uint16_t port, std::string_view method,
                                      std::string_view target,
                                      const std::vector<std::string>& extra_headers) {
    HttpConnection connection(port);
    std::string request =
        std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const std::string& line : extra_headers) {
        request += line + "\r\n";
    }
    request += "\r\n";
    if (!connection.connected() || !connection.send(request)) {
        return std::nullopt;
    }
    return connection.read_reply(method == "HEAD");
}

}  // namespace quelby::test_support
