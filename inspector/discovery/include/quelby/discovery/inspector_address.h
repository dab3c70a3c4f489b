// What users paste as the inspector's address: the HTTP listener ("127.0.0.1:9229",
// "http://127.0.0.1:9229/json"), or the debugger's own WebSocket as node prints it
// ("ws://127.0.0.1:9229/UUID", also without its scheme), which needs no target list at all.
#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "quelby/core/error_chain.h"
#include "quelby/discovery/ws_target.h"

namespace quelby {

// An HTTP listener: the target list is read at http://AUTHORITY/json.
struct ListenerAddress {
    std::string authority;  // the "host:port" to fetch from; a plain argument is kept verbatim

    friend bool operator==(const ListenerAddress&, const ListenerAddress&) = default;
};

// A listener, or a debugger's WebSocket attached to directly (its address with the port as a plain
// number).
using InspectorAddress = std::variant<ListenerAddress, WsTarget>;

// Classifies the address argument. Only the WebSocket forms are checked here (they are never
// fetched from, so nothing later would find their faults); a listener's address is checked by the
// fetch, which reports it as it always has.
Result<InspectorAddress> parse_inspector_address(std::string_view argument);

// "host:+9229" as "host:9229": the port as a plain number, as it must appear in a Host header or a
// WebSocket URL. Any other text comes back unchanged.
std::string without_port_sign(std::string_view authority);

}  // namespace quelby
