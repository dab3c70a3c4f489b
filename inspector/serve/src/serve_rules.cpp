#include "quelby/serve/serve_rules.h"

#include "serve_host_routes.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>

#include "quelby/assets/frontend_url.h"
#include "quelby/core/ascii_text.h"

namespace quelby::serve {
namespace {

constexpr std::array<std::string_view, 7> WEEKDAYS = {"Sun", "Mon", "Tue", "Wed",
                                                      "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 12> MONTHS = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// The fixed-width fields of a date and a Host's port: a handful of digits, never near the bound.
std::optional<unsigned> digits(std::string_view text) {
    return parse_decimal(text, std::numeric_limits<unsigned>::max());
}

// RFC 3986 reg-name without percent-escapes: unreserved and sub-delims.
bool is_name_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("-._~!$&'()*+,;=").find(c) != std::string_view::npos;
}
}  // namespace

std::string http_date(std::uint64_t seconds_since_epoch) {
    using namespace std::chrono;
    const sys_seconds when{seconds{static_cast<std::int64_t>(seconds_since_epoch)}};
    const sys_days day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{when - day};
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d GMT",
                  WEEKDAYS[weekday{day}.c_encoding()].data(), static_cast<unsigned>(date.day()),
                  MONTHS[static_cast<unsigned>(date.month()) - 1].data(),
                  static_cast<int>(date.year()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

std::optional<std::uint64_t> parse_http_date(std::string_view text) {
    // "Sun, 06 Nov 1994 08:49:37 GMT": every field at a fixed position.
    if (text.size() != 29 || text.substr(3, 2) != ", " || text[7] != ' ' || text[11] != ' ' ||
        text[16] != ' ' || text[19] != ':' || text[22] != ':' || text.substr(25) != " GMT") {
        return std::nullopt;
    }
    const auto weekday_it = std::ranges::find(WEEKDAYS, text.substr(0, 3));
    const auto month_it = std::ranges::find(MONTHS, text.substr(8, 3));
    const auto day = digits(text.substr(5, 2));
    const auto year = digits(text.substr(12, 4));
    const auto hour = digits(text.substr(17, 2));
    const auto minute = digits(text.substr(20, 2));
    const auto second = digits(text.substr(23, 2));
    if (weekday_it == WEEKDAYS.end() || month_it == MONTHS.end() || !day || !year || !hour ||
        !minute || !second || *hour > 23 || *minute > 59 || *second > 60 || *year < 1970) {
        return std::nullopt;
    }
    using namespace std::chrono;
    const year_month_day date{std::chrono::year{static_cast<int>(*year)},
                              month{static_cast<unsigned>(month_it - MONTHS.begin()) + 1},
                              std::chrono::day{*day}};
    if (!date.ok()) {
        return std::nullopt;
    }
    const sys_days days_since_epoch{date};
    return static_cast<std::uint64_t>(days_since_epoch.time_since_epoch().count()) * 86400 +
           *hour * 3600ULL + *minute * 60ULL + *second;
}

std::string entity_tag(const std::array<std::uint8_t, 32>& sha256) {
    constexpr std::string_view HEX = "0123456789abcdef";
    std::string tag = "\"";
    for (const std::uint8_t byte : sha256) {
        tag += HEX[byte >> 4];
        tag += HEX[byte & 0xF];
    }
    tag += '"';
    return tag;
}

bool if_none_match_matches(std::string_view header_value, std::string_view etag) {
    if (trim_blanks(header_value) == "*") {
        return true;
    }
    while (!header_value.empty()) {
        const std::size_t comma = header_value.find(',');
        std::string_view candidate = trim_blanks(header_value.substr(0, comma));
        header_value = comma == std::string_view::npos ? "" : header_value.substr(comma + 1);
        if (candidate.starts_with("W/")) {
            candidate.remove_prefix(2);
        }
        if (candidate == etag) {
            return true;
        }
    }
    return false;
}

HostVerdict check_host(std::string_view host_value, std::string_view bound_name) {
    std::string_view host = host_value;
    std::string_view port;
    if (host.starts_with('[')) {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) {
            return HostVerdict::Malformed;
        }
        port = host.substr(close + 1);
        host = host.substr(1, close - 1);
        if (!net::parse_ipv6(host)) {
            return HostVerdict::Malformed;
        }
    } else {
        const std::size_t colon = host.find(':');
        if (colon != std::string_view::npos) {
            port = host.substr(colon);
            host = host.substr(0, colon);
        }
        if (host.empty() || !std::ranges::all_of(host, is_name_char)) {
            return HostVerdict::Malformed;
        }
    }
    // port = ":" *DIGIT, at most five of them.
    if (!port.empty() &&
        (port[0] != ':' || port.size() > 6 || (port.size() > 1 && !digits(port.substr(1))))) {
        return HostVerdict::Malformed;
    }
    if (host_value.starts_with('[') || net::parse_ipv4(host) ||
        equals_ignoring_ascii_case(host, "localhost") ||
        (!bound_name.empty() && equals_ignoring_ascii_case(host, bound_name))) {
        return HostVerdict::Allowed;
    }
    return HostVerdict::Forbidden;
}

std::optional<std::string_view> target_authority(std::string_view target) {
    // scheme = ALPHA *( ALPHA / DIGIT / "+" / "-" / "." ), then "://" before the authority.
    const auto scheme_end = std::ranges::find_if_not(target, [](char c) {
        return is_ascii_alpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
    });
    const auto scheme_length = static_cast<std::size_t>(scheme_end - target.begin());
    if (scheme_length == 0 || !is_ascii_alpha(target[0]) ||
        !target.substr(scheme_length).starts_with("://")) {
        return std::nullopt;
    }
    const std::string_view rest = target.substr(scheme_length + 3);
    return rest.substr(0, rest.find_first_of("/?#"));
}

std::string frontend_target(const WsTarget& target, std::string_view secret) {
    // Without a secret, the embedded start document itself; with one, the page that loads the
    // embedder first.
    std::string path(SERVED_START_PATH);
    if (secret.empty()) {
        path = "/";
        path += START_DOCUMENT;
    }
    path += frontend_query(target, AddressInQuery::PercentEncoded);
    if (!secret.empty()) {
        path += "&";
        path += SECRET_PARAMETER;
        path += "=";
        path += secret;
    }
    return path;
}

std::string origin_for(std::string_view bound_name, const net::SocketAddress& bound) {
    const net::SocketAddress shown = net::loopback_if_unspecified(bound);
    // A name of the unspecified address ("0" and "0.0" are, to the resolver) is shown as that
    // address is, for the same reason.
    if (!bound_name.empty() && shown == bound) {
        return "http://" + std::string(bound_name) + ":" + std::to_string(bound.port);
    }
    if (shown.family == net::Family::V4) {
        return "http://" + net::to_string(shown);
    }
    return "http://[" + net::ipv6_canonical_text(shown.bytes) + "]:" + std::to_string(shown.port);
}

}  // namespace quelby::serve
