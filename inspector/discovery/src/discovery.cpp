#include "quelby/discovery/discovery.h"

namespace quelby {

std::string discovery_context(std::string_view inspector_addr) {
    return "failed to read inspector targets from http://" + std::string(inspector_addr) + "/json";
}

Result<DebuggerTarget> discover_target(const InspectorAddress& address,
                                       const std::optional<std::string>& selector,
                                       const FetchClock& clock) {
    if (const auto* ws = std::get_if<WsTarget>(&address)) {
        return DebuggerTarget{*ws, true};
    }
    const std::string& listener = std::get<ListenerAddress>(address).authority;
    auto body = fetch_target_list(listener, clock);
    auto target = body ? select_target(*body, selector)
                       : Result<WsTarget>(std::unexpected(std::move(body.error())));
    if (!target) {
        return std::unexpected(std::move(target.error()).with_context(discovery_context(listener)));
    }
    return DebuggerTarget{std::move(*target), false};
}

InspectorAddress listener_of(const InspectorAddress& address) {
    const auto* ws = std::get_if<WsTarget>(&address);
    if (ws == nullptr) {
        return address;
    }
    return ListenerAddress{ws->address.substr(0, ws->address.find('/'))};
}

Result<WsTarget> discover_ws_target(const std::string& inspector_addr, const FetchClock& clock) {
    auto target = discover_target(ListenerAddress{inspector_addr}, std::nullopt, clock);
    if (!target) {
        return std::unexpected(std::move(target.error()));
    }
    return std::move(target->target);
}

}  // namespace quelby
