#include "debugger_address.h"

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>

#include "devtools_scheme.h"
#include "environment.h"
#include "quoted_text.h"
#include "target_list_fetch.h"

namespace quelby {
namespace {

// Reads the whole body as one JSON value without building a tree: only the first target's
// webSocketDebuggerUrl is kept, so no input can make the program allocate more than the body.
// The parser (nlohmann::json's SAX parser, strict) still checks every byte of the value and that
// only whitespace follows it.
class FirstTargetSax final : public nlohmann::json_sax<nlohmann::json> {
  public:
    using json = nlohmann::json;

    std::optional<std::string> ws_url;  // the key's last value in the first target, if a string
    std::optional<std::size_t> error_position;
    std::string error_description;

    bool null() override { return scalar(nullptr); }
    bool boolean(bool) override { return scalar(nullptr); }
    bool number_integer(json::number_integer_t) override { return scalar(nullptr); }
    bool number_unsigned(json::number_unsigned_t) override { return scalar(nullptr); }
    bool number_float(json::number_float_t, const json::string_t&) override {
        return scalar(nullptr);
    }
    bool string(json::string_t& value) override { return scalar(&value); }
    bool binary(json::binary_t&) override { return scalar(nullptr); }

    bool start_object(std::size_t) override {
        value_starts();
        if (depth_ == 1 && root_is_array_ && elements_at_root_ == 1) {
            in_first_target_ = true;
        }
        ++depth_;
        return true;
    }
    bool key(json::string_t& name) override {
        key_is_ws_url_ = in_first_target_ && depth_ == 2 && name == WS_URL_KEY;
        return true;
    }
    bool end_object() override {
        --depth_;
        if (depth_ == 1) {
            in_first_target_ = false;
        }
        return true;
    }
    bool start_array(std::size_t) override {
        if (depth_ == 0) {
            root_is_array_ = true;
        } else {
            value_starts();
        }
        ++depth_;
        return true;
    }
    bool end_array() override {
        --depth_;
        return true;
    }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& ex) override {
        error_position = position;
        // The parser's excerpt of what it last read is raw peer bytes, possibly cut inside a
        // character: the report gets it as valid UTF-8 with its control characters escaped.
        error_description = quote_peer_text(describe(ex.what()), Layout::Escape);
        return false;
    }

  private:
    // Called for every value: counts the root array's elements and settles the key's value.
    void value_starts() {
        if (depth_ == 1 && root_is_array_) {
            ++elements_at_root_;
        }
        if (key_is_ws_url_ && depth_ == 2) {
            ws_url.reset();  // a later duplicate of the key wins, as in a parsed tree
            key_is_ws_url_ = false;
        }
    }
    bool scalar(json::string_t* text) {
        const bool is_ws_value = key_is_ws_url_ && depth_ == 2;
        value_starts();
        if (is_ws_value) {
            if (text != nullptr) {
                ws_url = std::move(*text);
            }
        }
        return true;
    }

    // nlohmann's text reads "[json.exception.parse_error.101] parse error at line 1, column 4:
    // syntax error while parsing value - ..."; keep what follows the position.
    static std::string describe(std::string_view what) {
        // Texts without a position, e.g. "[json.exception.out_of_range.406] number overflow ...",
        // lose just their bracketed tag.
        if (what.starts_with('[') && what.find("] ") != std::string_view::npos) {
            what.remove_prefix(what.find("] ") + 2);
        }
        const std::size_t column = what.find("column ");
        const std::size_t colon = what.find(": ", column == std::string_view::npos ? 0 : column);
        if (column != std::string_view::npos && colon != std::string_view::npos) {
            return std::string(what.substr(colon + 2));
        }
        return std::string(what);
    }

    std::size_t depth_ = 0;
    bool root_is_array_ = false;
    std::size_t elements_at_root_ = 0;
    bool in_first_target_ = false;
    bool key_is_ws_url_ = false;
};

}  // namespace

std::string discovery_context(std::string_view inspector_addr) {
    return "failed to read inspector targets from http://" + std::string(inspector_addr) + "/json";
}

