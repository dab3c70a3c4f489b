#include "target_list_fetch.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "http_reply.h"
#include "socket_address.h"
#include "tcp_connection.h"

namespace quelby {
namespace {

constexpr std::size_t RECEIVE_CHUNK = std::size_t{64} * 1024;

using TimePoint = FetchClock::TimePoint;

// What is left until `end`, in whole milliseconds rounded up; zero when it has passed.
std::chrono::milliseconds time_left(const FetchClock& clock, TimePoint end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - clock.now());
    return std::max(left, std::chrono::milliseconds{0});
}

// Resolves the address and connects to the first of its addresses that accepts, each try waiting
// only for what is left until `connect_end`.
Result<net::TcpConnection> connect_to(const std::string& inspector_addr, const FetchClock& clock,
                                      TimePoint connect_end) {
    auto addresses = net::resolve_inspector_addr(inspector_addr);
    if (!addresses) {
        return std::unexpected(std::move(addresses.error()));
    }
    std::optional<ErrorChain> last_error;
    for (const net::SocketAddress& address : *addresses) {
        auto connection = net::TcpConnection::connect(address, time_left(clock, connect_end));
        if (connection) {
            return connection;
        }
        last_error = std::move(connection.error());
    }
    if (last_error) {
        return std::unexpected(std::move(*last_error));
    }
    return std::unexpected(ErrorChain::from_message(std::string(net::NO_ADDRESSES)));
}

// Reads the reply until the peer closes, or until the declared Content-Length has arrived, never
// more than MAX_REPLY_BYTES, and never past `end`: a peer that trickles bytes would otherwise
// restart the receive time-out forever.
Result<std::string> receive_reply(net::TcpConnection& connection, const FetchClock& clock,
                                  TimePoint end) {
    std::string reply;
    http::ReplyProgress progress;
    std::chrono::milliseconds timeout_set{0};
    while (true) {
        const std::chrono::milliseconds left = time_left(clock, end);
        if (left.count() == 0) {
            return std::unexpected(ErrorChain::from_message(std::string(ATTEMPT_OVERTIME)));
        }
        // The system takes a zero time-out for none at all; `left` is at least 1 ms here.
        if (const auto timeout = std::min(RECEIVE_TIMEOUT, left); timeout != timeout_set) {
            if (auto set = connection.set_receive_timeout(timeout); !set) {
                return std::unexpected(std::move(set.error()));
            }
            timeout_set = timeout;
        }
        // One byte over the bound is enough to know it was crossed.
        const std::size_t room = std::min(RECEIVE_CHUNK, MAX_REPLY_BYTES + 1 - reply.size());
        const std::size_t old_size = reply.size();
        reply.resize(old_size + room);
        auto received = connection.receive(std::span<char>(reply.data() + old_size, room));
        if (!received) {
            if (timeout_set < RECEIVE_TIMEOUT && time_left(clock, end).count() == 0) {
                // Cut short by the attempt's end rather than a silent peer.
                return std::unexpected(ErrorChain::from_message(std::string(ATTEMPT_OVERTIME)));
            }
            return std::unexpected(std::move(received.error()));
        }
        reply.resize(old_size + *received);
        if (*received == 0) {
            return reply;
        }
        if (reply.size() > MAX_REPLY_BYTES) {
            return std::unexpected(ErrorChain::from_message(reply_too_large_message()));
        }
        if (progress.complete(reply)) {
            return reply;
        }
    }
}

}  // namespace

std::string reply_too_large_message() {
    return "inspector reply exceeds 16 MiB (" + std::to_string(MAX_REPLY_BYTES) + " bytes)";
}

FetchClock FetchClock::system() {
    return {[] { return std::chrono::steady_clock::now(); },
            [](std::chrono::milliseconds length) { std::this_thread::sleep_for(length); }};
}

Result<std::string> fetch_once(const std::string& inspector_addr, std::string_view path,
                               const FetchClock& clock, TimePoint deadline) {
    auto connection = connect_to(inspector_addr, clock, deadline);
    if (!connection) {
        return std::unexpected(
            std::move(connection.error())
                .with_context(std::string(CONNECT_CONTEXT_PREFIX) + inspector_addr));
    }
    const auto pieces = http::request_pieces(path, inspector_addr);
    if (auto sent = connection->send_all(pieces); !sent) {
        return std::unexpected(std::move(sent.error()));
    }
    auto reply = receive_reply(*connection, clock, deadline + RECEIVE_TIMEOUT);
    connection->close();
    if (!reply) {
        return std::unexpected(std::move(reply.error()));
    }
    return http::check_reply(*reply);
}

Result<std::string> fetch_once(const std::string& inspector_addr, std::string_view path) {
    const FetchClock clock = FetchClock::system();
    return fetch_once(inspector_addr, path, clock, clock.now() + FETCH_DEADLINE);
}

Result<std::string> fetch_target_list(const std::string& inspector_addr, const FetchClock& clock) {
    const TimePoint deadline = clock.now() + FETCH_DEADLINE;
    while (true) {
        auto body = fetch_once(inspector_addr, TARGET_LIST_PATH, clock, deadline);
        if (body || clock.now() >= deadline) {
            return body;
        }
        clock.pause(RETRY_PAUSE);
    }
}

Result<std::string> fetch_target_list(const std::string& inspector_addr) {
    return fetch_target_list(inspector_addr, FetchClock::system());
}

}  // namespace quelby
