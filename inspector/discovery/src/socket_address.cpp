#include "quelby/discovery/socket_address.h"

#include "quelby/core/ascii_text.h"
#include "quelby/core/percent_encoding.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace quelby::net {
namespace {

constexpr std::string_view INVALID_PORT_VALUE = "invalid port value";

// Parses one hexadecimal group of one to four digits.
std::optional<std::uint16_t> parse_group(std::string_view text) {
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        const int digit = ascii_hex_value(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return static_cast<std::uint16_t>(value);
}

// Splits `text` at ':' into groups; an empty text gives no group.
std::vector<std::string_view> split_colons(std::string_view text) {
    std::vector<std::string_view> parts;
    if (text.empty()) {
        return parts;
    }
    std::size_t start = 0;
    while (true) {
        const std::size_t colon = text.find(':', start);
        parts.push_back(
            text.substr(start, colon == std::string_view::npos ? colon : colon - start));
        if (colon == std::string_view::npos) {
            return parts;
        }
        start = colon + 1;
    }
}

// Converts the groups of one side of "::" (or of an uncompressed address) into 16-bit words,
// letting the last group be a dotted quad when `allow_ipv4_tail`.
std::optional<std::vector<std::uint16_t>> parse_groups(const std::vector<std::string_view>& parts,
                                                       bool allow_ipv4_tail) {
    std::vector<std::uint16_t> words;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (allow_ipv4_tail && i + 1 == parts.size() &&
            parts[i].find('.') != std::string_view::npos) {
            const auto v4 = parse_ipv4(parts[i]);
            if (!v4) {
                return std::nullopt;
            }
            words.push_back(static_cast<std::uint16_t>((*v4)[0] << 8 | (*v4)[1]));
            words.push_back(static_cast<std::uint16_t>((*v4)[2] << 8 | (*v4)[3]));
            continue;
        }
        const auto group = parse_group(parts[i]);
        if (!group) {
            return std::nullopt;
        }
        words.push_back(*group);
    }
    return words;
}

}  // namespace

std::optional<std::array<std::uint8_t, 4>> parse_ipv4(std::string_view text) {
    std::array<std::uint8_t, 4> out{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t dot = i < 3 ? text.find('.', start) : text.size();
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view part = text.substr(start, dot - start);
        if (part.empty() || part.size() > 3 || (part.size() > 1 && part[0] == '0')) {
            return std::nullopt;
        }
        const auto value = parse_decimal<unsigned>(part, 255U);
        if (!value) {
            return std::nullopt;
        }
        out[i] = static_cast<std::uint8_t>(*value);
        start = dot + 1;
    }
    return out;
}

std::optional<std::array<std::uint8_t, 16>> parse_ipv6(std::string_view text) {
    std::vector<std::uint16_t> words;
    const std::size_t gap = text.find("::");
    if (gap == std::string_view::npos) {
        const auto all = parse_groups(split_colons(text), true);
        if (!all || all->size() != 8) {
            return std::nullopt;
        }
        words = *all;
    } else {
        const std::string_view left = text.substr(0, gap);
        const std::string_view right = text.substr(gap + 2);
        if (right.find("::") != std::string_view::npos) {
            return std::nullopt;
        }
        const auto head = parse_groups(split_colons(left), false);
        const auto tail = parse_groups(split_colons(right), true);
        // "::" stands for at least one group of zeros.
        if (!head || !tail || head->size() + tail->size() > 7) {
            return std::nullopt;
        }
        words = *head;
        words.resize(8 - tail->size(), 0);
        words.insert(words.end(), tail->begin(), tail->end());
    }
    std::array<std::uint8_t, 16> out{};
    for (std::size_t i = 0; i < 8; ++i) {
        out[2 * i] = static_cast<std::uint8_t>(words[i] >> 8);
        out[2 * i + 1] = static_cast<std::uint8_t>(words[i] & 0xFF);
    }
    return out;
}

