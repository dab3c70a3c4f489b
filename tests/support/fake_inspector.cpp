#include "fake_inspector.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace quelby::test_support {
namespace {

std::pair<int, std::uint16_t> bind_loopback() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        throw std::runtime_error("socket failed");
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return {fd, ntohs(address.sin_port)};
}

// Waits until `fd` is readable or the stop pipe fires; false on stop.
bool wait_readable(int fd, int stop_fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    while (true) {
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        return ready > 0 && (fds[1].revents & POLLIN) == 0;
    }
}

}  // namespace

FakeInspector::FakeInspector(std::vector<FakeAnswer> answers,
                             std::chrono::milliseconds listen_delay)
    : answers_(std::move(answers)), listen_delay_(listen_delay) {
    auto [fd, port] = bind_loopback();
    listen_fd_ = fd;
    port_ = port;
    if (::pipe2(stop_pipe_, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (listen_delay_.count() == 0) {
        ::listen(listen_fd_, 16);
    }
    thread_ = std::thread([this] { serve(); });
}

FakeInspector::FakeInspector(std::function<FakeAnswer(const std::string& request)> respond)
    : FakeInspector(std::vector<FakeAnswer>{FakeAnswer{}}) {
    // Set before the first connection can be accepted: the constructor above already listens,
    // so the serving thread reads it under the lock.
    const std::lock_guard lock(mutex_);
    respond_ = std::move(respond);
}

FakeInspector::~FakeInspector() {
    const char stop = 's';
    static_cast<void>(::write(stop_pipe_[1], &stop, 1));
    thread_.join();
    for (const int fd : open_connections_) {
        ::close(fd);
    }
    ::close(listen_fd_);
    ::close(stop_pipe_[0]);
    ::close(stop_pipe_[1]);
}

std::string FakeInspector::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> FakeInspector::requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

void FakeInspector::serve() {
    if (listen_delay_.count() > 0) {
        pollfd stop{stop_pipe_[0], POLLIN, 0};
        if (::poll(&stop, 1, static_cast<int>(listen_delay_.count())) != 0) {
            return;
        }
        ::listen(listen_fd_, 16);
    }
    std::size_t served = 0;
    while (wait_readable(listen_fd_, stop_pipe_[0])) {
        const int client = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) {
            continue;
        }
        FakeAnswer answer = answers_[std::min(served, answers_.size() - 1)];
        ++served;
        if (answer.read_request) {
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos &&
                   wait_readable(client, stop_pipe_[0])) {
                const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) {
                    break;
                }
                request.append(buffer, static_cast<std::size_t>(got));
            }
            const std::lock_guard lock(mutex_);
            requests_.push_back(request);
            if (respond_) {
                answer = respond_(request);
            }
        }
        std::string_view rest = answer.bytes;
        if (answer.trickle.count() > 0) {
            trickle(client, answer);
            rest = {};
        }
        while (!rest.empty()) {
            const ssize_t sent = ::send(client, rest.data(), rest.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                break;  // the client went away (e.g. it stopped at a size bound)
            }
            rest.remove_prefix(static_cast<std::size_t>(sent));
        }
        if (answer.close_after) {
            ::close(client);
        } else {
            open_connections_.push_back(client);
        }
    }
}

void FakeInspector::trickle(int client, const FakeAnswer& answer) const {
    do {
        for (const char byte : answer.bytes) {
            pollfd stop{stop_pipe_[0], POLLIN, 0};
            if (::poll(&stop, 1, static_cast<int>(answer.trickle.count())) != 0 ||
                ::send(client, &byte, 1, MSG_NOSIGNAL) != 1) {
                return;
            }
        }
    } while (answer.trickle_forever);
}

std::string http_reply(std::string_view status_line, std::string_view body, bool with_length) {
    return http_reply_with(status_line, "Content-Type: application/json; charset=UTF-8\r\n", body,
                           with_length);
}

StuckListener::StuckListener() {
    auto [fd, port] = bind_loopback();
    fd_ = fd;
    port_ = port;
    ::listen(fd_, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port_);
    // Connect until one connection is left pending: the queue is full from then on.
    for (int i = 0; i < 64; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        fillers_.push_back(filler);
        if (::connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            continue;
        }
        pollfd entry{filler, POLLOUT, 0};
        if (errno == EINPROGRESS && ::poll(&entry, 1, 200) == 0) {
            return;
        }
    }
    throw std::runtime_error("could not fill the accept queue");
}

StuckListener::~StuckListener() {
    for (const int fd : fillers_) {
        ::close(fd);
    }
    ::close(fd_);
}

std::string StuckListener::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

RefusingPort::RefusingPort() {
    auto [fd, port] = bind_loopback();
    fd_ = fd;
    port_ = port;
}

RefusingPort::~RefusingPort() {
    ::close(fd_);
}

std::string RefusingPort::address() const {
    return "127.0.0.1:" + std::to_string(port_);
}

}  // namespace quelby::test_support
