#include "serve_listener.h"

#include <algorithm>
#include <chrono>

#include "serve_connection_table.h"
#include "serve_platform.h"
#include "serve_session.h"

namespace quelby::serve {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

constexpr auto ACCEPT_RETRY = std::chrono::milliseconds{100};

}  // namespace

Listener::Listener(asio::io_context& io, std::size_t max_connections)
    : acceptor_(io),
      retry_(io),
      table_(std::make_shared<ConnectionTable>(std::max<std::size_t>(max_connections, 1))) {}

std::expected<std::uint16_t, boost::system::error_code> Listener::listen(
    const tcp::endpoint& endpoint) {
    boost::system::error_code error;
    acceptor_.open(endpoint.protocol(), error);
    if (!error) {
        set_listener_options(acceptor_, error);
    }
    if (!error) {
        acceptor_.bind(endpoint, error);
    }
    if (!error) {
        acceptor_.listen(asio::socket_base::max_listen_connections, error);
    }
    if (error) {
        return std::unexpected(error);
    }
    const std::uint16_t port = acceptor_.local_endpoint(error).port();
    if (error) {
        return std::unexpected(error);
    }
    return port;
}

void Listener::start(Site& site) {
    site_ = &site;
    accept();
}

void Listener::close() {
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
}

void Listener::accept() {
    acceptor_.async_accept([this](const boost::system::error_code& error, tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor_.is_open()) {
            return;
        }
        if (error) {
            retry_.expires_after(ACCEPT_RETRY);
            retry_.async_wait([this](const boost::system::error_code& wait_error) {
                if (!wait_error) {
                    accept();
                }
            });
            return;
        }
        while (table_->full()) {
            table_->longest_waiting().evict();
        }
        boost::system::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        std::make_shared<Session>(std::move(socket), *site_, table_)->start();
        accept();
    });
}

}  // namespace quelby::serve
