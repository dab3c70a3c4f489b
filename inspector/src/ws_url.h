// A WebSocket URL split at its scheme, for the places that hold a target without one: the address
// the user gives, the target an inspector lists, and the socket the page reports as closed.
#pragma once

#include <optional>
#include <string_view>

#include "ascii_text.h"

namespace quelby {

struct WsUrl {
    std::string_view address;  // what follows the scheme
    bool secure = false;       // wss://
};

enum class SchemeLetters {
    AnyCase,  // as URL schemes are compared: what a user types
    Exact,    // an inspector's own list, taken as written ("WS://" stays whole)
};

// nullopt when `url` starts with neither "ws://" nor "wss://".
constexpr std::optional<WsUrl> split_ws_url(
    std::string_view url, SchemeLetters letters = SchemeLetters::AnyCase) noexcept {
    const auto starts = [&](std::string_view scheme) {
        return letters == SchemeLetters::Exact ? url.starts_with(scheme)
                                               : starts_with_ignoring_ascii_case(url, scheme);
    };
    if (starts("ws://")) {
        return WsUrl{url.substr(5), false};
    }
    if (starts("wss://")) {
        return WsUrl{url.substr(6), true};
    }
    return std::nullopt;
}

}  // namespace quelby