std::optional<SocketAddress> parse_socket_address_literal(std::string_view text) {
    SocketAddress address;
    std::string_view port_text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            return std::nullopt;
        }
        std::string_view inside = text.substr(1, close - 1);
        const std::size_t percent = inside.find('%');
        if (percent != std::string_view::npos) {
            const auto scope = parse_decimal<std::uint32_t>(inside.substr(percent + 1), UINT32_MAX);
            if (!scope) {
                return std::nullopt;
            }
            address.scope_id = *scope;
            inside = inside.substr(0, percent);
        }
        const auto v6 = parse_ipv6(inside);
        if (!v6) {
            return std::nullopt;
        }
        address.family = Family::V6;
        address.bytes = *v6;
        port_text = text.substr(close + 2);
    } else {
        const std::size_t colon = text.find(':');
        if (colon == std::string_view::npos) {
            return std::nullopt;
        }
        const auto v4 = parse_ipv4(text.substr(0, colon));
        if (!v4) {
            return std::nullopt;
        }
        address.family = Family::V4;
        std::copy(v4->begin(), v4->end(), address.bytes.begin());
        port_text = text.substr(colon + 1);
    }
    const auto port = parse_decimal<std::uint16_t>(port_text, UINT16_MAX);
    if (!port) {
        return std::nullopt;
    }
    address.port = *port;
    return address;
}

std::optional<std::uint16_t> parse_port(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    return parse_decimal<std::uint16_t>(text, UINT16_MAX);
}

Result<AddressPlan> plan_address(std::string_view inspector_addr) {
    if (auto literal = parse_socket_address_literal(inspector_addr)) {
        return *literal;
    }
    const std::size_t colon = inspector_addr.rfind(':');
    if (colon == std::string_view::npos) {
        return std::unexpected(ErrorChain::from_message(std::string(INVALID_SOCKET_ADDRESS)));
    }
    const auto port = parse_port(inspector_addr.substr(colon + 1));
    if (!port) {
        return std::unexpected(ErrorChain::from_message(std::string(INVALID_PORT_VALUE)));
    }
    return HostAndPort{std::string(inspector_addr.substr(0, colon)), *port};
}

Result<std::vector<SocketAddress>> resolve_inspector_addr(std::string_view inspector_addr) {
    auto plan = plan_address(inspector_addr);
    if (!plan) {
        return std::unexpected(std::move(plan.error()));
    }
    if (const auto* literal = std::get_if<SocketAddress>(&*plan)) {
        return std::vector<SocketAddress>{*literal};
    }
    const auto& host = std::get<HostAndPort>(*plan);
    return resolve_host(host.host, host.port);
}

SocketAddress loopback_if_unspecified(SocketAddress address) {
    if (std::ranges::all_of(address.bytes, [](std::uint8_t byte) { return byte == 0; })) {
        if (address.family == Family::V4) {
            address.bytes[0] = 127;
            address.bytes[3] = 1;
        } else {
            address.bytes[15] = 1;
        }
    }
    return address;
}

std::string ipv6_full_text(const std::array<std::uint8_t, 16>& bytes) {
    std::string text;
    char group[8];
    for (std::size_t i = 0; i < 8; ++i) {
        std::snprintf(group, sizeof group, "%s%x", i == 0 ? "" : ":",
                      static_cast<unsigned>(bytes[2 * i] << 8 | bytes[2 * i + 1]));
        text += group;
    }
    return text;
}

std::string ipv6_canonical_text(const std::array<std::uint8_t, 16>& bytes) {
    std::array<unsigned, 8> groups{};
    for (std::size_t i = 0; i < 8; ++i) {
        groups[i] = (unsigned{bytes[2 * i]} << 8) | bytes[2 * i + 1];
    }
    std::size_t best_start = 8;
    std::size_t best_length = 1;
    for (std::size_t i = 0; i < 8;) {
        std::size_t length = 0;
        while (i + length < 8 && groups[i + length] == 0) {
            ++length;
        }
        if (length > best_length) {
            best_start = i;
            best_length = length;
        }
        i += length == 0 ? 1 : length;
    }
    std::string text;
    for (std::size_t i = 0; i < 8; ++i) {
        if (i == best_start) {
            text += "::";
            i += best_length - 1;
            continue;
        }
        if (!text.empty() && !text.ends_with(':')) {
            text += ':';
        }
        char group[8];
        std::snprintf(group, sizeof group, "%x", groups[i]);
        text += group;
    }
    return text;
}

std::string to_string(const SocketAddress& address) {
    char buffer[64];
    if (address.family == Family::V4) {
        std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u:%u", address.bytes[0], address.bytes[1],
                      address.bytes[2], address.bytes[3], static_cast<unsigned>(address.port));
        return buffer;
    }
    // Full, uncompressed groups: unambiguous, and all the tests need.
    std::string out = "[";
    out += ipv6_full_text(address.bytes);
    if (address.scope_id != 0) {
        out += '%';
        out += std::to_string(address.scope_id);
    }
    out += "]:";
    out += std::to_string(address.port);
    return out;
}

}  // namespace quelby::net
