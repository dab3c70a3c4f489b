// A scripted stand-in for a V8 inspector: a real TCP listener on 127.0.0.1, on a port the system
// picks, served from a thread of its own. Each accepted connection has its request read (up to the
// blank line) and gets the next scripted answer; the last answer repeats.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/http_text.h"

namespace quelby::test_support {

struct FakeAnswer {
    std::string bytes;         // sent in one piece (blocking until the client has taken it)
    bool close_after = true;   // false: the connection stays open until the fake is destroyed
    bool read_request = true;  // false: answer (or stay silent) without waiting for the request
    // Non-zero: `bytes` is sent one byte at a time, this far apart, and (with `trickle_forever`)
    // again and again until the client goes away or the fake is destroyed.
    std::chrono::milliseconds trickle{0};
    bool trickle_forever = false;
};

class FakeInspector {
  public:
    // Binds at once (the port is known and reserved); starts accepting after `listen_delay`.
    // Until then connections are refused, as when no inspector runs yet.
    explicit FakeInspector(std::vector<FakeAnswer> answers,
                           std::chrono::milliseconds listen_delay = std::chrono::milliseconds{0});
    // Answers each request (read up to its blank line) with what `respond` makes of it.
    explicit FakeInspector(std::function<FakeAnswer(const std::string& request)> respond);
    ~FakeInspector();
    FakeInspector(const FakeInspector&) = delete;
    FakeInspector& operator=(const FakeInspector&) = delete;

    [[nodiscard]] std::uint16_t port() const { return port_; }
    // "127.0.0.1:PORT"
    [[nodiscard]] std::string address() const;
    // The requests received so far, each up to and including its blank line.
    [[nodiscard]] std::vector<std::string> requests() const;

  private:
    void serve();
    void trickle(int client, const FakeAnswer& answer) const;

    std::vector<FakeAnswer> answers_;
    std::function<FakeAnswer(const std::string&)> respond_;
    std::chrono::milliseconds listen_delay_;
    int listen_fd_ = -1;
    int stop_pipe_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::vector<int> open_connections_;
    std::thread thread_;
};

// The simplest well-formed reply: "HTTP/1.0 200 OK", Content-Type and Content-Length, the body.
std::string http_reply(std::string_view status_line, std::string_view body,
                       bool with_length = true);

// A 127.0.0.1 listener that never accepts, with its accept queue already full: the system drops
// further connection requests, so a connect to it neither succeeds nor fails for minutes.
class StuckListener {
  public:
    StuckListener();
    ~StuckListener();
    StuckListener(const StuckListener&) = delete;
    StuckListener& operator=(const StuckListener&) = delete;
    [[nodiscard]] std::string address() const;

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
    std::vector<int> fillers_;
};

// A bound 127.0.0.1 port on which nobody listens: connections to it are refused. Held until the
// object is destroyed, so no parallel test can take it.
class RefusingPort {
  public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;
    [[nodiscard]] std::string address() const;

  private:
    int fd_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace quelby::test_support
