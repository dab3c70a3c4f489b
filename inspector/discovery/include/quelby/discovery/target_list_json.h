// The inspector's target list read as JSON: the first target's debugger address, or the target a
// selector names, with the JSON parser's faults reported by line and column.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"
#include "quelby/discovery/ws_target.h"

namespace quelby {

inline constexpr std::string_view WS_URL_KEY = "webSocketDebuggerUrl";
inline constexpr std::string_view NOT_JSON_CONTEXT = "inspector /json was not valid JSON";
inline constexpr std::string_view NO_WS_URL_PREFIX = "no webSocketDebuggerUrl in inspector /json: ";

// Parses `body` as one JSON value and takes the first target's webSocketDebuggerUrl without its
// "ws://" or "wss://". A value with a control character is refused. Peer text quoted in the errors
// is escaped and capped (quote_peer_text).
Result<std::string> extract_ws_target(std::string_view body);

// Parses `body` like extract_ws_target and chooses by `selector`: a zero-based index into the
// list, else the first target whose id is the selector, else the first whose title or url
// contains it (ASCII letter case ignored). Without a selector, the first target. When nothing
// matches, the error lists the targets (index, id, type, title, url), one per line, their texts
// escaped and shortened.
Result<WsTarget> select_target(std::string_view body, const std::optional<std::string>& selector);

// A JSON parse error as "{description} at line {line} column {column}": `position` is the number
// of bytes the parser had read when it failed (the failing byte is the last of them); lines and
// columns count from 1, columns in bytes. At the end of the input the column is the one after the
// last byte.
std::string json_error_message(std::string_view body, std::size_t position,
                               std::string_view description);

}  // namespace quelby
