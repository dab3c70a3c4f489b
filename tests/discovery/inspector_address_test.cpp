// The address forms users paste, and which of them attach without a target list.
#include "quelby/discovery/inspector_address.h"

#include <gtest/gtest.h>

namespace quelby {
namespace {

TEST(InspectorAddressForms, ListenersAndWebSockets) {
    struct Case {
        std::string argument;
        InspectorAddress address;
    };
    const std::vector<Case> cases = {
        // The listener as before, verbatim: the fetch reports its faults as it always has.
        {"127.0.0.1:9229", ListenerAddress{"127.0.0.1:9229"}},
        {"localhost:+9229", ListenerAddress{"localhost:+9229"}},
        {"9229", ListenerAddress{"9229"}},
        {"-h", ListenerAddress{"-h"}},
        {"", ListenerAddress{""}},
        // http:// takes host:port, whatever follows.
        {"http://127.0.0.1:9229", ListenerAddress{"127.0.0.1:9229"}},
        {"http://127.0.0.1:9229/json/list", ListenerAddress{"127.0.0.1:9229"}},
        {"HTTP://[::1]:9229?x#y", ListenerAddress{"[::1]:9229"}},
        {"http://", ListenerAddress{""}},
        // The listener's own pages without a scheme.
        {"127.0.0.1:9229/", ListenerAddress{"127.0.0.1:9229"}},
        {"127.0.0.1:9229/json", ListenerAddress{"127.0.0.1:9229"}},
        {"localhost:9229/json/list", ListenerAddress{"localhost:9229"}},
        // What node prints, with or without its scheme: the target itself.
        {"ws://127.0.0.1:9229/0f2c5e4a-1b2c", WsTarget{"127.0.0.1:9229/0f2c5e4a-1b2c", false}},
        {"WS://[::1]:9229/abc", WsTarget{"[::1]:9229/abc", false}},
        {"wss://debug.example:443/a/b?c=d", WsTarget{"debug.example:443/a/b?c=d", true}},
        {"wss://debug.example/abc", WsTarget{"debug.example/abc", true}},
        {"ws://[::1]/abc", WsTarget{"[::1]/abc", false}},
        {"127.0.0.1:9229/0f2c5e4a", WsTarget{"127.0.0.1:9229/0f2c5e4a", false}},
        {"localhost:9229/json/version", WsTarget{"localhost:9229/json/version", false}},
        // The port as a plain number in the URL the front end connects to.
        {"ws://127.0.0.1:+9229/abc", WsTarget{"127.0.0.1:9229/abc", false}},
        {"127.0.0.1:+9229/abc", WsTarget{"127.0.0.1:9229/abc", false}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        const auto address = parse_inspector_address(c.argument);
        ASSERT_TRUE(address.has_value()) << format_report(address.error());
        EXPECT_EQ(*address, c.address);
    }
}

TEST(InspectorAddressForms, WebSocketAddressesThatCanNeverWorkFailAtOnce) {
    struct Case {
        std::string argument;
        std::vector<std::string> messages;
    };
    const std::string blanks = "a WebSocket address has no blanks or control characters";
    const std::vector<Case> cases = {
        {"ws://", {"invalid WebSocket address ws://", "invalid socket address"}},
        {"ws:///abc", {"invalid WebSocket address ws:///abc", "invalid socket address"}},
        {"ws://127.0.0.1:70000/x",
         {"invalid WebSocket address ws://127.0.0.1:70000/x", "invalid port value"}},
        {"wss://h:/x", {"invalid WebSocket address wss://h:/x", "invalid port value"}},
        {"9229/abc", {"invalid WebSocket address 9229/abc", "invalid socket address"}},
        {"ws://h:1/a b", {"invalid WebSocket address ws://h:1/a b", blanks}},
        {"ws://h:1/\x1b[2J", {"invalid WebSocket address ws://h:1/<U+001B>[2J", blanks}},
        {"h:1/\xC2\x9B", {"invalid WebSocket address h:1/<U+009B>", blanks}},
        {"https://127.0.0.1:9229",
         {"unsupported scheme in the inspector address https://127.0.0.1:9229",
          "the address must be HOST:PORT, http://HOST:PORT, ws://HOST:PORT/PATH or "
          "wss://HOST:PORT/PATH"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument);
        const auto address = parse_inspector_address(c.argument);
        ASSERT_FALSE(address.has_value());
        EXPECT_EQ(address.error().messages(), c.messages);
    }
}

TEST(InspectorAddressForms, DropsOnlyTheSignOfAValidPort) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"127.0.0.1:+9229", "127.0.0.1:9229"},
        {"[::1]:+1", "[::1]:1"},
        {"h:9229", "h:9229"},
        {"h:+", "h:+"},
        {"h:++1", "h:++1"},
        {"h:+70000", "h:+70000"},
        {"h", "h"},
        {"+1", "+1"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(without_port_sign(text), expected) << text;
    }
}

}  // namespace
}  // namespace quelby
