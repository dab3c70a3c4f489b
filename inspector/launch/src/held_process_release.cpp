#include "quelby/launch/held_process_release.h"

#include <memory>
#include <optional>
#include <string>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

namespace quelby::launch {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr std::string_view RUN_REQUEST = R"({"id":1,"method":"Runtime.runIfWaitingForDebugger"})";

// Asked twice, a moment apart: a process reports its inspector just before it starts to wait, and a
// request that arrives in between is lost; the second one then finds it waiting.
constexpr int RUN_REQUESTS = 2;
constexpr std::chrono::milliseconds BETWEEN_REQUESTS{100};

// One exchange, each step started by the one before; `outcome` is set when it ends either way.
struct Exchange {
    explicit Exchange(asio::io_context& io) : resolver(io), socket(io), pause(io) {}
    tcp::resolver resolver;
    websocket::stream<beast::tcp_stream> socket;
    asio::steady_timer pause;
    beast::flat_buffer answer;
    std::string host;
    std::string port;
    std::string path;
    std::optional<beast::error_code> outcome;
    bool answered = false;  // once, at least: a process that ran and ended since is let go
};

void ask_to_run(Exchange& ex, int left) {
    ex.socket.async_write(
        asio::buffer(RUN_REQUEST.data(), RUN_REQUEST.size()),
        [&ex, left](beast::error_code write_error, std::size_t) {
            if (write_error) {
                ex.outcome = ex.answered ? beast::error_code{} : write_error;
                return;
            }
            // The answer: the request was handled before we go on.
            ex.socket.async_read(ex.answer, [&ex, left](beast::error_code read_error, std::size_t) {
                ex.answer.clear();
                ex.answered = ex.answered || !read_error;
                if (read_error || left <= 1) {
                    ex.outcome = ex.answered ? beast::error_code{} : read_error;
                    if (!read_error) {
                        ex.socket.async_close(websocket::close_code::normal,
                                              [](beast::error_code) {});
                    }
                    return;
                }
                ex.pause.expires_after(BETWEEN_REQUESTS);
                ex.pause.async_wait([&ex, left](beast::error_code) { ask_to_run(ex, left - 1); });
            });
        });
}

void start(Exchange& ex) {
    ex.resolver.async_resolve(
        ex.host, ex.port, [&ex](beast::error_code error, const tcp::resolver::results_type& found) {
            if (error) {
                ex.outcome = error;
                return;
            }
            beast::get_lowest_layer(ex.socket).async_connect(
                found, [&ex](beast::error_code connect_error, const tcp::endpoint&) {
                    if (connect_error) {
                        ex.outcome = connect_error;
                        return;
                    }
                    ex.socket.async_handshake(ex.host + ":" + ex.port, ex.path,
                                              [&ex](beast::error_code handshake_error) {
                                                  if (handshake_error) {
                                                      ex.outcome = handshake_error;
                                                      return;
                                                  }
                                                  ask_to_run(ex, RUN_REQUESTS);
                                              });
                });
        });
}

}  // namespace

Status release_held_process(const WsTarget& target, std::chrono::milliseconds limit) {
    const std::string& address = target.address;
    const std::size_t slash = address.find('/');
    const std::size_t colon = address.rfind(':', slash);
    if (target.secure || slash == std::string::npos || colon == std::string::npos) {
        return std::unexpected(
            ErrorChain::from_message("not a plain WebSocket address: " + address));
    }
    asio::io_context io;
    Exchange ex(io);
    ex.host = address.substr(0, colon);
    if (ex.host.size() > 2 && ex.host.front() == '[' && ex.host.back() == ']') {
        ex.host = ex.host.substr(1, ex.host.size() - 2);
    }
    ex.port = address.substr(colon + 1, slash - colon - 1);
    ex.path = address.substr(slash);
    start(ex);
    io.run_for(limit);
    if (!ex.outcome && ex.answered) {
        return {};
    }
    if (!ex.outcome) {
        return std::unexpected(ErrorChain::from_message("no answer from the inspector at " +
                                                        address + " within " +
                                                        std::to_string(limit.count()) + " ms"));
    }
    if (*ex.outcome) {
        return std::unexpected(ErrorChain::from_message(ex.outcome->message())
                                   .with_context("failed to release the process at " + address));
    }
    return {};
}

}  // namespace quelby::launch
