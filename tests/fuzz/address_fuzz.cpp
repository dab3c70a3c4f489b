// The address literals, against the C library's inet_pton, the address plan's consistency, and
// the forms users paste as the inspector's address.
#include <arpa/inet.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <variant>

#include "fuzz_check.h"
#include "quelby/discovery/inspector_address.h"
#include "quelby/discovery/socket_address.h"
#include "reference_utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace quelby::net;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string terminated(text);  // inet_pton reads up to a NUL

    const auto v4 = parse_ipv4(text);
    std::array<std::uint8_t, 4> v4_bytes{};
    const bool v4_expected = text.find('\0') == std::string_view::npos &&
                             ::inet_pton(AF_INET, terminated.c_str(), v4_bytes.data()) == 1;
    QUELBY_FUZZ_CHECK(v4.has_value() == v4_expected);
    if (v4) {
        QUELBY_FUZZ_CHECK(*v4 == v4_bytes);
    }

    const auto v6 = parse_ipv6(text);
    std::array<std::uint8_t, 16> v6_bytes{};
    const bool v6_expected = text.find('\0') == std::string_view::npos &&
                             ::inet_pton(AF_INET6, terminated.c_str(), v6_bytes.data()) == 1;
    QUELBY_FUZZ_CHECK(v6.has_value() == v6_expected);
    if (v6) {
        QUELBY_FUZZ_CHECK(*v6 == v6_bytes);
    }

    // A literal socket address prints as text that reads back as the same address.
    if (const auto literal = parse_socket_address_literal(text)) {
        const auto again = parse_socket_address_literal(to_string(*literal));
        QUELBY_FUZZ_CHECK(again.has_value() && *again == *literal);
    }

    // The plan: a literal where the whole text is one, else the port after the last ':'.
    const auto plan = plan_address(text);
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        QUELBY_FUZZ_CHECK(!plan && plan.error().messages().front() == INVALID_SOCKET_ADDRESS);
    } else if (plan) {
        if (const auto* literal = std::get_if<SocketAddress>(&*plan)) {
            QUELBY_FUZZ_CHECK(parse_socket_address_literal(text) == *literal);
        } else {
            const auto& host = std::get<HostAndPort>(*plan);
            QUELBY_FUZZ_CHECK(parse_port(text.substr(colon + 1)) == host.port);
        }
    }

    // A WebSocket address is printed and put into a URL as it is: nothing that could break either.
    // Given again with its scheme it reads back the same. A listener named by an http:// URL is
    // its authority alone. Every report is fit for a terminal.
    const auto address = quelby::parse_inspector_address(text);
    if (!address) {
        for (const std::string& message : address.error().messages()) {
            QUELBY_FUZZ_CHECK(quelby::fuzz::fit_for_terminal(message, true));
        }
    } else if (const auto* ws = std::get_if<quelby::WsTarget>(&*address)) {
        for (const char c : ws->address) {
            const auto byte = static_cast<unsigned char>(c);
            QUELBY_FUZZ_CHECK(byte > 0x20 && byte != 0x7F);
        }
        const auto again =
            quelby::parse_inspector_address(std::string(ws->scheme()) + "://" + ws->address);
        QUELBY_FUZZ_CHECK(again.has_value() && *again == *address);
    } else if (text.size() >= 7 && (text[0] | 0x20) == 'h' && text.find("://") == 4) {
        const std::string& authority = std::get<quelby::ListenerAddress>(*address).authority;
        QUELBY_FUZZ_CHECK(authority.find_first_of("/?#") == std::string::npos);
    }
    return 0;
}
