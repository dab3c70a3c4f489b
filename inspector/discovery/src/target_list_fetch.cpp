#include "quelby/discovery/target_list_fetch.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "quelby/discovery/http_reply.h"
#include "quelby/discovery/inspector_address.h"
#include "quelby/discovery/socket_address.h"
#include "quelby/discovery/tcp_connection.h"

namespace quelby {
namespace {

// Asked for when /json is not found, to tell an inspector of another protocol.
constexpr std::string_view VERSION_PATH = "/json/version";

constexpr std::string_view CONNECT_CONTEXT_PREFIX = "connect to inspector at ";

constexpr std::size_t RECEIVE_CHUNK = std::size_t{64} * 1024;

using TimePoint = FetchClock::TimePoint;

// What is left until `end`, in whole milliseconds rounded up; zero when it has passed.
std::chrono::milliseconds time_left(const FetchClock& clock, TimePoint end) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - clock.now());
    return std::max(left, std::chrono::milliseconds{0});
}

// Resolves the address and connects to the first of its addresses that accepts, each try waiting
// only for what is left until `connect_end`; with the address it was made to. Once `stop` is
// stopped, no further address is tried.
struct Connected {
    net::TcpConnection connection;
    net::SocketAddress peer;
};
Result<Connected> connect_to(const std::string& inspector_addr, const std::stop_token& stop,
                             const FetchClock& clock, TimePoint connect_end) {
    auto addresses = net::resolve_inspector_addr(inspector_addr);
    if (!addresses) {
        return std::unexpected(std::move(addresses.error()));
    }
    std::optional<ErrorChain> last_error;
    for (const net::SocketAddress& address : *addresses) {
        auto connection = net::TcpConnection::connect(address, time_left(clock, connect_end), stop);
        if (connection) {
            return Connected{std::move(*connection), address};
        }
        last_error = std::move(connection.error());
        if (stop.stop_requested()) {
            break;
        }
    }
    if (last_error) {
        return std::unexpected(std::move(*last_error));
    }
    return std::unexpected(ErrorChain::from_message(std::string(net::NO_ADDRESSES)));
}

// For a stop token that can be stopped: waits for the next bytes in slices, reading the token and
// the clock between them, so that a stopped search does not wait out a whole receive time-out.
enum class Waited : std::uint8_t {
    Bytes,    // something to receive
    Silence,  // the peer said nothing for the whole receive time-out
    Over,     // the attempt's time is up, or a stop was requested
};
Result<Waited> wait_for_bytes(net::TcpConnection& connection, const std::stop_token& stop,
                              const FetchClock& clock, TimePoint end,
                              std::chrono::milliseconds silence_limit) {
    const auto silence_end = std::chrono::steady_clock::now() + silence_limit;
    while (true) {
        if (stop.stop_requested()) {
            return Waited::Over;
        }
        const std::chrono::milliseconds left = time_left(clock, end);
        if (left.count() == 0) {
            return Waited::Over;
        }
        const auto silence_left = std::chrono::ceil<std::chrono::milliseconds>(
            silence_end - std::chrono::steady_clock::now());
        if (silence_left.count() <= 0) {
            return Waited::Silence;
        }
        auto ready = connection.wait_readable(std::min({net::WAIT_SLICE, left, silence_left}));
        if (!ready) {
            return std::unexpected(std::move(ready.error()));
        }
        if (*ready) {
            return Waited::Bytes;
        }
    }
}

