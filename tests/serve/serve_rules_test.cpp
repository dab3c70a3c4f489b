// The text rules of the --serve server: dates, entity tags, the Host check, printed addresses.
#include "quelby/serve/serve_rules.h"

#include <gtest/gtest.h>

namespace quelby::serve {
namespace {

TEST(HttpDate, FormatsAndParsesImfFixdate) {
    const std::pair<std::uint64_t, std::string_view> cases[] = {
        {0, "Thu, 01 Jan 1970 00:00:00 GMT"},         {784111777, "Sun, 06 Nov 1994 08:49:37 GMT"},
        {499162500, "Sat, 26 Oct 1985 08:15:00 GMT"},  // npm's fixed time for packed files
        {951782400, "Tue, 29 Feb 2000 00:00:00 GMT"}, {4102444799, "Thu, 31 Dec 2099 23:59:59 GMT"},
    };
    for (const auto& [seconds, text] : cases) {
        EXPECT_EQ(http_date(seconds), text);
        EXPECT_EQ(parse_http_date(text), seconds) << text;
    }
}

TEST(HttpDate, IgnoresEverythingButImfFixdate) {
    for (const std::string_view text :
         {"", "yesterday", "Sunday, 06-Nov-94 08:49:37 GMT",  // RFC 850
          "Sun Nov  6 08:49:37 1994",                         // asctime
          "Sun, 06 Nov 1994 08:49:37 UTC", "Sun, 6 Nov 1994 08:49:37 GMT",
          "Sun, 06 nov 1994 08:49:37 GMT", "Xyz, 06 Nov 1994 08:49:37 GMT",
          "Sun, 31 Feb 1994 08:49:37 GMT", "Sun, 06 Nov 1994 24:00:00 GMT",
          "Sun, 06 Nov 1994 08:60:00 GMT", "Sun, 06 Nov 1969 08:49:37 GMT",
          "Sun, 06 Nov 1994 08:49:37 GMT ", "Sun, 0x Nov 1994 08:49:37 GMT"}) {
        EXPECT_EQ(parse_http_date(text), std::nullopt) << text;
    }
}

TEST(EntityTag, IsTheQuotedHexDigestAndMatchesLikeIfNoneMatch) {
    std::array<std::uint8_t, 32> digest{};
    digest[0] = 0xAB;
    digest[31] = 0x01;
    const std::string tag = entity_tag(digest);
    EXPECT_EQ(tag, "\"ab" + std::string(60, '0') + "01\"");
    const std::pair<std::string, bool> cases[] = {
        {tag, true},
        {"W/" + tag, true},
        {"*", true},
        {" * ", true},
        {"\"x\", " + tag, true},
        {"\"x\",W/" + tag + " ,\"y\"", true},
        {"\"x\"", false},
        {"", false},
        {tag.substr(1), false},
        {"\"AB" + std::string(60, '0') + "01\"", false},  // tags compare exactly
        {"w/" + tag, false},
    };
    for (const auto& [header, matches] : cases) {
        EXPECT_EQ(if_none_match_matches(header, tag), matches) << header;
    }
}

TEST(CheckHost, AllowsAddressesLocalhostAndTheBoundNameOnly) {
    struct Case {
        std::string_view host;
        std::string_view bound_name;
        HostVerdict verdict;
    };
    const Case cases[] = {
        {"127.0.0.1", "", HostVerdict::Allowed},
        {"127.0.0.1:9230", "", HostVerdict::Allowed},
        {"127.0.0.1:", "", HostVerdict::Allowed},  // an empty port is allowed by the grammar
        {"192.168.1.20:80", "", HostVerdict::Allowed},
        {"[::1]", "", HostVerdict::Allowed},
        {"[::1]:9230", "", HostVerdict::Allowed},
        {"[2001:db8::7]:1", "", HostVerdict::Allowed},
        {"localhost", "", HostVerdict::Allowed},
        {"LOCALHOST:1234", "", HostVerdict::Allowed},
        {"devbox", "devbox", HostVerdict::Allowed},
        {"DevBox:8080", "devbox", HostVerdict::Allowed},
        {"devbox", "", HostVerdict::Forbidden},
        {"evil.example", "devbox", HostVerdict::Forbidden},
        {"localhost.evil.example", "", HostVerdict::Forbidden},
        {"localhost.", "", HostVerdict::Forbidden},
        {"127.1", "", HostVerdict::Forbidden},       // not a dotted quad: a name
        {"0x7f000001", "", HostVerdict::Forbidden},  // likewise
        {"", "", HostVerdict::Malformed},
        {":80", "", HostVerdict::Malformed},
        {"a b", "", HostVerdict::Malformed},
        {"a/b", "", HostVerdict::Malformed},
        {"user@localhost", "", HostVerdict::Malformed},
        {"localhost:80:80", "", HostVerdict::Malformed},
        {"localhost:x", "", HostVerdict::Malformed},
        {"localhost:123456", "", HostVerdict::Malformed},
        {"[::1", "", HostVerdict::Malformed},
        {"[::1]x", "", HostVerdict::Malformed},
        {"[nothex]", "", HostVerdict::Malformed},
        {"[fe80::1%25eth0]", "", HostVerdict::Malformed},
        {"::1", "", HostVerdict::Malformed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(check_host(c.host, c.bound_name), c.verdict) << c.host << " / " << c.bound_name;
    }
}

net::SocketAddress address(net::Family family, std::array<std::uint8_t, 16> bytes,
                           std::uint16_t port) {
    return {.family = family, .bytes = bytes, .port = port};
}

TEST(OriginFor, NamesTheAddressABrowserOnThisMachineOpens) {
    using net::Family;
    const std::array<std::uint8_t, 16> any{};
    std::array<std::uint8_t, 16> v6_loopback{};
    v6_loopback[15] = 1;
    const std::array<std::uint8_t, 16> v6_doc = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0,
                                                 0,    1,    0,    0,    0, 0, 0, 7};
    const std::array<std::uint8_t, 16> v6_runs = {0, 1, 0, 0, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 3};
    struct Case {
        std::string_view name;
        net::SocketAddress bound;
        std::string_view origin;
    };
    const Case cases[] = {
        {"", address(Family::V4, {127, 0, 0, 1}, 9230), "http://127.0.0.1:9230"},
        {"", address(Family::V4, {10, 1, 2, 3}, 80), "http://10.1.2.3:80"},
        {"", address(Family::V4, any, 5), "http://127.0.0.1:5"},
        {"", address(Family::V6, any, 5), "http://[::1]:5"},
        {"", address(Family::V6, v6_loopback, 9230), "http://[::1]:9230"},
        {"", address(Family::V6, v6_doc, 1), "http://[2001:db8::1:0:0:7]:1"},
        {"", address(Family::V6, v6_runs, 1), "http://[1:0:0:2::3]:1"},
        {"localhost", address(Family::V4, {127, 0, 0, 1}, 4), "http://localhost:4"},
        // A name of the unspecified address (the resolver reads "0" and "0.0" as 0.0.0.0) is no
        // more openable than the address itself.
        {"0", address(Family::V4, any, 6), "http://127.0.0.1:6"},
        {"0.0", address(Family::V4, any, 6), "http://127.0.0.1:6"},
        {"anywhere", address(Family::V6, any, 7), "http://[::1]:7"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(origin_for(c.name, c.bound), c.origin);
    }
}

TEST(TargetAuthority, IsTheHostPartOfAnAbsoluteTargetOnly) {
    const std::pair<std::string_view, std::optional<std::string_view>> cases[] = {
        {"http://evil.example/js_app.html", "evil.example"},
        {"HTTP://127.0.0.1:9230", "127.0.0.1:9230"},
        {"https://[::1]:1?x=/y", "[::1]:1"},
        {"http://h#/", "h"},
        {"http://user@h/", "user@h"},
        {"http:///js_app.html", ""},
        {"x-1.y+z://h/", "h"},
        {"/js_app.html", std::nullopt},
        {"//evil.example/js_app.html", std::nullopt},  // a path of an empty first segment
        {"/x?u=http://evil.example/", std::nullopt},
        {"http:evil.example/", std::nullopt},
        {"1http://h/", std::nullopt},
        {"*", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [target, authority] : cases) {
        EXPECT_EQ(target_authority(target), authority) << target;
    }
}

TEST(FrontendTarget, IsTheStartPageWithTheTargetAndTheFixedQuery) {
    EXPECT_EQ(frontend_target({"127.0.0.1:9229/abc", false}),
              "/js_app.html?ws=127.0.0.1:9229/abc&experiments=true&v8only=true");
    EXPECT_EQ(frontend_target({"", false}), "/js_app.html?ws=&experiments=true&v8only=true");
    EXPECT_EQ(frontend_target({"h/abc", true}),
              "/js_app.html?wss=h/abc&experiments=true&v8only=true");
    EXPECT_EQ(
        frontend_target({"[::1]:9229/0f2c5e4a-1b2c", false}, "s3cret"),
        "/inspector.html?ws=[::1]:9229/0f2c5e4a-1b2c&experiments=true&v8only=true&host=s3cret");
}

// A target list may hold anything in its address: nothing in it can add or cut query parameters,
// start a fragment, or break the Location header it is sent in.
TEST(FrontendTarget, EscapesWhatWouldEndTheValueOrTheHeader) {
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"h:1/a&v8only=false", "h:1/a%26v8only=false"},
        {"h:1/a#frag", "h:1/a%23frag"},
        {"h:1/a\"b c", "h:1/a%22b%20c"},
        {"h:1/a%41", "h:1/a%2541"},
        {"h:1/a\r\nSet-Cookie: x", "h:1/a%0D%0ASet-Cookie:%20x"},
        {"h:1/\xc3\xa9", "h:1/%C3%A9"},
    };
    for (const auto& [address, escaped] : cases) {
        EXPECT_EQ(frontend_target({std::string(address), false}),
                  "/js_app.html?ws=" + std::string(escaped) + "&experiments=true&v8only=true")
            << address;
    }
}

}  // namespace
}  // namespace quelby::serve
