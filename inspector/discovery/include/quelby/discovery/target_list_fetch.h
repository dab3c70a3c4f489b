// The target list fetch: one hand-built HTTP/1.0 GET of /json over plain TCP, retried after a
// short pause until a deadline.
#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <cstddef>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"
#include "quelby/discovery/socket_address.h"

namespace quelby {

inline constexpr std::string_view TARGET_LIST_PATH = "/json";
inline constexpr std::chrono::seconds FETCH_DEADLINE{5};
inline constexpr std::chrono::milliseconds RETRY_PAUSE{150};
inline constexpr std::chrono::milliseconds RECEIVE_TIMEOUT{3000};
// The bound on one reply, head and body (16 MiB). A longer reply fails the attempt.
inline constexpr std::size_t MAX_REPLY_BYTES = std::size_t{16} * 1024 * 1024;

namespace detail {

// Text built at compile time in a fixed buffer (no allocation, which not every compiler that
// reads this header can do in a constant expression).
struct FixedText {
    std::array<char, 160> chars{};
    std::size_t size = 0;

    constexpr FixedText& operator<<(std::string_view text) {
        for (const char c : text) {
            chars.at(size++) = c;
        }
        return *this;
    }
    constexpr FixedText& operator<<(std::chrono::milliseconds duration) {
        std::array<char, 20> digits{};
        std::size_t count = 0;
        auto value = duration.count();
        do {
            digits.at(count++) = static_cast<char>('0' + value % 10);
            value /= 10;
        } while (value > 0);
        while (count > 0) {
            chars.at(size++) = digits.at(--count);
        }
        return *this << " ms";
    }
};

// The text kept at compile time, so that it always names the bounds in force.
inline constexpr FixedText ATTEMPT_OVERTIME_TEXT = [] {
    FixedText text;
    text << "inspector reply not complete within the fetch deadline ("
         << std::chrono::milliseconds(FETCH_DEADLINE) << ") and one receive time-out ("
         << RECEIVE_TIMEOUT << ")";
    return text;
}();

}  // namespace detail

// An attempt whose reply is still arriving when its time is up (see fetch_once); it names
// FETCH_DEADLINE and RECEIVE_TIMEOUT in milliseconds.
inline constexpr std::string_view ATTEMPT_OVERTIME{detail::ATTEMPT_OVERTIME_TEXT.chars.data(),
                                                   detail::ATTEMPT_OVERTIME_TEXT.size};

inline constexpr std::string_view CLOSED_WITHOUT_REPLY_HINT =
    "hint: the peer closed the connection without a reply, to HTTP/1.0 and to HTTP/1.1";
inline constexpr std::string_view BUN_HINT =
    "hint: this is Bun's inspector, which speaks WebKit's inspector protocol, not V8's: the "
    "DevTools front end cannot attach to it";

// The Host value that names `peer` by number ("127.0.0.1:9229", "[0:0:0:0:0:0:0:1]:9229"); the
// unspecified address stands for the loopback address of its family.
std::string numeric_host(const net::SocketAddress& peer);
// The line added to a 400 reply when the numeric Host did not help either.
std::string numeric_host_hint(std::string_view numeric);

// "inspector reply exceeds 16 MiB (16777216 bytes)"
std::string reply_too_large_message();

// The clock the deadline is read from and the pause between attempts. Tests replace them to check
// the deadline without waiting for it; the socket waits themselves are always real.
struct FetchClock {
    using TimePoint = std::chrono::steady_clock::time_point;
    std::function<TimePoint()> now;
    // Waits `length`, or less once `stop` is stopped.
    std::function<void(std::chrono::milliseconds length, const std::stop_token& stop)> pause;

    // The monotonic clock, and a real wait that a stop ends at once.
    static FetchClock system();
};

// Cancellation: every fetch takes a `stop` token, for a caller that may lose interest while it runs
// (a search the user ended by closing the window). A token that can be stopped makes connecting
// and receiving wait in slices of net::WAIT_SLICE; once it is stopped, a wait on the socket ends
// within a slice (connecting with the system's time-out error, receiving with ATTEMPT_OVERTIME), a
// pause at once, and no attempt follows. A token that cannot be stopped (the default) leaves each
// wait whole: the connect until the deadline, each receive its own time-out.

// One attempt: resolve, connect, send the request for `path`, read the reply, check it. The body
// on success. The connection is closed before returning, whatever the outcome. The Host header is
// the address with a "+port" written as a plain number. Within the attempt, one more exchange each:
// a peer that closes without a reply is asked again in HTTP/1.1; a 400 is asked again with the
// numeric address connected to as the Host (else a hint is added); a 404 for TARGET_LIST_PATH
// asks /json/version and adds BUN_HINT when the answer names Bun.
//
// The attempt is bounded whatever the peer does: connecting waits at most until `deadline` (the
// system's time-out error then), and the whole attempt ends by `deadline` + RECEIVE_TIMEOUT
// (ATTEMPT_OVERTIME then); each receive still waits at most RECEIVE_TIMEOUT.
Result<std::string> fetch_once(const std::string& inspector_addr, std::string_view path,
                               const std::stop_token& stop, const FetchClock& clock,
                               FetchClock::TimePoint deadline);
// The same with the system clock and a deadline FETCH_DEADLINE from now.
Result<std::string> fetch_once(const std::string& inspector_addr, std::string_view path,
                               const std::stop_token& stop = {});

// A target list as read, and how many attempts failed before the one that read it: the inspector
// was not up yet, or gone for a while (a debuggee that restarted).
struct FetchedTargetList {
    std::string body;
    unsigned failed_attempts = 0;
};

// The whole fetch: an address that does not parse fails at once (it never will); otherwise
// fetch_once for TARGET_LIST_PATH, retried RETRY_PAUSE after every failure while
// the clock has not reached FETCH_DEADLINE past the start and `stop` is not stopped; the last error
// otherwise. It ends at most RECEIVE_TIMEOUT after the deadline.
Result<FetchedTargetList> fetch_target_list(const std::string& inspector_addr,
                                            const std::stop_token& stop = {},
                                            const FetchClock& clock = FetchClock::system());

}  // namespace quelby
