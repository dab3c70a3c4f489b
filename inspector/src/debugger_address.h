// The chosen target's debugger address (WsTarget) and the front-end address (FrontendUrl).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "error_chain.h"
#include "inspector_address.h"
#include "target_list_fetch.h"

namespace quelby {

inline constexpr std::string_view WS_URL_KEY = "webSocketDebuggerUrl";
inline constexpr std::string_view FRONTEND_ENV = "QUELBY_INSPECTOR_FRONTEND";
inline constexpr std::string_view WS_PLACEHOLDER = "{ws}";
inline constexpr std::string_view START_PAGE = "js_app.html";
inline constexpr std::string_view FRONTEND_QUERY_TAIL = "&experiments=true&v8only=true";
inline constexpr std::string_view NOT_JSON_CONTEXT = "inspector /json was not valid JSON";
inline constexpr std::string_view NO_WS_URL_PREFIX = "no webSocketDebuggerUrl in inspector /json: ";
// The bound on the FrontendUrl (1 MiB): a template with many "{ws}" and a long target would
// otherwise take gigabytes.
inline constexpr std::size_t FRONTEND_URL_LIMIT = std::size_t{1024} * 1024;

// "failed to read inspector targets from http://{inspector_addr}/json"
std::string discovery_context(std::string_view inspector_addr);

// Parses `body` as one JSON value and takes the first target's webSocketDebuggerUrl without its
// "ws://" or "wss://". A value with a control character is refused. Peer text quoted in the errors
// is escaped and capped (quote_peer_text).
Result<std::string> extract_ws_target(std::string_view body);

// A target's address without its scheme, and whether that scheme was wss://.
struct SelectedTarget {
    std::string ws_target;
    bool secure = false;
};

// Parses `body` like extract_ws_target and chooses by `selector`: a zero-based index into the
// list, else the first target whose id is the selector, else the first whose title or url
// contains it (ASCII letter case ignored). Without a selector, the first target. When nothing
// matches, the error lists the targets (index, id, type, title, url), one per line, their texts
// escaped and shortened.
Result<SelectedTarget> select_target(std::string_view body,
                                     const std::optional<std::string>& selector);

struct DebuggerTarget {
    std::string ws_target;
    bool secure = false;  // the front end must connect with wss://
    bool direct = false;  // the address named the WebSocket itself: no target list was read
};

// The whole discovery: a WebSocket address is the target as it stands; a listener's target list
// is fetched (fetch_target_list) and the target chosen (select_target), any error under
// discovery_context. The fetch's retries run on `clock` (a watch that must stop promptly gives its
// own).
Result<DebuggerTarget> discover_target(const InspectorAddress& address,
                                       const std::optional<std::string>& selector,
                                       const FetchClock& clock = FetchClock::system());

// The listener a WebSocket address belongs to: its "host:port" (the text before the first '/');
// a listener's address is its own.
InspectorAddress listener_of(const InspectorAddress& address);

// discover_target for a listener's address as typed, with the first target.
Result<std::string> discover_ws_target(const std::string& inspector_addr,
                                       const FetchClock& clock = FetchClock::system());

// The FrontendUrl from a template value: nullopt gives the default address of the embedded front
// end; otherwise every "{ws}" is replaced, left to right, without overlap. An address longer than
// FRONTEND_URL_LIMIT is refused before any of it is built.
// With `secure` the default address passes the target as "wss=" instead of "ws=".
Result<std::string> frontend_url_from(std::string_view ws_target,
                                      const std::optional<std::string>& frontend_template,
                                      bool secure = false);

// Reads FRONTEND_ENV (unset or not valid UTF-8: the default) and builds the FrontendUrl.
Result<std::string> frontend_url(std::string_view ws_target, bool secure = false);

// "the front-end URL would be {size} bytes, over the 1 MiB bound (1048576 bytes)"
std::string frontend_url_too_long_message(std::uint64_t size);

// A JSON parse error as "{description} at line {line} column {column}": `position` is the number
// of bytes the parser had read when it failed (the failing byte is the last of them); lines and
// columns count from 1, columns in bytes. At the end of the input the column is the one after the
// last byte.
std::string json_error_message(std::string_view body, std::size_t position,
                               std::string_view description);

}  // namespace quelby
