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

// Steps 1 and 2: the first address of the resolved list that accepts the connection.
Result<net::TcpConnection> connect_to(const std::string& inspector_addr) {
    auto addresses = net::resolve_inspector_addr(inspector_addr);
    if (!addresses) {
        return std::unexpected(std::move(addresses.error()));
    }
    std::optional<ErrorChain> last_error;
    for (const net::SocketAddress& address : *addresses) {
        auto connection = net::TcpConnection::connect(address);
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

// Step 6, amended: until the peer closes, or until the declared Content-Length has arrived, and
// never more than MAX_REPLY_BYTES.
Result<std::string> receive_reply(net::TcpConnection& connection) {
    std::string reply;
    http::ReplyProgress progress;
    while (true) {
        // One byte over the bound is enough to know it was crossed.
        const std::size_t room = std::min(RECEIVE_CHUNK, MAX_REPLY_BYTES + 1 - reply.size());
        const std::size_t old_size = reply.size();
        reply.resize(old_size + room);
        auto received = connection.receive(std::span<char>(reply.data() + old_size, room));
        if (!received) {
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

Result<std::string> fetch_once(const std::string& inspector_addr, std::string_view path) {
    auto connection = connect_to(inspector_addr);
    if (!connection) {
        return std::unexpected(
            std::move(connection.error())
                .with_context(std::string(CONNECT_CONTEXT_PREFIX) + inspector_addr));
    }
    if (auto set = connection->set_receive_timeout(RECEIVE_TIMEOUT); !set) {
        return std::unexpected(std::move(set.error()));
    }
    const auto pieces = http::request_pieces(path, inspector_addr);
    if (auto sent = connection->send_all(pieces); !sent) {
        return std::unexpected(std::move(sent.error()));
    }
    auto reply = receive_reply(*connection);
    connection->close();
    if (!reply) {
        return std::unexpected(std::move(reply.error()));
    }
    return http::check_reply(*reply);
}

Result<std::string> fetch_target_list(const std::string& inspector_addr) {
    const auto deadline = std::chrono::steady_clock::now() + FETCH_DEADLINE;
    while (true) {
        auto body = fetch_once(inspector_addr, TARGET_LIST_PATH);
        if (body || std::chrono::steady_clock::now() >= deadline) {
            return body;
        }
        std::this_thread::sleep_for(RETRY_PAUSE);
    }
}

}  // namespace quelby
