// The --serve server's accept loop. Every client is taken: a full connection table makes room by
// closing the connection that has gone longest without completing a request, since clients that
// never finish a request, or keep idle connections alive, would otherwise lock everyone else out.
// A failing accept (out of descriptors) is retried after a pause instead of spinning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>

// Boost 1.74's Asio uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

namespace quelby::serve {

class ConnectionTable;
struct Site;

class Listener {
  public:
    // `max_connections` (at least 1) is the size of the connection table.
    Listener(boost::asio::io_context& io, std::size_t max_connections);

    // Opens, binds and listens on `endpoint`; the port it listens on.
    std::expected<std::uint16_t, boost::system::error_code> listen(
        const boost::asio::ip::tcp::endpoint& endpoint);
    // Accepts until close(); every client gets a session answering from `site`, which must last
    // as long as the io_context runs.
    void start(Site& site);
    // Accepts no more; the connections are left as they are.
    void close();

  private:
    void accept();

    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer retry_;
    std::shared_ptr<ConnectionTable> table_;  // shared with the sessions' seats
    Site* site_ = nullptr;
};

}  // namespace quelby::serve
