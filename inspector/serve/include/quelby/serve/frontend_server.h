// The --serve HTTP server: the embedded front end for any browser, on a loopback address. It
// answers from the same route decision as the devtools scheme and never touches the file system
// or the inspector's traffic (the browser talks to the inspector directly).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"

namespace quelby {

// Limits on what a client can make the server hold.
inline constexpr std::size_t SERVE_HEADER_LIMIT =
    std::size_t{16} * 1024;  // request line and header fields
inline constexpr std::size_t SERVE_MAX_FIELDS = 100;
// A body is never read, but one announced larger than this is refused outright (413).
inline constexpr std::uint64_t SERVE_BODY_LIMIT = std::uint64_t{1024} * 1024;
// Connections held at once. A new client is always served: when the table is full, the connection
// that has gone longest without completing a request is closed to make room for it.
inline constexpr std::size_t SERVE_MAX_CONNECTIONS = 512;

class FrontendServer {
  public:
    enum class StopOn : std::uint8_t {
        Call,             // only stop()
        CallOrInterrupt,  // also SIGINT/SIGTERM, or Ctrl+C and the console's close on Windows
    };

    // Resolves `address` ("HOST:PORT", "[IPv6]:PORT"; port 0 lets the system choose), binds and
    // listens. Nothing is accepted before run(), but stop requests are watched from here on, so
    // that one arriving while the address is being printed ends run() at once rather than the
    // process. Fails with "failed to serve the front end on {address}" and the cause.
    // `max_connections` (at least 1) is the size of the connection table.
    static Result<std::unique_ptr<FrontendServer>> listen(
        std::string_view address, StopOn stop_on = StopOn::Call,
        std::size_t max_connections = SERVE_MAX_CONNECTIONS);

    ~FrontendServer();
    FrontendServer(const FrontendServer&) = delete;
    FrontendServer& operator=(const FrontendServer&) = delete;

    // "http://127.0.0.1:PORT": the origin of the served pages.
    [[nodiscard]] const std::string& origin() const;
    [[nodiscard]] std::uint16_t port() const;
    // The run's secret: local files are served to the embedder only for requests that carry it,
    // so it goes into the printed start page's URL and nowhere else.
    [[nodiscard]] const std::string& secret() const;

    // Where "/" sends the browser now ("/js_app.html?ws=..."), looked up again for a request of
    // "/" (the debuggee may have restarted with a new target); nullopt keeps the last answer. Runs
    // on a thread of its own, one lookup at a time: requests of "/" that arrive meanwhile get its
    // answer. A stop is requested on `stop` once the server stops; the lookup should then end
    // promptly.
    using FrontEndLookup = std::function<std::optional<std::string>(std::stop_token stop)>;

    // Serves on the calling thread until stopped; the listener is closed when it returns.
    // `front_end_target` ("/js_app.html?ws=...") is where "/" redirects, unless `lookup` finds
    // another.
    Status run(std::string front_end_target, FrontEndLookup lookup = {});

    // Makes run() return; callable from any thread.
    void stop();

    struct Impl;

  private:
    explicit FrontendServer(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace quelby
