// Discovery as a whole: from the address the user gave to the chosen target's debugger address
// (WsTarget), through the target list when the address is a listener's.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "error_chain.h"
#include "quelby/discovery/inspector_address.h"
#include "quelby/discovery/target_list_fetch.h"
#include "quelby/discovery/target_list_json.h"
#include "quelby/discovery/ws_target.h"

namespace quelby {

// "failed to read inspector targets from http://{inspector_addr}/json"
std::string discovery_context(std::string_view inspector_addr);

struct DebuggerTarget {
    WsTarget target;
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
Result<WsTarget> discover_ws_target(const std::string& inspector_addr,
                                    const FetchClock& clock = FetchClock::system());

}  // namespace quelby
