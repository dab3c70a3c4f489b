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

TEST(AddressPlan, FollowsTheLiteralThenSplitRules) {
    struct Case {
        std::string text;
        std::optional<AddressPlan> plan;  // nullopt: fails
        std::string error;
    };
    const std::vector<Case> cases = {
        {"127.0.0.1:9229", v4(127, 0, 0, 1, 9229), ""},
        {"0.0.0.0:0", v4(0, 0, 0, 0, 0), ""},
        {"255.255.255.255:65535", v4(255, 255, 255, 255, 65535), ""},
        {"[::1]:9229", v6(LOOPBACK6, 9229), ""},
        {"[fe80::1%3]:80", v6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 80, 3), ""},
        {"[::ffff:10.1.2.3]:1", v6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff, 10, 1, 2, 3}, 1), ""},
        // Not literal: split at the last ':' and left to the resolver.
        {"localhost:9229", HostAndPort{"localhost", 9229}, ""},
        {"127.0.0.1:+9229", HostAndPort{"127.0.0.1", 9229}, ""},
        {"127.0.0.1:009229", v4(127, 0, 0, 1, 9229), ""},
        {":9229", HostAndPort{"", 9229}, ""},
        {"::1:9229", HostAndPort{"::1", 9229}, ""},
        {"[::1]:+80", HostAndPort{"[::1]", 80}, ""},
        {"[::1%eth0]:80", HostAndPort{"[::1%eth0]", 80}, ""},
        {"01.2.3.4:80", HostAndPort{"01.2.3.4", 80}, ""},
        {"1.2.3:80", HostAndPort{"1.2.3", 80}, ""},
        {"256.1.1.1:80", HostAndPort{"256.1.1.1", 80}, ""},
        {"h\xEF\xBF\xBDst:1", HostAndPort{"h\xEF\xBF\xBDst", 1}, ""},
        // Failures.
        {"9229", std::nullopt, "invalid socket address"},
        {"", std::nullopt, "invalid socket address"},
        {"-v", std::nullopt, "invalid socket address"},
        {"127.0.0.1:70000", std::nullopt, "invalid port value"},
        {"127.0.0.1:65536", std::nullopt, "invalid port value"},
        {"127.0.0.1:", std::nullopt, "invalid port value"},
        {"127.0.0.1:+", std::nullopt, "invalid port value"},
        {"127.0.0.1:++1", std::nullopt, "invalid port value"},
        {"127.0.0.1:-1", std::nullopt, "invalid port value"},
        {"127.0.0.1: 1", std::nullopt, "invalid port value"},
        {"127.0.0.1:1 ", std::nullopt, "invalid port value"},
        {"127.0.0.1:0x10", std::nullopt, "invalid port value"},
        {"[::1]", std::nullopt, "invalid port value"},  // split at the last ':' leaves "1]"
        {"localhost:99999999999999999999", std::nullopt, "invalid port value"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto plan = plan_address(c.text);
        if (c.plan) {
            ASSERT_TRUE(plan.has_value()) << plan.error().messages().front();
            EXPECT_EQ(*plan, *c.plan);
        } else {
            ASSERT_FALSE(plan.has_value());
            EXPECT_EQ(plan.error().messages(), std::vector<std::string>{c.error});
        }
    }
}

TEST(Ipv6Text, AcceptsTheRfc4291FormsOnly) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"::", true},
        {"::1", true},
        {"1::", true},
        {"1:2:3:4:5:6:7:8", true},
        {"1:2:3:4:5:6:7::", true},
        {"::2:3:4:5:6:7:8", true},
        {"ABCD:ef01::", true},
        {"::1.2.3.4", true},
        {"1:2:3:4:5:6:1.2.3.4", true},
        {"", false},
        {":", false},
        {":::", false},
        {"1::2::3", false},
        {"1:2:3:4:5:6:7:8:9", false},
        {"1:2:3:4:5:6:7", false},
        {"12345::", false},
        {"g::", false},
        {":1::", false},
        {"1.2.3.4::", false},
        {"::1.2.3", false},
        {"1:2:3:4:5:6:7:8::", false},
    };
    for (const auto& [text, valid] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parse_ipv6(text).has_value(), valid);
    }
    EXPECT_EQ(*parse_ipv6("1:203::ff"),
              (std::array<std::uint8_t, 16>{0, 1, 2, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff}));
}

TEST(SocketAddressText, ShowsBothFamilies) {
    EXPECT_EQ(to_string(v4(127, 0, 0, 1, 9229)), "127.0.0.1:9229");
    EXPECT_EQ(to_string(v6(LOOPBACK6, 80, 2)), "[0:0:0:0:0:0:0:1%2]:80");
}

// The canonical form compresses only the longest run of two or more zero groups, the first of
// equal runs; the full form keeps every group. Each text parses back to the same bytes.
TEST(SocketAddressText, Ipv6CanonicalAndFullForms) {
    const struct {
        std::string_view text, canonical, full;
    } cases[] = {
        {"::1", "::1", "0:0:0:0:0:0:0:1"},
        {"::", "::", "0:0:0:0:0:0:0:0"},
        {"2001:DB8:0:0:1:0:0:1", "2001:db8::1:0:0:1", "2001:db8:0:0:1:0:0:1"},
        {"2001:db8:0:1:0:0:0:1", "2001:db8:0:1::1", "2001:db8:0:1:0:0:0:1"},
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},
        {"fe80::0ab:0:0", "fe80::ab:0:0", "fe80:0:0:0:0:ab:0:0"},
        {"::ffff:127.0.0.1", "::ffff:7f00:1", "0:0:0:0:0:ffff:7f00:1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto bytes = parse_ipv6(c.text);
        ASSERT_TRUE(bytes.has_value());
        EXPECT_EQ(ipv6_canonical_text(*bytes), c.canonical);
        EXPECT_EQ(ipv6_full_text(*bytes), c.full);
        EXPECT_EQ(parse_ipv6(ipv6_canonical_text(*bytes)), bytes);
    }
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
