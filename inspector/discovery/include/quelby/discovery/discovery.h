// Discovery as a whole: from the address the user gave to the chosen target's debugger address
// (WsTarget), through the target list when the address is a listener's.
#pragma once

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

#include "quelby/core/error_chain.h"
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
    // The attempts of the list's fetch that failed before the one that read it (0 when direct):
    // more than none means the inspector was seen gone (or not up yet) during the lookup.
    unsigned failed_attempts = 0;
};

// The whole discovery: a WebSocket address is the target as it stands; a listener's target list
// is fetched (fetch_target_list, which `stop` ends early: a watch that must stop promptly gives
// its own) and the target chosen (select_target), any error under discovery_context.
Result<DebuggerTarget> discover_target(const InspectorAddress& address,
                                       const std::optional<std::string>& selector,
                                       const std::stop_token& stop = {});

// The listener a WebSocket address belongs to: its "host:port" (the text before the first '/');
// a listener's address is its own.
InspectorAddress listener_of(const InspectorAddress& address);

// discover_target for a listener's address as typed, with the first target.
Result<WsTarget> discover_ws_target(const std::string& inspector_addr,
                                    const std::stop_token& stop = {});

}  // namespace quelby
