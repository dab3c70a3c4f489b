// The text rules of the --serve HTTP server, free of sockets: dates, entity tags, the Host check
// and the addresses the server prints.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "quelby/discovery/socket_address.h"
#include "quelby/discovery/ws_target.h"

namespace quelby::serve {

// An HTTP date in the preferred form (IMF-fixdate), e.g. "Sun, 06 Nov 1994 08:49:37 GMT".
std::string http_date(std::uint64_t seconds_since_epoch);

// An IMF-fixdate back into seconds since the epoch; nullopt for any other text (the obsolete
// RFC 850 and asctime forms included, so such a condition is ignored and the full answer sent).
std::optional<std::uint64_t> parse_http_date(std::string_view text);

// The strong entity tag of a file: its SHA-256 in lower-case hex, in double quotes.
std::string entity_tag(const std::array<std::uint8_t, 32>& sha256);

// Whether an If-None-Match value ("*", or a comma-separated list of possibly weak tags) matches
// `etag` under the weak comparison that GET and HEAD use.
bool if_none_match_matches(std::string_view header_value, std::string_view etag);

enum class HostVerdict : std::uint8_t {
    Allowed,    // an IP literal, localhost, or the name the server was bound under
    Forbidden,  // a well-formed name of anything else: a page reached through a foreign name
    Malformed,  // not a Host value at all
};

// The defence against DNS rebinding: a browser that reaches this server under a name an attacker
// controls says so in Host. `bound_name` is the host name the server was given (empty for a
// literal address); names compare without regard to letter case.
HostVerdict check_host(std::string_view host_value, std::string_view bound_name);

// The authority of a request target in absolute form ("http://HOST:PORT/path" gives "HOST:PORT",
// possibly empty); nullopt for any other form, the usual "/path?query" included.
std::optional<std::string_view> target_authority(std::string_view target);

// Where the front end for `target` is served: the start document with the front end's query, the
// address percent-encoded, "/js_app.html?ws=...&experiments=true&v8only=true" ("wss=" for a
// secure target); with the run's `secret`, the start page that loads the embedder first:
// "/inspector.html?ws=...&experiments=true&v8only=true&host=SECRET".
std::string frontend_target(const WsTarget& target, std::string_view secret = {});

// The origin browsers use for a server listening on `bound`: "http://NAME:PORT" when it was given
// by a host name, else the literal address ("http://127.0.0.1:PORT", "http://[::1]:PORT"). An
// unspecified address (0.0.0.0, ::) is shown as the loopback address of its family, which is what
// a browser on the same machine can open, whatever name it was given by.
std::string origin_for(std::string_view bound_name, const net::SocketAddress& bound);

}  // namespace quelby::serve
