#include <csignal>

#include "serve_platform.h"

#include <boost/asio/signal_set.hpp>

namespace quelby::serve {

void set_listener_options(boost::asio::ip::tcp::acceptor& acceptor,
                          boost::system::error_code& error) {
    acceptor.set_option(boost::asio::socket_base::reuse_address(true), error);
}

struct StopRequests::State {
    explicit State(boost::asio::io_context& io) : signals(io, SIGINT, SIGTERM) {}
    boost::asio::signal_set signals;
};

StopRequests::StopRequests(boost::asio::io_context& io, std::function<void()> on_stop)
    : state_(std::make_unique<State>(io)) {
    state_->signals.async_wait(
        [on_stop = std::move(on_stop)](const boost::system::error_code& error, int /*signal*/) {
            if (!error) {
                on_stop();
            }
        });
}

StopRequests::~StopRequests() = default;

}  // namespace quelby::serve