// Reads the reply until the peer closes, or until the declared Content-Length has arrived, never
// more than MAX_REPLY_BYTES, and never past `end`: a peer that trickles bytes would otherwise
// restart the receive time-out forever.
Result<std::string> receive_reply(net::TcpConnection& connection, const std::stop_token& stop,
                                  const FetchClock& clock, TimePoint end) {
    std::string reply;
    http::ReplyProgress progress;
    std::chrono::milliseconds timeout_set{0};
    while (true) {
        const std::chrono::milliseconds left = time_left(clock, end);
        if (left.count() == 0) {
            return std::unexpected(ErrorChain::from_message(std::string(ATTEMPT_OVERTIME)));
        }
        // The system takes a zero time-out for none at all; `left` is at least 1 ms here.
        std::chrono::milliseconds timeout = std::min(RECEIVE_TIMEOUT, left);
        if (stop.stop_possible()) {
            auto waited = wait_for_bytes(connection, stop, clock, end, timeout);
            if (!waited) {
                return std::unexpected(std::move(waited.error()));
            }
            if (*waited == Waited::Over) {
                return std::unexpected(ErrorChain::from_message(std::string(ATTEMPT_OVERTIME)));
            }
            if (*waited == Waited::Silence) {
                // The silence was waited out already: the receive gives the system's own time-out
                // error at once.
                timeout = std::chrono::milliseconds{1};
            }
        }
        if (timeout != timeout_set) {
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

struct Request {
    std::string_view path;
    std::string host;
    http::Version version = http::Version::Http10;
};
struct Exchanged {
    std::string reply;  // empty when the peer closed without a word
    net::SocketAddress peer;
};

// One connection: connect, send, read the whole reply, close.
Result<Exchanged> exchange(const std::string& inspector_addr, const Request& request,
                           const std::stop_token& stop, const FetchClock& clock,
                           TimePoint deadline) {
    auto connected = connect_to(inspector_addr, stop, clock, deadline);
    if (!connected) {
        return std::unexpected(
            std::move(connected.error())
                .with_context(std::string(CONNECT_CONTEXT_PREFIX) + inspector_addr));
    }
    const auto pieces = http::request_pieces(request.path, request.host, request.version);
    if (auto sent = connected->connection.send_all(pieces); !sent) {
        return std::unexpected(std::move(sent.error()));
    }
    auto reply = receive_reply(connected->connection, stop, clock, deadline + RECEIVE_TIMEOUT);
    connected->connection.close();
    if (!reply) {
        return std::unexpected(std::move(reply.error()));
    }
    return Exchanged{std::move(*reply), connected->peer};
}

std::optional<int> reply_status_code(std::string_view reply) {
    const auto split = http::split_reply(reply);
    return split ? http::status_code(http::status_line(split->head)) : std::nullopt;
}

// The reply check's one-link error, with what the user may do about it.
ErrorChain with_hint(const ErrorChain& error, std::string_view hint) {
    return ErrorChain::from_message(error.messages().front()).with_hint(std::string(hint));
}

}  // namespace

std::string numeric_host(const net::SocketAddress& peer) {
    net::SocketAddress shown = net::loopback_if_unspecified(peer);
    shown.scope_id = 0;
    shown.flow_info = 0;
    return net::to_string(shown);
}

std::string numeric_host_hint(std::string_view numeric) {
    return "hint: V8 inspectors accept only an IP address or localhost as the Host (a defence "
           "against DNS rebinding); try the numeric address, e.g. " +
           std::string(numeric);
}

std::string reply_too_large_message() {
    return "inspector reply exceeds 16 MiB (" + std::to_string(MAX_REPLY_BYTES) + " bytes)";
}

FetchClock FetchClock::system() {
    return {.now = [] { return std::chrono::steady_clock::now(); },
            .pause =
                [](std::chrono::milliseconds length, const std::stop_token& stop) {
                    // Nothing but the stop token and the time ever wakes it.
                    std::mutex mutex;
                    std::condition_variable_any woken;
                    std::unique_lock lock(mutex);
                    static_cast<void>(woken.wait_for(lock, stop, length, [] { return false; }));
                }};
}

Result<std::string> fetch_once(const std::string& inspector_addr, std::string_view path,
                               const std::stop_token& stop, const FetchClock& clock,
                               TimePoint deadline) {
    const Request first{path, without_port_sign(inspector_addr), http::Version::Http10};
    auto got = exchange(inspector_addr, first, stop, clock, deadline);
    if (!got) {
        return std::unexpected(std::move(got.error()));
    }
    Request request = first;
    bool closed_twice = false;
    if (got->reply.empty()) {
        // Chromium's inspector closes on an HTTP/1.0 request without a word.
        request.version = http::Version::Http11;
        got = exchange(inspector_addr, request, stop, clock, deadline);
        if (!got) {
            return std::unexpected(std::move(got.error()));
        }
        closed_twice = got->reply.empty();
    }
    auto body = http::check_reply(got->reply);
    if (body) {
        return body;
    }
    if (closed_twice) {
        return std::unexpected(with_hint(body.error(), CLOSED_WITHOUT_REPLY_HINT));
    }
    const std::optional<int> code = reply_status_code(got->reply);
    if (code == 400) {
        // V8 inspectors refuse a Host that is not an IP address or localhost (their defence
        // against DNS rebinding); the address actually connected to is one.
        Request numeric = request;
        numeric.host = numeric_host(got->peer);
        if (numeric.host != request.host) {
            auto again = exchange(inspector_addr, numeric, stop, clock, deadline);
            if (auto accepted = again ? http::check_reply(again->reply) : body; accepted) {
                return accepted;
            }
            return std::unexpected(with_hint(body.error(), numeric_host_hint(numeric.host)));
        }
    }
    if (code == 404 && path == TARGET_LIST_PATH) {
        Request version = request;
        version.path = VERSION_PATH;
        auto probe = exchange(inspector_addr, version, stop, clock, deadline);
        auto about = probe ? http::check_reply(probe->reply) : body;
        if (about && about->find("Bun") != std::string::npos) {
            return std::unexpected(with_hint(body.error(), BUN_HINT));
        }
    }
    return body;
}

Result<std::string> fetch_once(const std::string& inspector_addr, std::string_view path,
                               const std::stop_token& stop) {
    const FetchClock clock = FetchClock::system();
    return fetch_once(inspector_addr, path, stop, clock, clock.now() + FETCH_DEADLINE);
}

Result<FetchedTargetList> fetch_target_list(const std::string& inspector_addr,
                                            const std::stop_token& stop, const FetchClock& clock) {
    // An address that does not parse never will: report it at once instead of after the retries.
    if (auto plan = net::plan_address(inspector_addr); !plan) {
        return std::unexpected(
            std::move(plan.error())
                .with_context(std::string(CONNECT_CONTEXT_PREFIX) + inspector_addr));
    }
    const TimePoint deadline = clock.now() + FETCH_DEADLINE;
    unsigned failed_attempts = 0;
    while (true) {
        auto body = fetch_once(inspector_addr, TARGET_LIST_PATH, stop, clock, deadline);
        if (body) {
            return FetchedTargetList{std::move(*body), failed_attempts};
        }
        ++failed_attempts;
        if (stop.stop_requested() || clock.now() >= deadline) {
            return std::unexpected(std::move(body.error()));
        }
        clock.pause(RETRY_PAUSE, stop);
        if (stop.stop_requested()) {
            return std::unexpected(std::move(body.error()));
        }
    }
}

}  // namespace quelby
