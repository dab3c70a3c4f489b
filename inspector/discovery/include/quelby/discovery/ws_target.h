// A debugger's WebSocket address as the program carries it: the URL without its scheme, and which
// scheme it takes. The address the user gives, the target an inspector lists, the one the window
// re-attaches to and the front-end URLs all hold this one value, so the scheme cannot be dropped
// on the way.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "quelby/core/ascii_text.h"

namespace quelby {

struct WsTarget {
    std::string address;  // what follows "ws://" or "wss://"
    // No default: every target says which scheme the front end must connect with.
    bool secure;  // wss://

    // "ws" or "wss": the URL's scheme, and also the name of the front end's query parameter that
    // carries the address.
    constexpr std::string_view scheme() const noexcept { return secure ? "wss" : "ws"; }

    friend bool operator==(const WsTarget&, const WsTarget&) = default;
};

enum class SchemeLetters {
    AnyCase,  // as URL schemes are compared: what a user types
    Exact,    // an inspector's own list, taken as written ("WS://" stays whole)
};

// The target of a "ws://" or "wss://" URL; nullopt when `url` starts with neither.
inline std::optional<WsTarget> split_ws_url(std::string_view url, SchemeLetters letters) {
    for (const bool secure : {false, true}) {
        const std::string_view scheme = secure ? "wss://" : "ws://";
        if (letters == SchemeLetters::Exact ? url.starts_with(scheme)
                                            : starts_with_ignoring_ascii_case(url, scheme)) {
            return WsTarget{std::string(url.substr(scheme.size())), secure};
        }
    }
    return std::nullopt;
}

}  // namespace quelby
