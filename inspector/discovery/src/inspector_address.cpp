#include "quelby/discovery/inspector_address.h"

#include <array>

#include "quelby/core/ascii_text.h"
#include "quelby/core/quoted_text.h"
#include "quelby/discovery/socket_address.h"
#include "quelby/discovery/ws_target.h"

namespace quelby {
namespace {

constexpr std::string_view INVALID_WS_ADDRESS_PREFIX = "invalid WebSocket address ";

// Paths under which a listener's own pages live: pasting them means the listener, not a target.
constexpr std::array<std::string_view, 4> LISTENER_PATHS = {"", "/", "/json", "/json/list"};

ErrorChain invalid_ws_address(std::string_view argument, ErrorChain cause) {
    return std::move(cause).with_context(std::string(INVALID_WS_ADDRESS_PREFIX) +
                                         quote_peer_text(argument, Layout::Escape));
}

// A WebSocket URL's authority: "host:port", or, when the scheme names the default port, a host
// alone.
Status check_ws_authority(std::string_view authority, bool port_required) {
    if (authority.empty()) {
        return std::unexpected(ErrorChain::from_message(std::string(net::INVALID_SOCKET_ADDRESS)));
    }
    const bool bracketed_host = authority.front() == '[' && authority.back() == ']';
    if (!port_required && (bracketed_host || authority.find(':') == std::string_view::npos)) {
        return {};
    }
    if (auto plan = net::plan_address(authority); !plan) {
        return std::unexpected(std::move(plan.error()));
    }
    return {};
}

// "AUTHORITY/PATH" (the scheme already removed) as a direct WebSocket address.
Result<InspectorAddress> websocket_address(std::string_view argument, std::string_view rest,
                                           bool secure, bool port_required) {
    // Blanks and control characters never belong to a URL; one would also reach the console line.
    if (rest.find(' ') != std::string_view::npos || find_control_character(rest)) {
        return std::unexpected(invalid_ws_address(
            argument,
            ErrorChain::from_message("a WebSocket address has no blanks or control characters")));
    }
    const std::size_t slash = rest.find('/');
    const std::string_view authority = rest.substr(0, slash);
    if (auto checked = check_ws_authority(authority, port_required); !checked) {
        return std::unexpected(invalid_ws_address(argument, std::move(checked.error())));
    }
    std::string target = without_port_sign(authority);
    if (slash != std::string_view::npos) {
        target += rest.substr(slash);
    }
    return WsTarget{std::move(target), secure};
}

}  // namespace

std::string without_port_sign(std::string_view authority) {
    const std::size_t colon = authority.rfind(':');
    if (colon == std::string_view::npos || colon + 1 >= authority.size() ||
        authority[colon + 1] != '+' || !net::parse_port(authority.substr(colon + 1))) {
        return std::string(authority);
    }
    return std::string(authority.substr(0, colon + 1)) + std::string(authority.substr(colon + 2));
}

Result<InspectorAddress> parse_inspector_address(std::string_view argument) {
    if (const std::optional<WsTarget> ws = split_ws_url(argument, SchemeLetters::AnyCase)) {
        return websocket_address(argument, ws->address, ws->secure, false);
    }
    if (starts_with_ignoring_ascii_case(argument, "http://")) {
        const std::string_view rest = argument.substr(7);
        return ListenerAddress{std::string(rest.substr(0, rest.find_first_of("/?#")))};
    }
    if (const std::size_t scheme = argument.find("://"); scheme != std::string_view::npos) {
        return std::unexpected(
            ErrorChain::from_message(
                "the address must be HOST:PORT, http://HOST:PORT, ws://HOST:PORT/PATH or "
                "wss://HOST:PORT/PATH")
                .with_context("unsupported scheme in the inspector address " +
                              quote_peer_text(argument, Layout::Escape)));
    }
    const std::size_t slash = argument.find('/');
    if (slash != std::string_view::npos) {
        const std::string_view path = argument.substr(slash);
        if (std::ranges::find(LISTENER_PATHS, path) != LISTENER_PATHS.end()) {
            return ListenerAddress{std::string(argument.substr(0, slash))};
        }
        return websocket_address(argument, argument, false, true);
    }
    return ListenerAddress{std::string(argument)};
}

}  // namespace quelby
