// The few socket operations the scripted peers need, over BSD sockets or Winsock
// (peer_socket_<platform>.cpp). Every socket is bound to 127.0.0.1 and is not inherited by the
// program under test.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quelby::cases::sockets {

// A platform socket (a descriptor, or a Winsock SOCKET); `INVALID` when there is none.
using Socket = std::intptr_t;
inline constexpr Socket INVALID = -1;

// A TCP socket bound to 127.0.0.1 on a port the system picks, not yet listening; throws on
// failure.
Socket bound_loopback_socket(std::uint16_t& port);
void start_listening(Socket listener, int backlog);
// True when `socket` has something to read (a connection to accept, bytes, or the end) within
// `timeout`.
bool wait_readable(Socket socket, std::chrono::milliseconds timeout);
Socket accept_connection(Socket listener);
// Bytes received, or 0 at the end of the stream or on failure.
std::size_t receive_some(Socket socket, char* buffer, std::size_t size);
// False when the other side went away before all of `bytes` were sent.
bool send_all(Socket socket, std::string_view bytes);
void close_socket(Socket socket);

// A connection to 127.0.0.1:`port` begun without waiting for it; `pending` tells whether it had
// neither succeeded nor failed after `wait` (the listener's queue is full).
Socket begin_connection(std::uint16_t port, std::chrono::milliseconds wait, bool& pending);

}  // namespace quelby::cases::sockets
