// Socket addresses as plain portable values, and the interpretation of the inspector address
// argument: literal forms first, else host and port for the system resolver.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quelby/core/error_chain.h"

namespace quelby::net {

enum class Family : std::uint8_t { V4, V6 };

// An IPv4 or IPv6 address with a port; no platform type appears here, the socket backends convert.
struct SocketAddress {
    Family family = Family::V4;
    // Network order; IPv4 uses the first four bytes, the rest stay zero.
    std::array<std::uint8_t, 16> bytes{};
    std::uint16_t port = 0;
    std::uint32_t scope_id = 0;   // IPv6 only
    std::uint32_t flow_info = 0;  // IPv6 only

    friend bool operator==(const SocketAddress&, const SocketAddress&) = default;
};

// "1.2.3.4:80", "[::1]:80", "[fe80::1%3]:80"; for messages and tests.
std::string to_string(const SocketAddress& address);

// The unspecified address (0.0.0.0, ::) as the loopback address of its family, which is what a
// connection to it reaches; any other address unchanged.
SocketAddress loopback_if_unspecified(SocketAddress address);

inline constexpr std::string_view INVALID_SOCKET_ADDRESS = "invalid socket address";
inline constexpr std::string_view NO_ADDRESSES = "could not resolve to any addresses";

// An IPv4 dotted quad ("127.0.0.1": four decimal parts of at most three digits, no leading zero).
std::optional<std::array<std::uint8_t, 4>> parse_ipv4(std::string_view text);
// An IPv6 address in text form (RFC 4291 section 2.2: "::" compression, a dotted-quad tail).
std::optional<std::array<std::uint8_t, 16>> parse_ipv6(std::string_view text);
// An IPv6 address as text, two ways: every group in full ("0:0:0:0:0:0:0:1"), as error reports
// show peers, and the canonical form of RFC 5952 ("::1": lower-case hex without leading zeros, the
// longest run of two or more zero groups, the first of equal runs, as "::"), as URLs show it.
std::string ipv6_full_text(const std::array<std::uint8_t, 16>& bytes);
std::string ipv6_canonical_text(const std::array<std::uint8_t, 16>& bytes);

// The whole text as a literal socket address: "IPv4:port" or "[IPv6]:port" / "[IPv6%scope]:port"
// with a decimal port and a decimal scope identifier. nullopt when it is not one.
std::optional<SocketAddress> parse_socket_address_literal(std::string_view text);

// A decimal port from 0 to 65535 with at most one leading '+'.
std::optional<std::uint16_t> parse_port(std::string_view text);

// What the resolution step works from: a literal address, or a host for the resolver and a port.
struct HostAndPort {
    std::string host;
    std::uint16_t port = 0;
    friend bool operator==(const HostAndPort&, const HostAndPort&) = default;
};
using AddressPlan = std::variant<SocketAddress, HostAndPort>;

// Splits `inspector_addr` into host and port; fails with INVALID_SOCKET_ADDRESS (no
// ':') or "invalid port value". Touches no system service.
Result<AddressPlan> plan_address(std::string_view inspector_addr);

// The addresses to try: the plan, then, for a host, the system resolver (backend-specific). The
// list may be empty; the caller reports that.
Result<std::vector<SocketAddress>> resolve_inspector_addr(std::string_view inspector_addr);

// The system resolver: getaddrinfo(host, no service, {AF_UNSPEC, SOCK_STREAM, no flags}), in
// the resolver's order, IPv4 and IPv6 results only, each given `port`. Implemented per platform.
Result<std::vector<SocketAddress>> resolve_host(const std::string& host, std::uint16_t port);

}  // namespace quelby::net
