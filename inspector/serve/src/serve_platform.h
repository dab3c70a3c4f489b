// What the --serve server needs of the platform: listener options and the user's stop request.
// serve_platform_posix.cpp and serve_platform_win32.cpp implement it.
#pragma once

#include <functional>
#include <memory>

// Boost 1.74's Asio uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

namespace quelby::serve {

// Set on the listener before bind. POSIX: address reuse, so that a restarted server takes its port
// at once despite connections of the previous run in TIME_WAIT. Windows: exclusive use of the
// port, since SO_REUSEADDR there would let another process bind it too.
void set_listener_options(boost::asio::ip::tcp::acceptor& acceptor,
                          boost::system::error_code& error);

// Calls `on_stop` on the io_context's thread when the user asks the process to end: SIGINT or
// SIGTERM; on Windows Ctrl+C, Ctrl+Break or the console window's close. Watching ends with the
// object.
class StopRequests {
  public:
    StopRequests(boost::asio::io_context& io, std::function<void()> on_stop);
    ~StopRequests();
    StopRequests(const StopRequests&) = delete;
    StopRequests& operator=(const StopRequests&) = delete;

    struct State;

  private:
    std::unique_ptr<State> state_;
};

}  // namespace quelby::serve
