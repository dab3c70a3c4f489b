#include "fake_peer.h"

#include <algorithm>
#include <stdexcept>

namespace quelby::cases {
namespace {

using namespace std::chrono_literals;

// How often a waiting peer looks whether it is being destroyed.
constexpr std::chrono::milliseconds SLICE = 20ms;

}  // namespace

AnsweringPeer::AnsweringPeer() {
    listener_ = sockets::bound_loopback_socket(port_);
    sockets::start_listening(listener_, 16);
}

void AnsweringPeer::start(std::vector<Answer> answers) {
    if (answers.empty() || thread_.joinable()) {
        throw std::logic_error("a peer starts once, with at least one answer");
    }
    answers_ = std::move(answers);
    thread_ = std::thread([this] { serve(); });
}

AnsweringPeer::~AnsweringPeer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    for (const sockets::Socket socket : held_) {
        sockets::close_socket(socket);
    }
    sockets::close_socket(listener_);
}

std::vector<std::string> AnsweringPeer::requests() const {
    const std::lock_guard lock(mutex_);
    return requests_;
}

void AnsweringPeer::serve() {
    std::size_t served = 0;
    while (!stopping_) {
        if (!sockets::wait_readable(listener_, SLICE)) {
            continue;
        }
        const sockets::Socket client = sockets::accept_connection(listener_);
        if (client == sockets::INVALID) {
            continue;
        }
        const Answer& next = answers_[std::min(served, answers_.size() - 1)];
        ++served;
        std::string request;
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos && !stopping_) {
            if (!sockets::wait_readable(client, SLICE)) {
                continue;
            }
            const std::size_t got = sockets::receive_some(client, buffer, sizeof buffer);
            if (got == 0) {
                break;
            }
            request.append(buffer, got);
        }
        {
            const std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        answer(client, next);
        if (next.keep_open) {
            held_.push_back(client);
        } else {
            sockets::close_socket(client);
        }
    }
}

void AnsweringPeer::answer(sockets::Socket client, const Answer& answer) {
    if (answer.trickle.count() == 0) {
        sockets::send_all(client, answer.bytes);
        return;
    }
    do {
        for (const char byte : answer.bytes) {
            for (auto waited = 0ms; waited < answer.trickle; waited += SLICE) {
                if (stopping_) {
                    return;
                }
                std::this_thread::sleep_for(std::min(SLICE, answer.trickle - waited));
            }
            if (!sockets::send_all(client, std::string_view(&byte, 1))) {
                return;
            }
        }
    } while (answer.forever);
}

RefusingPeer::RefusingPeer() {
    socket_ = sockets::bound_loopback_socket(port_);
}

RefusingPeer::~RefusingPeer() {
    sockets::close_socket(socket_);
}

StuckPeer::StuckPeer() {
    listener_ = sockets::bound_loopback_socket(port_);
    sockets::start_listening(listener_, 0);
    // Connect until one connection is left pending: the queue is full from then on.
    for (int i = 0; i < 64; ++i) {
        bool pending = false;
        fillers_.push_back(sockets::begin_connection(port_, 200ms, pending));
        if (pending) {
            return;
        }
    }
    for (const sockets::Socket socket : fillers_) {
        sockets::close_socket(socket);
    }
    sockets::close_socket(listener_);
    throw std::runtime_error("could not fill the accept queue");
}

StuckPeer::~StuckPeer() {
    for (const sockets::Socket socket : fillers_) {
        sockets::close_socket(socket);
    }
    sockets::close_socket(listener_);
}

}  // namespace quelby::cases
