// The target list fetch: one hand-built HTTP/1.0 GET of /json over plain TCP, retried after a
// short pause until a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "error_chain.h"

namespace quelby {

inline constexpr std::string_view TARGET_LIST_PATH = "/json";
inline constexpr std::chrono::seconds FETCH_DEADLINE{5};
inline constexpr std::chrono::milliseconds RETRY_PAUSE{150};
inline constexpr std::chrono::milliseconds RECEIVE_TIMEOUT{3000};
// The bound on one reply, head and body (16 MiB). A longer reply fails the attempt.
inline constexpr std::size_t MAX_REPLY_BYTES = std::size_t{16} * 1024 * 1024;

inline constexpr std::string_view CONNECT_CONTEXT_PREFIX = "connect to inspector at ";

// "inspector reply exceeds 16 MiB (16777216 bytes)"
std::string reply_too_large_message();

// One attempt: resolve, connect, send the request for `path`, read the reply, check it. The body
// on success. The connection is closed before returning, whatever the outcome.
Result<std::string> fetch_once(const std::string& inspector_addr, std::string_view path);

// The whole fetch: fetch_once for TARGET_LIST_PATH, retried RETRY_PAUSE after every failure while
// the monotonic clock has not reached FETCH_DEADLINE past the start; the last error otherwise.
Result<std::string> fetch_target_list(const std::string& inspector_addr);

}  // namespace quelby
