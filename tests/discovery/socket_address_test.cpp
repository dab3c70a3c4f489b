// The socket address text of both families, and resolution through the system (the address plan
// and IPv6 text are table cases: tests/cases/discovery/address.md).
#include "quelby/discovery/socket_address.h"

#include <gtest/gtest.h>

namespace quelby::net {
namespace {

SocketAddress v4(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d,
                 std::uint16_t port) {
    SocketAddress address;
    address.bytes = {a, b, c, d};
    address.port = port;
    return address;
}

SocketAddress v6(std::array<std::uint8_t, 16> bytes, std::uint16_t port, std::uint32_t scope = 0) {
    SocketAddress address;
    address.family = Family::V6;
    address.bytes = bytes;
    address.port = port;
    address.scope_id = scope;
    return address;
}

constexpr std::array<std::uint8_t, 16> LOOPBACK6 = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};

TEST(SocketAddressText, ShowsBothFamilies) {
    EXPECT_EQ(to_string(v4(127, 0, 0, 1, 9229)), "127.0.0.1:9229");
    EXPECT_EQ(to_string(v6(LOOPBACK6, 80, 2)), "[0:0:0:0:0:0:0:1%2]:80");
}

TEST(Resolution, LiteralNeedsNoResolverAndLocalhostResolves) {
    const auto literal = resolve_inspector_addr("[::1]:5");
    ASSERT_TRUE(literal.has_value());
    EXPECT_EQ(*literal, std::vector<SocketAddress>{v6(LOOPBACK6, 5)});

    const auto local = resolve_inspector_addr("localhost:+9229");
    ASSERT_TRUE(local.has_value()) << format_report(local.error());
    ASSERT_FALSE(local->empty());
    for (const SocketAddress& address : *local) {
        EXPECT_EQ(address.port, 9229);
    }
}

TEST(Resolution, ResolverFailureIsASystemError) {
    // ".invalid" never resolves (RFC 6761); an empty host does not either.
    for (const std::string text : {"no-such-host.invalid:80", ":80"}) {
        SCOPED_TRACE(text);
        const auto failed = resolve_inspector_addr(text);
        ASSERT_FALSE(failed.has_value());
        ASSERT_EQ(failed.error().messages().size(), 1U);
        EXPECT_NE(failed.error().messages().front().find(" (os error "), std::string::npos)
            << failed.error().messages().front();
    }
}

}  // namespace
}  // namespace quelby::net
