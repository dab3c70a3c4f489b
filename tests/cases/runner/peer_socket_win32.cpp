#include <winsock2.h>
// ws2tcpip.h and windows.h need winsock2.h first.
#include <windows.h>
#include <ws2tcpip.h>

#include <stdexcept>

#include "peer_socket.h"

namespace quelby::cases::sockets {
namespace {

void start_winsock() {
    static const bool started = [] {
        WSADATA data;
        if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
            throw std::runtime_error("WSAStartup failed");
        }
        return true;
    }();
    static_cast<void>(started);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

SOCKET handle_of(Socket socket) {
    return static_cast<SOCKET>(socket);
}

// Sockets are inheritable handles by default; the program under test must not hold ours.
Socket not_inherited(SOCKET socket) {
    if (socket == INVALID_SOCKET) {
        return INVALID;
    }
    SetHandleInformation(reinterpret_cast<HANDLE>(socket), HANDLE_FLAG_INHERIT, 0);
    return static_cast<Socket>(socket);
}

}  // namespace

Socket bound_loopback_socket(std::uint16_t& port) {
    start_winsock();
    const Socket socket = not_inherited(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (socket == INVALID) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address = loopback(0);
    if (::bind(handle_of(socket), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(handle_of(socket));
        throw std::runtime_error("bind failed");
    }
    int length = sizeof address;
    ::getsockname(handle_of(socket), reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return socket;
}

void start_listening(Socket listener, int backlog) {
    if (::listen(handle_of(listener), backlog) != 0) {
        throw std::runtime_error("listen failed");
    }
}

bool wait_readable(Socket socket, std::chrono::milliseconds timeout) {
    WSAPOLLFD entry{handle_of(socket), POLLRDNORM, 0};
    return WSAPoll(&entry, 1, static_cast<INT>(timeout.count())) > 0;
}

Socket accept_connection(Socket listener) {
    return not_inherited(::accept(handle_of(listener), nullptr, nullptr));
}

std::size_t receive_some(Socket socket, char* buffer, std::size_t size) {
    const int got = ::recv(handle_of(socket), buffer, static_cast<int>(size), 0);
    return got > 0 ? static_cast<std::size_t>(got) : 0;
}

bool send_all(Socket socket, std::string_view bytes) {
    while (!bytes.empty()) {
        const int sent = ::send(handle_of(socket), bytes.data(), static_cast<int>(bytes.size()), 0);
        if (sent <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return true;
}

void close_socket(Socket socket) {
    closesocket(handle_of(socket));
}

Socket begin_connection(std::uint16_t port, std::chrono::milliseconds wait, bool& pending) {
    start_winsock();
    const Socket socket = not_inherited(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (socket == INVALID) {
        throw std::runtime_error("socket failed");
    }
    u_long non_blocking = 1;
    ioctlsocket(handle_of(socket), FIONBIO, &non_blocking);
    const sockaddr_in address = loopback(port);
    pending = false;
    if (::connect(handle_of(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0 &&
        WSAGetLastError() == WSAEWOULDBLOCK) {
        WSAPOLLFD entry{handle_of(socket), POLLWRNORM, 0};
        pending = WSAPoll(&entry, 1, static_cast<INT>(wait.count())) == 0;
    }
    return socket;
}

}  // namespace quelby::cases::sockets
