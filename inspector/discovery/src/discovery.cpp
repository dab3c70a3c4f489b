#include "quelby/discovery/discovery.h"

namespace quelby {

std::string discovery_context(std::string_view inspector_addr) {
    return "failed to read inspector targets from http://" + std::string(inspector_addr) + "/json";
}

Result<DebuggerTarget> discover_target(const InspectorAddress& address,
                                       const std::optional<std::string>& selector,
                                       const std::stop_token& stop) {
    if (const auto* ws = std::get_if<WsTarget>(&address)) {
        return DebuggerTarget{*ws, true, 0};
    }
    const std::string& listener = std::get<ListenerAddress>(address).authority;
    auto list = fetch_target_list(listener, stop);
    auto target = list ? select_target(list->body, selector)
                       : Result<WsTarget>(std::unexpected(std::move(list.error())));
    if (!target) {
        return std::unexpected(std::move(target.error()).with_context(discovery_context(listener)));
    }
    return DebuggerTarget{std::move(*target), false, list->failed_attempts};
}

InspectorAddress listener_of(const InspectorAddress& address) {
    const auto* ws = std::get_if<WsTarget>(&address);
    if (ws == nullptr) {
        return address;
    }
    return ListenerAddress{ws->address.substr(0, ws->address.find('/'))};
}

Result<WsTarget> discover_ws_target(const std::string& inspector_addr,
                                    const std::stop_token& stop) {
    auto target = discover_target(ListenerAddress{inspector_addr}, std::nullopt, stop);
    if (!target) {
        return std::unexpected(std::move(target.error()));
    }
    return std::move(target->target);
}

}  // namespace quelby
