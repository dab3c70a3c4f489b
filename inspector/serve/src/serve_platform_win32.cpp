#include <windows.h>
#include <winsock2.h>

#include <atomic>

#include "serve_platform.h"

#include <boost/asio/post.hpp>

namespace quelby::serve {

void set_listener_options(boost::asio::ip::tcp::acceptor& acceptor,
                          boost::system::error_code& error) {
    using exclusive_address_use =
        boost::asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    acceptor.set_option(exclusive_address_use(true), error);
}

struct StopRequests::State {
    boost::asio::io_context& io;
    std::function<void()> on_stop;
};

namespace {

// The console calls its handlers on a thread of its own; the handler only posts to the loop.
std::atomic<StopRequests::State*> watched{nullptr};

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
            if (StopRequests::State* state = watched.load()) {
                boost::asio::post(state->io, state->on_stop);
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

StopRequests::StopRequests(boost::asio::io_context& io, std::function<void()> on_stop)
    : state_(std::make_unique<State>(State{io, std::move(on_stop)})) {
    watched.store(state_.get());
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

StopRequests::~StopRequests() {
    SetConsoleCtrlHandler(on_console_event, FALSE);
    watched.store(nullptr);
}

}  // namespace quelby::serve
