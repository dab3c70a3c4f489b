// Winsock behind tcp_connection.h, and the system resolver of socket_address.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

#include "quelby/core/wide_text_win32.h"
#include "quelby/discovery/tcp_connection.h"
#include "sockaddr_conversion.h"

namespace quelby::net {
namespace {

// Winsock must be started before its first use; once per process is enough, and it is never
// stopped: the process exit releases it.
const int* winsock_startup_error() {
    static const int error = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return error == 0 ? nullptr : &error;
}

Status ensure_winsock() {
    if (const int* error = winsock_startup_error()) {
        return std::unexpected(ErrorChain::from_os_error(*error));
    }
    return {};
}

ErrorChain last_socket_error() {
    return ErrorChain::from_os_error(WSAGetLastError());
}

SOCKET native(TcpConnection::Handle handle) {
    return static_cast<SOCKET>(handle);
}

timeval as_timeval(std::chrono::milliseconds timeout) {
    const long long count = std::clamp<long long>(timeout.count(), 0, 24LL * 3600 * 1000);
    timeval limit{};
    limit.tv_sec = static_cast<long>(count / 1000);
    limit.tv_usec = static_cast<long>((count % 1000) * 1000);
    return limit;
}

std::chrono::milliseconds time_until(std::chrono::steady_clock::time_point end) {
    return std::max(
        std::chrono::ceil<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()),
        std::chrono::milliseconds{0});
}

// Waits until the connect under way on `socket` has an outcome or `timeout` has passed (or, read
// before each slice, `stop` was stopped); the outcome as a Winsock error code (0: connected).
// select, not WSAPoll: WSAPoll does not report a refused connect before Windows 10 2004.
int wait_for_connect(SOCKET socket, std::chrono::milliseconds timeout,
                     const std::stop_token& stop) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    const bool sliced = stop.stop_possible();
    while (true) {
        if (stop.stop_requested()) {
            return WSAETIMEDOUT;
        }
        const auto left = time_until(end);
        const auto wait = sliced ? std::min(left, WAIT_SLICE) : left;
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(socket, &writable);
        FD_SET(socket, &failed);
        timeval limit = as_timeval(wait);
        const int ready = select(0, nullptr, &writable, &failed, &limit);
        if (ready == SOCKET_ERROR) {
            return WSAGetLastError();
        }
        if (ready == 0) {
            if (wait == left) {
                return WSAETIMEDOUT;
            }
            continue;
        }
        if (FD_ISSET(socket, &failed) == 0) {
            return 0;
        }
        int error = 0;
        int size = sizeof error;
        if (getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0) {
            return WSAGetLastError();
        }
        return error != 0 ? error : WSAECONNREFUSED;
    }
}

}  // namespace

Result<std::vector<SocketAddress>> resolve_host(const std::string& host, std::uint16_t port) {
    if (auto started = ensure_winsock(); !started) {
        return std::unexpected(std::move(started).error());
    }
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* results = nullptr;
    const std::wstring wide_host = utf8_to_wide(host);
    // GetAddrInfoW returns a Winsock error code itself (e.g. 11001, host not found).
    if (const int code = GetAddrInfoW(wide_host.c_str(), nullptr, &hints, &results); code != 0) {
        return std::unexpected(ErrorChain::from_os_error(code));
    }
    std::vector<SocketAddress> addresses = socket_addresses_from(results, port);
    FreeAddrInfoW(results);
    return addresses;
}

