// A small blocking HTTP/1.1 client over a real loopback socket, for the --serve tests: requests are
// written byte for byte as the test gives them, so that malformed ones can be sent too.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quelby::test_support {

struct HttpReply {
    std::string version;  // of the status line: "HTTP/1.1"
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The first header of that name (case-insensitive), or nullopt.
    [[nodiscard]] std::optional<std::string> header(std::string_view name) const;
};

class HttpConnection {
  public:
    // Connects to 127.0.0.1:port (or ::1 with `ipv6`); every receive waits at most `timeout`.
    explicit HttpConnection(std::uint16_t port, bool ipv6 = false,
                            std::chrono::milliseconds timeout = std::chrono::seconds{5});
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    [[nodiscard]] bool connected() const { return fd_ >= 0; }
    // Writes all bytes; false when the peer refused them (reset or closed).
    bool send(std::string_view bytes);
    // Reads one reply: the head, then Content-Length bytes of body unless `no_body` (HEAD, 304).
    // nullopt on time-out, close or a head that is not HTTP.
    std::optional<HttpReply> read_reply(bool no_body = false);
    // True when the peer closes the connection (after any bytes still unread) within the time-out.
    bool closed_by_peer();
    // The same, but only for an orderly close: a reset (the peer closed with bytes of ours unread)
    // does not count.
    bool closed_without_reset();
    // Shrinks the socket's receive buffer (a client that reads slowly).
    void set_receive_buffer(int bytes);

  private:
    bool fill();
    int fd_ = -1;
    std::string pending_;
};

// One GET (or another method) with Host "127.0.0.1" and the extra header lines given.
std::optional<HttpReply> http_request(std::uint16_t port, std::string_view method,
                                      std::string_view target,
                                      const std::vector<std::string>& extra_headers = {});

}  // namespace quelby::test_support
