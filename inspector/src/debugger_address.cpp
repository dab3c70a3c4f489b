#include "debugger_address.h"

namespace quelby {

std::string discovery_context(std::string_view inspector_addr) {
    return "failed to read inspector targets from http://" + std::string(inspector_addr) + "/json";
}

Result<DebuggerTarget> discover_target(const InspectorAddress& address,
                                       const std::optional<std::string>& selector,
                                       const FetchClock& clock) {
    if (address.kind == InspectorAddress::Kind::WebSocket) {
        return DebuggerTarget{address.text, address.secure, true};
    }
    auto body = fetch_target_list(address.text, clock);
    auto target = body ? select_target(*body, selector)
                       : Result<SelectedTarget>(std::unexpected(std::move(body.error())));
    if (!target) {
        return std::unexpected(
            std::move(target.error()).with_context(discovery_context(address.text)));
    }
    return DebuggerTarget{std::move(target->ws_target), target->secure, false};
}

InspectorAddress listener_of(const InspectorAddress& address) {
    if (address.kind != InspectorAddress::Kind::WebSocket) {
        return address;
    }
    return InspectorAddress{InspectorAddress::Kind::Listener,
                            address.text.substr(0, address.text.find('/')), false};
}

Result<std::string> discover_ws_target(const std::string& inspector_addr, const FetchClock& clock) {
    auto target =
        discover_target(InspectorAddress{InspectorAddress::Kind::Listener, inspector_addr, false},
                        std::nullopt, clock);
    if (!target) {
        return std::unexpected(std::move(target.error()));
    }
    return std::move(target->ws_target);
}

}  // namespace quelby
