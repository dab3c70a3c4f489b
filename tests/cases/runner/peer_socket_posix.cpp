#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

#include "peer_socket.h"

namespace quelby::cases::sockets {
namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

int fd_of(Socket socket) {
    return static_cast<int>(socket);
}

}  // namespace

Socket bound_loopback_socket(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address = loopback(0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

void start_listening(Socket listener, int backlog) {
    if (::listen(fd_of(listener), backlog) != 0) {
        throw std::runtime_error("listen failed");
    }
}

bool wait_readable(Socket socket, std::chrono::milliseconds timeout) {
    pollfd entry{fd_of(socket), POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(timeout.count()));
    return ready > 0;
}

Socket accept_connection(Socket listener) {
    const int fd = ::accept4(fd_of(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return fd < 0 ? INVALID : fd;
}

std::size_t receive_some(Socket socket, char* buffer, std::size_t size) {
    const ssize_t got = ::recv(fd_of(socket), buffer, size, 0);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

bool send_all(Socket socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd_of(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void close_socket(Socket socket) {
    ::close(fd_of(socket));
}

Socket begin_connection(std::uint16_t port, std::chrono::milliseconds wait, bool& pending) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    const sockaddr_in address = loopback(port);
    pending = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
        errno == EINPROGRESS) {
        pollfd entry{fd, POLLOUT, 0};
        pending = ::poll(&entry, 1, static_cast<int>(wait.count())) == 0;
    }
    return fd;
}

}  // namespace quelby::cases::sockets
