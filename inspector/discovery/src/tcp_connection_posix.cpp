// POSIX sockets behind tcp_connection.h, and the system resolver of socket_address.h.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "quelby/discovery/tcp_connection.h"
#include "sockaddr_conversion.h"

namespace quelby::net {
namespace {

#ifdef MSG_NOSIGNAL
constexpr int SEND_FLAGS = MSG_NOSIGNAL;
#else
constexpr int SEND_FLAGS = 0;  // the launcher ignores SIGPIPE process-wide as well
#endif

ErrorChain last_os_error() {
    return ErrorChain::from_os_error(errno);
}

int descriptor(TcpConnection::Handle handle) {
    return static_cast<int>(handle);
}

// getaddrinfo's EAI_* codes are not errno values. EAI_SYSTEM carries an errno, reported as such;
// the others become gai_strerror's text with the EAI code, e.g.
// "Name or service not known (os error -2)" — the same shape as every other system error.
ErrorChain resolver_error(int code, int saved_errno) {
    if (code == EAI_SYSTEM && saved_errno != 0) {
        return ErrorChain::from_os_error(saved_errno);
    }
    return ErrorChain::from_message(std::string(gai_strerror(code)) + " (os error " +
                                    std::to_string(code) + ")");
}

using Clock = std::chrono::steady_clock;

// Polls one descriptor for `events` until it is ready or `end` has passed, resumed after a signal:
// 1 ready, 0 the time passed, -1 an error (errno).
int poll_until(int fd, short events, Clock::time_point end) {
    while (true) {
        const auto left = std::max(std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()),
                                   std::chrono::milliseconds{0});
        pollfd entry{fd, events, 0};
        const int ready = ::poll(
            &entry, 1, static_cast<int>(std::min<long long>(left.count(), 24LL * 3600 * 1000)));
        if (ready >= 0 || errno != EINTR) {
            return ready;
        }
    }
}

// Waits until the connect under way on `fd` has an outcome or `timeout` has passed (or, read
// before each slice, `stop` was stopped); the outcome as an errno value (0: connected).
int wait_for_connect(int fd, std::chrono::milliseconds timeout, const std::stop_token& stop) {
    const auto end = Clock::now() + timeout;
    const bool sliced = stop.stop_possible();
    while (true) {
        if (stop.stop_requested()) {
            return ETIMEDOUT;
        }
        const auto slice_end = sliced ? std::min(end, Clock::now() + WAIT_SLICE) : end;
        const int ready = poll_until(fd, POLLOUT, slice_end);
        if (ready < 0) {
            return errno;
        }
        if (ready == 0) {
            if (slice_end == end) {
                return ETIMEDOUT;
            }
            continue;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
            return errno;
        }
        return error;
    }
}

}  // namespace

Result<std::vector<SocketAddress>> resolve_host(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    errno = 0;
    const int code = ::getaddrinfo(host.c_str(), nullptr, &hints, &results);
    if (code != 0) {
        return std::unexpected(resolver_error(code, errno));
    }
    std::vector<SocketAddress> addresses = socket_addresses_from(results, port);
    ::freeaddrinfo(results);
    return addresses;
}

Result<TcpConnection> TcpConnection::connect(const SocketAddress& address,
                                             std::chrono::milliseconds timeout,
                                             const std::stop_token& stop) {
    sockaddr_storage storage{};
    const auto length = static_cast<socklen_t>(to_sockaddr(address, storage));
    int type = SOCK_STREAM;
#ifdef SOCK_CLOEXEC
    type |= SOCK_CLOEXEC;
#endif
    const int fd = ::socket(storage.ss_family, type, 0);
    if (fd < 0) {
        return std::unexpected(last_os_error());
    }
    TcpConnection connection(static_cast<Handle>(fd));
    // Non-blocking while connecting, so that a peer which never accepts (a full accept queue, a
    // dropped SYN) costs only `timeout`; blocking again for the exchange.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        return std::unexpected(last_os_error());
    }
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&storage), length) != 0) {
        error =
            errno == EINPROGRESS || errno == EINTR ? wait_for_connect(fd, timeout, stop) : errno;
    }
    if (error == 0 && ::fcntl(fd, F_SETFL, flags) != 0) {
        error = errno;
    }
    if (error != 0) {
        connection.close();
        return std::unexpected(ErrorChain::from_os_error(error));
    }
    return connection;
}

Status TcpConnection::set_receive_timeout(std::chrono::milliseconds timeout) {
    timeval tv{};
    tv.tv_sec = static_cast<decltype(tv.tv_sec)>(timeout.count() / 1000);
    tv.tv_usec = static_cast<decltype(tv.tv_usec)>((timeout.count() % 1000) * 1000);
    if (::setsockopt(descriptor(handle_), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
        return std::unexpected(last_os_error());
    }
    return {};
}

Status TcpConnection::send_all(std::span<const std::string_view> pieces) {
    std::vector<iovec> vectors;
    vectors.reserve(pieces.size());
    for (const std::string_view piece : pieces) {
        if (!piece.empty()) {
            vectors.push_back(iovec{const_cast<char*>(piece.data()), piece.size()});
        }
    }
    std::size_t first = 0;
    while (first < vectors.size()) {
        msghdr message{};
        message.msg_iov = vectors.data() + first;
        message.msg_iovlen = vectors.size() - first;
        const ssize_t sent = ::sendmsg(descriptor(handle_), &message, SEND_FLAGS);
        if (sent < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::unexpected(last_os_error());
        }
        // Drop what went out: whole pieces first, then the front of a partly sent one.
        auto remaining = static_cast<std::size_t>(sent);
        while (first < vectors.size() && remaining >= vectors[first].iov_len) {
            remaining -= vectors[first].iov_len;
            ++first;
        }
        if (first < vectors.size()) {
            vectors[first].iov_base = static_cast<char*>(vectors[first].iov_base) + remaining;
            vectors[first].iov_len -= remaining;
        }
    }
    return {};
}

Result<bool> TcpConnection::wait_readable(std::chrono::milliseconds timeout) {
    const int ready = poll_until(descriptor(handle_), POLLIN, Clock::now() + timeout);
    if (ready < 0) {
        return std::unexpected(last_os_error());
    }
    return ready > 0;
}

Result<std::size_t> TcpConnection::receive(std::span<char> buffer) {
    while (true) {
        const ssize_t received = ::recv(descriptor(handle_), buffer.data(), buffer.size(), 0);
        if (received >= 0) {
            return static_cast<std::size_t>(received);
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == ESHUTDOWN) {
            return 0;  // counts as the end of the stream
        }
        return std::unexpected(last_os_error());
    }
}

void TcpConnection::close() noexcept {
    if (handle_ != INVALID_HANDLE) {
        ::close(descriptor(handle_));
        handle_ = INVALID_HANDLE;
    }
}

}  // namespace quelby::net
