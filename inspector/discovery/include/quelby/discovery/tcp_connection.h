// The socket seam of the target list fetch: one TCP connection, connected within a time limit, then
// blocking with a receive time-out.
// The header is free of platform types; tcp_connection_posix.cpp and tcp_connection_win32.cpp
// implement it (the Windows file also implements net::resolve_host of socket_address.h over
// Winsock).
//
// Every failure is an ErrorChain made with ErrorChain::from_os_error from the platform's own code
// (errno, or the WSA error code), so it reads "<system text> (os error N)".
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <string_view>

#include "quelby/core/error_chain.h"
#include "quelby/discovery/socket_address.h"

namespace quelby::net {

// The longest a wait on the socket goes on once its caller's stop token is stopped: waits that
// can be stopped are made in slices of this length, the token read between them.
inline constexpr std::chrono::milliseconds WAIT_SLICE{100};

// Owns one connected stream socket; closed on destruction. Move-only.
class TcpConnection {
  public:
    // An opaque handle wide enough for a POSIX descriptor and a Winsock SOCKET.
    using Handle = std::uintptr_t;
    static constexpr Handle INVALID_HANDLE = ~Handle{0};

    // Opens a TCP socket of the address's family and connects it, waiting at most `timeout` (zero:
    // only a connection the system completes at once). A peer that does not accept in time gives
    // the system's time-out error (ETIMEDOUT, WSAETIMEDOUT). On failure the socket is closed and
    // the system error returned. The connection is blocking afterwards.
    // With a `stop` that can be stopped, the wait is made in slices of WAIT_SLICE and ends early,
    // with the same time-out error, once a stop is requested (at once if it already was).
    static Result<TcpConnection> connect(const SocketAddress& address,
                                         std::chrono::milliseconds timeout,
                                         const std::stop_token& stop = {});

    TcpConnection(TcpConnection&& other) noexcept : handle_(other.handle_) {
        other.handle_ = INVALID_HANDLE;
    }
    TcpConnection& operator=(TcpConnection&& other) noexcept {
        if (this != &other) {
            close();
            handle_ = other.handle_;
            other.handle_ = INVALID_HANDLE;
        }
        return *this;
    }
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;
    ~TcpConnection() { close(); }

    // SO_RCVTIMEO: a receive that waits longer fails with the system's time-out error.
    Status set_receive_timeout(std::chrono::milliseconds timeout);

    // Writes every piece in full, in order, straight to the socket (a gather write: no copy into
    // a buffer of the program's own). Never raises SIGPIPE.
    Status send_all(std::span<const std::string_view> pieces);

    // Waits at most `timeout` until a receive would not block (data, the end of the stream or an
    // error is there): false when the time passed first.
    Result<bool> wait_readable(std::chrono::milliseconds timeout);

    // Receives at most `buffer.size()` bytes. 0 means the peer ended the stream (or the system
    // reports the connection as shut down). Interrupted calls are retried.
    Result<std::size_t> receive(std::span<char> buffer);

    // Closes the socket now; idempotent.
    void close() noexcept;

    [[nodiscard]] bool is_open() const noexcept { return handle_ != INVALID_HANDLE; }

  private:
    explicit TcpConnection(Handle handle) noexcept : handle_(handle) {}

    Handle handle_ = INVALID_HANDLE;
};

}  // namespace quelby::net