std::string json_error_message(std::string_view body, std::size_t position,
                               std::string_view description) {
    // The failing byte is the position-th one; at the end of the input there is none, and the
    // count stops at the end.
    const std::size_t failing = position == 0 ? 0 : std::min(position, body.size() + 1) - 1;
    const std::size_t before = std::min(failing, body.size());
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < before; ++i) {
        if (body[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    const std::size_t column = failing - line_start + 1;
    return std::string(description) + " at line " + std::to_string(line) + " column " +
           std::to_string(column);
}

Result<std::string> extract_ws_target(std::string_view body) {
    FirstTargetSax sax;
    const bool parsed = nlohmann::json::sax_parse(body.begin(), body.end(), &sax,
                                                  nlohmann::json::input_format_t::json, true);
    if (!parsed) {
        return std::unexpected(
            ErrorChain::from_message(
                json_error_message(body, sax.error_position.value_or(0), sax.error_description))
                .with_context(std::string(NOT_JSON_CONTEXT)));
    }
    // The parser takes a NUL byte for the end of its input, so anything after one would pass
    // unseen; inside or before the value a NUL is already an error, so one here trails the value.
    if (const std::size_t nul = body.find('\0'); nul != std::string_view::npos) {
        return std::unexpected(
            ErrorChain::from_message(
                json_error_message(body, nul + 1,
                                   "syntax error while parsing value - unexpected "
                                   "character after the value; expected end of input"))
                .with_context(std::string(NOT_JSON_CONTEXT)));
    }
    if (!sax.ws_url) {
        return std::unexpected(
            ErrorChain::from_message(std::string(NO_WS_URL_PREFIX) + quote_peer_text(body)));
    }
    std::string_view url = *sax.ws_url;
    // The target is printed as a console line and put into a URL: a line feed would forge lines,
    // an escape would steer the terminal, and no WebSocket address contains either.
    if (const auto control = find_control_character(url)) {
        return std::unexpected(ErrorChain::from_message(
            std::string(WS_URL_KEY) + " in inspector /json contains the control character " +
            code_point_name(control->code_point) + " at byte " + std::to_string(control->offset) +
            " and cannot be a WebSocket address: " + quote_peer_text(url, Layout::Escape)));
    }
    if (url.starts_with("ws://")) {
        url.remove_prefix(5);
    } else if (url.starts_with("wss://")) {
        url.remove_prefix(6);
    }
    return std::string(url);
}

Result<std::string> discover_ws_target(const std::string& inspector_addr) {
    return discover_ws_target(inspector_addr, FetchClock::system());
}

Result<std::string> discover_ws_target(const std::string& inspector_addr, const FetchClock& clock) {
    auto body = fetch_target_list(inspector_addr, clock);
    auto target = body ? extract_ws_target(*body)
                       : Result<std::string>(std::unexpected(std::move(body.error())));
    if (!target) {
        return std::unexpected(
            std::move(target.error()).with_context(discovery_context(inspector_addr)));
    }
    return target;
}

Result<std::string> frontend_url_from(std::string_view ws_target,
                                      const std::optional<std::string>& frontend_template) {
    if (!frontend_template) {
        std::string url = "http://";
        url += DEVTOOLS_SCHEME_NAME;
        url += ".localhost/";
        url += START_PAGE;
        url += "?ws=";
        const std::size_t size = url.size() + ws_target.size() + FRONTEND_QUERY_TAIL.size();
        if (size > FRONTEND_URL_LIMIT) {
            return std::unexpected(ErrorChain::from_message(
                frontend_url_too_long_message(size) + " (the ws target is " +
                std::to_string(ws_target.size()) + " bytes)"));
        }
        url += ws_target;
        url += FRONTEND_QUERY_TAIL;
        return url;
    }
    const std::string_view text = *frontend_template;
    // The size first: a template with many placeholders times a long target would otherwise be
    // allocated before anything could refuse it.
    std::uint64_t placeholders = 0;
    for (std::size_t found = text.find(WS_PLACEHOLDER); found != std::string_view::npos;
         found = text.find(WS_PLACEHOLDER, found + WS_PLACEHOLDER.size())) {
        ++placeholders;
    }
    const std::uint64_t fixed = text.size() - placeholders * WS_PLACEHOLDER.size();
    const bool too_long =
        fixed > FRONTEND_URL_LIMIT ||
        (placeholders != 0 && ws_target.size() > (FRONTEND_URL_LIMIT - fixed) / placeholders);
    if (too_long) {
        const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
        const std::uint64_t size =
            placeholders != 0 && ws_target.size() > (max - fixed) / placeholders
                ? max
                : fixed + placeholders * ws_target.size();
        return std::unexpected(ErrorChain::from_message(
            frontend_url_too_long_message(size) + " (" + std::string(FRONTEND_ENV) + " has " +
            std::to_string(placeholders) + " \"" + std::string(WS_PLACEHOLDER) +
            "\" and the ws target is " + std::to_string(ws_target.size()) + " bytes)"));
    }
    std::string url;
    url.reserve(static_cast<std::size_t>(fixed + placeholders * ws_target.size()));
    std::size_t start = 0;
    while (true) {
        const std::size_t found = text.find(WS_PLACEHOLDER, start);
        if (found == std::string_view::npos) {
            url += text.substr(start);
            return url;
        }
        url += text.substr(start, found - start);
        url += ws_target;
        start = found + WS_PLACEHOLDER.size();
    }
}

std::string frontend_url_too_long_message(std::uint64_t size) {
    return "the front-end URL would be " + std::to_string(size) + " bytes, over the 1 MiB bound (" +
           std::to_string(FRONTEND_URL_LIMIT) + " bytes)";
}

Result<std::string> frontend_url(std::string_view ws_target) {
    return frontend_url_from(ws_target, environment_variable_utf8(FRONTEND_ENV));
}

}  // namespace quelby