Result<TcpConnection> TcpConnection::connect(const SocketAddress& address,
                                             std::chrono::milliseconds timeout,
                                             const std::stop_token& stop) {
    if (auto started = ensure_winsock(); !started) {
        return std::unexpected(std::move(started).error());
    }
    sockaddr_storage storage{};
    const auto length = static_cast<int>(to_sockaddr(address, storage));
    // Overlapped, as socket() makes them: SO_RCVTIMEO only works on such sockets. Not inheritable:
    // a child process must not keep the inspector connection open.
    const SOCKET socket = WSASocketW(storage.ss_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                     WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (socket == INVALID_SOCKET) {
        return std::unexpected(last_socket_error());
    }
    TcpConnection connection(static_cast<Handle>(socket));
    // Non-blocking while connecting, so that a peer which never accepts costs only `timeout`;
    // blocking again for the exchange (SO_RCVTIMEO applies to blocking receives only).
    u_long non_blocking = 1;
    if (ioctlsocket(socket, FIONBIO, &non_blocking) != 0) {
        return std::unexpected(last_socket_error());
    }
    int error = 0;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&storage), length) != 0) {
        error = WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            error = wait_for_connect(socket, timeout, stop);
        }
    }
    non_blocking = 0;
    if (error == 0 && ioctlsocket(socket, FIONBIO, &non_blocking) != 0) {
        error = WSAGetLastError();
    }
    if (error != 0) {
        connection.close();
        return std::unexpected(ErrorChain::from_os_error(error));
    }
    return connection;
}

Status TcpConnection::set_receive_timeout(std::chrono::milliseconds timeout) {
    // Winsock takes the time-out as a DWORD of milliseconds, not a timeval.
    const auto count = timeout.count();
    const DWORD milliseconds =
        count <= 0
            ? 0
            : static_cast<DWORD>(std::min<long long>(count, std::numeric_limits<DWORD>::max()));
    if (setsockopt(native(handle_), SOL_SOCKET, SO_RCVTIMEO,
                   reinterpret_cast<const char*>(&milliseconds), sizeof milliseconds) != 0) {
        return std::unexpected(last_socket_error());
    }
    return {};
}

Status TcpConnection::send_all(std::span<const std::string_view> pieces) {
    std::vector<WSABUF> buffers;
    buffers.reserve(pieces.size());
    for (const std::string_view piece : pieces) {
        // A WSABUF length is 32 bits; larger pieces are sent in several buffers.
        std::string_view rest = piece;
        while (!rest.empty()) {
            const auto chunk = std::min<std::size_t>(rest.size(), 1U << 30);
            buffers.push_back(WSABUF{static_cast<ULONG>(chunk), const_cast<char*>(rest.data())});
            rest.remove_prefix(chunk);
        }
    }
    std::size_t first = 0;
    while (first < buffers.size()) {
        DWORD sent = 0;
        if (WSASend(native(handle_), buffers.data() + first,
                    static_cast<DWORD>(buffers.size() - first), &sent, 0, nullptr, nullptr) != 0) {
            if (WSAGetLastError() == WSAEINTR) {
                continue;
            }
            return std::unexpected(last_socket_error());
        }
        // Drop what went out: whole buffers first, then the front of a partly sent one.
        std::size_t remaining = sent;
        while (first < buffers.size() && remaining >= buffers[first].len) {
            remaining -= buffers[first].len;
            ++first;
        }
        if (first < buffers.size()) {
            buffers[first].buf += remaining;
            buffers[first].len -= static_cast<ULONG>(remaining);
        }
    }
    return {};
}

Result<bool> TcpConnection::wait_readable(std::chrono::milliseconds timeout) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native(handle_), &readable);
    timeval limit = as_timeval(timeout);
    const int ready = select(0, &readable, nullptr, nullptr, &limit);
    if (ready == SOCKET_ERROR) {
        return std::unexpected(last_socket_error());
    }
    return ready > 0;
}

Result<std::size_t> TcpConnection::receive(std::span<char> buffer) {
    const int capacity =
        static_cast<int>(std::min<std::size_t>(buffer.size(), std::numeric_limits<int>::max()));
    while (true) {
        const int received = recv(native(handle_), buffer.data(), capacity, 0);
        if (received >= 0) {
            return static_cast<std::size_t>(received);
        }
        const int error = WSAGetLastError();
        if (error == WSAEINTR) {
            continue;
        }
        if (error == WSAESHUTDOWN) {
            return 0;  // counts as the end of the stream
        }
        return std::unexpected(ErrorChain::from_os_error(error));
    }
}

void TcpConnection::close() noexcept {
    if (handle_ != INVALID_HANDLE) {
        closesocket(native(handle_));
        handle_ = INVALID_HANDLE;
    }
}

}  // namespace quelby::net
